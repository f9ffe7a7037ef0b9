#include "manager/app/instancechannel.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QCryptographicHash>

#include <cstring>

namespace instancechannel {
namespace {

TEST(InstanceChannel, ChecksumTextDigitsWrapAboveNine) {
    const struct {
        quint16 crc;
        QByteArray text;
    } cases[] = {
        {0x3A07, QByteArray("\x91\x37")},
        {0xC805, QByteArray("\x1F\x35")},
        {0x0041, QByteArray("\x98")},
        {0x0005, QByteArray("\x35")},
        {0x0000, QByteArray("\x30")},
        {0x0100, QByteArray("\x31\x30")},
    };
    for (const auto& c : cases)
        EXPECT_EQ(checksumText(c.crc), c.text) << std::hex << c.crc;
}

TEST(InstanceChannel, BlockChecksumCoversTheFirstSixteenBytes) {
    InstanceBlock block;
    std::memset(&block, 0xAB, sizeof block);
    std::memset(block.reserved, 0, sizeof block.reserved);
    resetBlock(&block);
    EXPECT_EQ(block.primary, 0);
    EXPECT_EQ(block.secondaryCount, 0u);
    EXPECT_EQ(block.primaryPid, -1);
    EXPECT_EQ(block.checksum, qChecksum(reinterpret_cast<const char*>(&block), 16, Qt::ChecksumIso3309));
    EXPECT_TRUE(isBlockConsistent(block));

    block.unused[0] ^= 1;  // outside the checksum's range
    EXPECT_TRUE(isBlockConsistent(block));
    block.primaryPid = 1234;  // a writer killed before it rewrote the checksum
    EXPECT_FALSE(isBlockConsistent(block));
    sealBlock(&block);
    EXPECT_TRUE(isBlockConsistent(block));

    const auto* bytes = reinterpret_cast<const unsigned char*>(&block);
    EXPECT_EQ(bytes[8], 1234 & 0xff);  // process id at offset 8, little-endian
    EXPECT_EQ(bytes[16], block.checksum & 0xff);
}

TEST(InstanceChannel, KeyIsSha256OfTheInputsInOrder) {
    InstanceKeyInputs inputs;
    inputs.applicationName = "SolvaneManager";
    inputs.version = "";
    inputs.programPath = "/Opt/Solvane/SolvaneManager";
    inputs.perUser = true;
    inputs.userNameKnown = true;
    inputs.userName = "anna";
    const QByteArray digest =
        QCryptographicHash::hash("SingleApplicationSolvaneManager/opt/solvane/solvanemanageranna", QCryptographicHash::Sha256);
    const QString key = computeInstanceKey(inputs);
    EXPECT_EQ(key, QString::fromLatin1(digest.toBase64()).replace('/', '_'));
    EXPECT_EQ(key.size(), 44);
    EXPECT_FALSE(key.contains('/'));

    // Same inputs, same key; another path, user or name gives another key.
    EXPECT_EQ(computeInstanceKey(inputs), key);
    InstanceKeyInputs other = inputs;
    other.programPath = "/opt/solvane/SolvaneManager2";
    EXPECT_NE(computeInstanceKey(other), key);
    other = inputs;
    other.userName = "ben";
    EXPECT_NE(computeInstanceKey(other), key);
    other = inputs;
    other.userNameKnown = false;
    other.homeLocations = QStringList{"/home/anna"};
    EXPECT_EQ(computeInstanceKey(other),
              QString::fromLatin1(QCryptographicHash::hash("SingleApplicationSolvaneManager/opt/solvane/solvanemanager/home/anna",
                                                           QCryptographicHash::Sha256)
                                      .toBase64())
                  .replace('/', '_'));
    other = inputs;
    other.perUser = false;
    other.programPath = QString();
    EXPECT_EQ(computeInstanceKey(other),
              QString::fromLatin1(QCryptographicHash::hash("SingleApplicationSolvaneManager", QCryptographicHash::Sha256).toBase64())
                  .replace('/', '_'));
}

TEST(InstanceChannel, InitMessageRoundTripsAndRejectsEachBrokenPart) {
    const QString key = QString(43, 'k') + "=";
    const QByteArray good = initMessage(key, kTypeMessage, 7);
    ASSERT_EQ(good.left(44), key.toLatin1());
    EXPECT_EQ(good[44], 'R');
    quint32 number = 0;
    std::memcpy(&number, good.constData() + 45, 4);
    EXPECT_EQ(number, 7u);
    EXPECT_EQ(good.mid(49), checksumText(qChecksum(good.constData(), 49, Qt::ChecksumIso3309)));

    auto read = [&](const QByteArray& bytes, char* type, quint32* n) {
        QByteArray copy = bytes;
        QBuffer buffer(&copy);
        buffer.open(QIODevice::ReadOnly);
        return readInitMessage(&buffer, key, type, n);
    };
    char type = 0;
    ASSERT_TRUE(read(good + "payload", &type, &number));
    EXPECT_EQ(type, 'R');
    EXPECT_EQ(number, 7u);

    QByteArray wrongKey = good;
    wrongKey[0] = 'x';
    QByteArray wrongType = initMessage(key, 'X', 7);
    QByteArray wrongChecksum = good;
    wrongChecksum[wrongChecksum.size() - 1] = char(wrongChecksum[wrongChecksum.size() - 1] ^ 1);
    QByteArray tamperedNumber = good;
    tamperedNumber[45] = 8;
    for (const QByteArray& bad : {wrongKey, wrongType, wrongChecksum, tamperedNumber, good.left(46), good.left(good.size() - 1), QByteArray()})
        EXPECT_FALSE(read(bad, &type, &number)) << bad.toHex().constData();
}

}  // namespace
}  // namespace instancechannel
