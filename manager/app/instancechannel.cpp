// Instance key, shared block and init message of the single-instance channel.
#include "manager/app/instancechannel.h"

#include "sys/winuser/winuser.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QStandardPaths>

#include <cstring>

namespace instancechannel {

quint16 blockChecksum(const InstanceBlock& block) {
    return qChecksum(reinterpret_cast<const char*>(&block), kChecksummedBytes, Qt::ChecksumIso3309);
}

bool isBlockConsistent(const InstanceBlock& block) { return block.checksum == blockChecksum(block); }

void sealBlock(InstanceBlock* block) { block->checksum = blockChecksum(*block); }

void resetBlock(InstanceBlock* block) {
    block->primary = 0;
    block->secondaryCount = 0;
    block->primaryPid = -1;
    sealBlock(block);
}

QByteArray checksumText(quint16 crc) {
    QByteArray digits;
    do {
        const int digit = crc % 256;
        digits.prepend(char(digit < 10 ? 48 + digit : (digit + 87) % 256));
        crc /= 256;
    } while (crc != 0);
    return digits;
}

QByteArray initMessage(const QString& key, char type, quint32 instanceNumber) {
    QByteArray message = key.toLatin1();
    message.append(type);
    message.append(reinterpret_cast<const char*>(&instanceNumber), sizeof instanceNumber);
    message.append(checksumText(qChecksum(message.constData(), uint(message.size()), Qt::ChecksumIso3309)));
    return message;
}

bool readInitMessage(QIODevice* in, const QString& key, char* type, quint32* instanceNumber) {
    const QByteArray expectedKey = key.toLatin1();
    QByteArray head = in->read(expectedKey.size());
    if (head != expectedKey)
        return false;
    const QByteArray typeByte = in->read(1);
    if (typeByte.size() != 1 || (typeByte[0] != kTypeNewInstance && typeByte[0] != kTypeSecondaryStart && typeByte[0] != kTypeMessage))
        return false;
    const QByteArray number = in->read(sizeof(quint32));
    if (number.size() != int(sizeof(quint32)))
        return false;
    head += typeByte + number;
    const QByteArray expectedChecksum = checksumText(qChecksum(head.constData(), uint(head.size()), Qt::ChecksumIso3309));
    if (in->read(expectedChecksum.size()) != expectedChecksum)
        return false;
    *type = typeByte[0];
    std::memcpy(instanceNumber, number.constData(), sizeof(quint32));
    return true;
}

QString computeInstanceKey(const InstanceKeyInputs& inputs) {
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData("SingleApplication", 17);
    hash.addData(inputs.applicationName.toUtf8());
    hash.addData(inputs.organizationName.toUtf8());
    hash.addData(inputs.organizationDomain.toUtf8());
    if (!inputs.version.isNull())
        hash.addData(inputs.version.toUtf8());
    if (!inputs.programPath.isNull())
        hash.addData(inputs.programPath.toLower().toUtf8());
    if (inputs.perUser) {
        if (inputs.userNameKnown)
            hash.addData(inputs.userName.toUtf8());
        else
            hash.addData(inputs.homeLocations.join(QString()).toUtf8());
    }
    return QString::fromLatin1(hash.result().toBase64()).replace(QLatin1Char('/'), QLatin1Char('_'));
}

InstanceKeyInputs currentKeyInputs(bool includeVersion, bool includeProgramPath, bool perUser) {
    InstanceKeyInputs inputs;
    inputs.applicationName = QCoreApplication::applicationName();
    inputs.organizationName = QCoreApplication::organizationName();
    inputs.organizationDomain = QCoreApplication::organizationDomain();
    if (includeVersion)
        inputs.version = QCoreApplication::applicationVersion().isNull() ? QString(QLatin1String("")) : QCoreApplication::applicationVersion();
    if (includeProgramPath)
        inputs.programPath = QCoreApplication::applicationFilePath();
    inputs.perUser = perUser;
    if (perUser) {
        std::string name;
        inputs.userNameKnown = winuser::userName(&name);
        inputs.userName = QString::fromStdString(name);
        if (!inputs.userNameKnown)
            inputs.homeLocations = QStandardPaths::standardLocations(QStandardPaths::HomeLocation);
    }
    return inputs;
}

}  // namespace instancechannel
