#include "manager/app/commands.h"

#include <gtest/gtest.h>

namespace {

TEST(Commands, WordTableIsExactAndCaseSensitive) {
    const struct {
        const char* word;
        KMCCommand code;
    } cases[] = {
        {"checkupdate", CommandCheckUpdate}, {"uploadevents", CommandUploadEvents}, {"show", CommandShow},
        {"install", CommandInstall},         {"quit", CommandNone},                 {"", CommandNone},
        {"Show", CommandNone},               {"show ", CommandNone},                {"frobnicate", CommandNone},
    };
    for (const auto& c : cases)
        EXPECT_EQ(commandFromWord(c.word), c.code) << c.word;
}

TEST(Commands, ForwardedMessageJoinsWordAndKey) {
    EXPECT_EQ(forwardedMessage("show", ""), "show");
    EXPECT_EQ(forwardedMessage("install", "Servra"), "install::Servra");
    EXPECT_EQ(forwardedMessage(QString::fromUtf8("install"), QString::fromUtf8("Prodüct")), "install::Prod\xc3\xbc" "ct");
}

TEST(Commands, ParseKeepsTheFirstTwoParts) {
    const struct {
        QByteArray message;
        const char* word;
        const char* key;
    } cases[] = {
        {"show", "show", ""},
        {"install::Servra", "install", "Servra"},
        {"show::k1::k2", "show", "k1"},
        {"::k1", "", "k1"},
        {"", "", ""},
        {"install::Prod\xc3\xbc" "ct", "install", "Prodüct"},
    };
    for (const auto& c : cases) {
        const ForwardedCommand parsed = parseForwardedMessage(c.message);
        EXPECT_EQ(parsed.word, QString::fromUtf8(c.word)) << c.message.constData();
        EXPECT_EQ(parsed.productKey, QString::fromUtf8(c.key)) << c.message.constData();
    }
}

}  // namespace
