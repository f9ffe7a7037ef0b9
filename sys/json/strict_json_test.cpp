#include "sys/json/strict_json.h"

#include <QJsonArray>
#include <QJsonObject>

#include <gtest/gtest.h>

namespace {

TEST(StrictJson, FindsAKeyAnObjectHoldsTwice) {
    struct Case {
        const char* text;
        const char* duplicate;  // null: none
    } cases[] = {
        {R"({"a": 1, "b": 2})", nullptr},
        {R"({"a": 1, "a": 2})", "a"},
        {R"({"a": [1], "a": [2, 3]})", "a"},
        {R"({"P": {"x": 1, "y": {"x": 2}, "x": 3}})", "x"},
        // Equal keys in sibling or nested objects, and strings in value places, are no duplicates.
        {R"({"list": [{"id": 1}, {"id": 2}], "id": {"id": "id"}})", nullptr},
        {R"({"a": "b", "c": "b", "d": ["a", "a"]})", nullptr},
        // Keys compare after their escapes: these two are one key.
        {R"({"a": 1, "\u0061": 2})", "a"},
        {R"({"q\"": 1, "q\u0022": 2})", "q\""},
        {R"({"\u00e9": 1, "é": 2})", "é"},
        {R"({"x,y": 1, "x": {"y": 2}})", nullptr},
        // An object's keys are compared again after a nested object has closed.
        {R"({"a": {"b": 1, "c": 2}, "b": 3})", nullptr},
        {R"({"a": {"b": 1}, "c": [{"b": 2}], "a": 3})", "a"},
        {R"({"é": {"x": 1}, "\u00e9": 2})", "é"},
        // Not JSON: left to the parser.
        {R"({"a": 1, "a)", nullptr},
        {R"(}{"a":1,"a":2})", nullptr},
    };
    for (const Case& c : cases) {
        QString key;
        EXPECT_EQ(strictjson::findDuplicateKey(c.text, &key), c.duplicate != nullptr) << c.text;
        if (c.duplicate) {
            EXPECT_EQ(key, QString::fromUtf8(c.duplicate)) << c.text;
        }
    }
}

// Objects with many keys are checked as thoroughly as small ones, whichever way a key is written.
TEST(StrictJson, FindsADuplicateAmongManyKeys) {
    const auto object = [](int keys, const char* last) {
        QByteArray text = "{";
        for (int i = 0; i < keys; ++i)
            text += "\"k" + QByteArray::number(i) + "\": {\"k0\": 1}, ";
        return text + "\"" + last + "\": 0}";
    };
    struct Case {
        int keys;
        const char* last;
        const char* duplicate;  // null: none
    } cases[] = {
        {3, "k2", "k2"},         {40, "k5", "k5"},         {40, "k40", nullptr},
        {40, "\\u006b39", "k39"}, {40, "k\\u00e9", nullptr}, {200, "k0", "k0"},
    };
    for (const Case& c : cases) {
        QString key;
        const QByteArray text = object(c.keys, c.last);
        EXPECT_EQ(strictjson::findDuplicateKey(text, &key), c.duplicate != nullptr) << text.constData();
        if (c.duplicate) {
            EXPECT_EQ(key, QString::fromUtf8(c.duplicate)) << text.constData();
        }
    }
}

TEST(StrictJson, ParseRefusesDuplicatesAndReportsParseErrors) {
    QString error;
    const QJsonDocument good = strictjson::parse(R"({"Products": [{"Product": "A"}]})", &error);
    EXPECT_TRUE(error.isEmpty());
    EXPECT_EQ(good.object().value("Products").toArray().at(0).toObject().value("Product").toString(), "A");

    // The document Qt would read as {"Products": "B"} is refused whole.
    EXPECT_TRUE(strictjson::parse(R"({"Products": [{"Product": "A"}], "Products": "B"})", &error).isNull());
    EXPECT_TRUE(error.contains("\"Products\" twice")) << error.toStdString();

    EXPECT_TRUE(strictjson::parse(R"({"a": )", &error).isNull());
    EXPECT_FALSE(error.isEmpty());
    EXPECT_TRUE(strictjson::parse("", &error).isNull());
}

}  // namespace
