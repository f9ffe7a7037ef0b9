#include "manager/operations/resourcebundle.h"

#include "tools/catalogserver/catalogserver.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>

#include <functional>

namespace {

// A real bundle of rcc: the root folder (node 0) holding "index.html" (node 1).
QByteArray pageBundle()
{
    QTemporaryDir dir;
    QString error;
    EXPECT_TRUE(CatalogFixtures::makeResourceBundle(dir.filePath("b.rcc"), {{"index.html", "<p>a page</p>"}}, &error))
        << error.toStdString();
    QFile file(dir.filePath("b.rcc"));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    return file.readAll();
}

quint32 get32(const QByteArray &bytes, int at) { return qFromBigEndian<quint32>(bytes.constData() + at); }
void put32(QByteArray *bytes, int at, quint32 value) { qToBigEndian(value, bytes->data() + at); }

TEST(ResourceBundle, ABundleOfRccIsTakenAndDamagedOnesAreRefused)
{
    const QByteArray good = pageBundle();
    ASSERT_EQ(get32(good, 4), 3u) << "the cases below patch a version 3 bundle (22-byte nodes)";
    QString why;
    EXPECT_TRUE(isWellFormedResourceBundle(good, &why)) << why.toStdString();

    const int tree = int(get32(good, 8)), data = int(get32(good, 12));
    const int root = tree, page = tree + 22;
    struct Case {
        const char *name;
        std::function<void(QByteArray *)> damage;
    } cases[] = {
        {"empty", [](QByteArray *b) { b->clear(); }},
        {"header only", [](QByteArray *b) { b->truncate(20); }},
        {"cut short", [](QByteArray *b) { b->chop(5); }},
        {"version 4", [](QByteArray *b) { put32(b, 4, 4); }},
        {"tree past the end", [](QByteArray *b) { put32(b, 8, quint32(b->size())); }},
        {"children outside the file", [&](QByteArray *b) { put32(b, root + 10, 100000); }},
        {"the root as its own child", [&](QByteArray *b) { put32(b, root + 10, 0); }},
        {"a root that is a file", [&](QByteArray *b) { (*b)[root + 5] = 0; }},
        {"name outside the file", [&](QByteArray *b) { put32(b, page, 0x7FFFFFF0); }},
        {"data outside the file", [&](QByteArray *b) { put32(b, page + 10, 0x7FFFFFF0); }},
        {"data longer than the file", [&](QByteArray *b) { put32(b, data + int(get32(good, page + 10)), 100000); }},
        {"compressed entry claiming a gigabyte",
         [&](QByteArray *b) {
             (*b)[page + 5] = char((*b)[page + 5] | 0x01);
             put32(b, data + int(get32(good, page + 10)) + 4, 1u << 30);
         }},
        {"zstd entry claiming a terabyte",
         [&](QByteArray *b) {
             (*b)[page + 5] = char((*b)[page + 5] | 0x04);
             const char frame[] = "\x28\xB5\x2F\xFD\xE0\x00\x00\x00\x00\x00\x01\x00\x00";
             b->replace(data + int(get32(good, page + 10)) + 4, 13, frame, 13);
         }},
    };
    for (const Case &c : cases) {
        QByteArray bytes = good;
        c.damage(&bytes);
        why.clear();
        EXPECT_FALSE(isWellFormedResourceBundle(bytes, &why)) << c.name;
        EXPECT_FALSE(why.isEmpty()) << c.name;
    }
}

// Found by the fuzzer: a cut bundle whose tree lies past its end. Qt registers it, and looking up
// its page then reads outside the file.
TEST(ResourceBundle, ACutBundleThatQtWouldRegisterIsRefused)
{
    const QByteArray cut = QByteArray::fromHex(
        "7172657300000003000000660000001800000030000000000000000f3c703e989a938a2031323c2f703e0a0000000178"
        "5b030000703700690000000000000000000000000c00000000000100000000000001a260bf3b63000000260000000000"
        "0100000013000001a260bf3b63");
    ASSERT_EQ(cut.size(), 109);
    EXPECT_FALSE(isWellFormedResourceBundle(cut));
}

} // namespace
