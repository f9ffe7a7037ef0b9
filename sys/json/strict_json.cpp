#include "sys/json/strict_json.h"

#include <QJsonParseError>
#include <QSet>
#include <QVector>

#include <cstring>

namespace strictjson {
namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Reads the string that starts at text[*at] (the opening quote) and leaves *at after its closing
// quote. The decoded text goes to *decoded when it is given. False for an unterminated string or
// a broken escape.
bool readString(const QByteArray& text, int* at, QString* decoded) {
    const int size = text.size();
    int i = *at + 1;
    QByteArray plain;  // UTF-8 bytes between escapes
    auto flush = [&] {
        if (decoded && !plain.isEmpty())
            decoded->append(QString::fromUtf8(plain));
        plain.clear();
    };
    while (i < size) {
        const char c = text[i];
        if (c == '"') {
            flush();
            *at = i + 1;
            return true;
        }
        if (c != '\\') {
            if (decoded)
                plain.append(c);
            ++i;
            continue;
        }
        if (i + 1 >= size)
            return false;
        const char escape = text[i + 1];
        i += 2;
        if (escape == 'u') {
            if (i + 4 > size)
                return false;
            int unit = 0;
            for (int k = 0; k < 4; ++k) {
                const int digit = hexValue(text[i + k]);
                if (digit < 0)
                    return false;
                unit = unit * 16 + digit;
            }
            i += 4;
            flush();
            // Surrogate halves are kept as units; a pair compares equal to its escaped twin.
            if (decoded)
                decoded->append(QChar(ushort(unit)));
            continue;
        }
        static const char kEscapes[] = "\"\\/bfnrt";
        static const char kMeanings[] = "\"\\/\b\f\n\r\t";
        const char* found = escape ? std::strchr(kEscapes, escape) : nullptr;
        if (!found)
            return false;
        if (decoded)
            plain.append(kMeanings[found - kEscapes]);
    }
    return false;
}

struct Container {
    bool object = false;
    bool expectingKey = false;  // objects: the next string is a key
    QSet<QString> keys;         // objects: the keys seen so far
};

}  // namespace

bool findDuplicateKey(const QByteArray& text, QString* key) {
    QVector<Container> open;
    int at = 0;
    const int size = text.size();
    while (at < size) {
        const char c = text[at];
        switch (c) {
        case '{':
            open.append(Container{true, true, {}});
            ++at;
            break;
        case '[':
            open.append(Container{false, false, {}});
            ++at;
            break;
        case '}':
        case ']':
            if (open.isEmpty())
                return false;
            open.removeLast();
            ++at;
            break;
        case ',':
            if (!open.isEmpty() && open.last().object)
                open.last().expectingKey = true;
            ++at;
            break;
        case '"': {
            const bool isKey = !open.isEmpty() && open.last().object && open.last().expectingKey;
            QString decoded;
            if (!readString(text, &at, isKey ? &decoded : nullptr))
                return false;
            if (isKey) {
                Container& object = open.last();
                object.expectingKey = false;
                if (object.keys.contains(decoded)) {
                    if (key)
                        *key = decoded;
                    return true;
                }
                object.keys.insert(decoded);
            }
            break;
        }
        default:
            ++at;
            break;
        }
    }
    return false;
}

QJsonDocument parse(const QByteArray& text, QString* error) {
    QString duplicate;
    if (findDuplicateKey(text, &duplicate)) {
        if (error)
            *error = QStringLiteral("an object holds the key \"%1\" twice").arg(duplicate);
        return QJsonDocument();
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(text, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        if (error)
            *error = QStringLiteral("%1 at offset %2").arg(parseError.errorString()).arg(parseError.offset);
        return QJsonDocument();
    }
    if (error)
        error->clear();
    return document;
}

}  // namespace strictjson
