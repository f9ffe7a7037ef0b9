// Wire formats of the single-instance channel: the instance key, the 24-byte shared block and
// the init message that a later instance sends first on every connection.
//
// Init message, back to back: the key (Latin-1), the type letter, the sender's instance number
// (32 bits, native byte order) and the checksum text of everything before it.
#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace instancechannel {

// The block shared by every start of one program for one user; native byte order.
struct InstanceBlock {
    quint8 primary;           // 1 while a first instance lives, else 0
    quint8 reserved[3];       // zero; inside the checksum's range
    quint32 secondaryCount;   // later instances started so far; never decreases
    qint64 primaryPid;        // process id of the first instance; -1 when there is none
    quint16 checksum;         // CRC-16 (ISO 3309) of bytes 0 to 15
    quint8 unused[6];
};
static_assert(sizeof(InstanceBlock) == 24, "the shared block is 24 bytes");

constexpr int kChecksummedBytes = 16;

// Type letters of the init message.
constexpr char kTypeNewInstance = 'N';       // a start that may not stay (secondaries not allowed)
constexpr char kTypeSecondaryStart = 'S';    // a later instance announcing its start
constexpr char kTypeMessage = 'R';           // a later instance that sends a message

quint16 blockChecksum(const InstanceBlock& block);
bool isBlockConsistent(const InstanceBlock& block);
// Rewrites the checksum after a change.
void sealBlock(InstanceBlock* block);
// No first instance, no later instances, consistent.
void resetBlock(InstanceBlock* block);

// The CRC as its base-256 digits, most significant first, no leading zero digits; a digit d
// becomes the byte 48 + d below 10, else (d + 87) modulo 256.
QByteArray checksumText(quint16 crc);

QByteArray initMessage(const QString& key, char type, quint32 instanceNumber);

// Reads and checks an init message from `in`: the key's bytes, a known type letter, the
// instance number and the matching checksum text. False when any part is wrong or short.
bool readInitMessage(QIODevice* in, const QString& key, char* type, quint32* instanceNumber);

// What the instance key is made of.
struct InstanceKeyInputs {
    QString applicationName;
    QString organizationName;
    QString organizationDomain;
    QString version;              // null: left out of the key
    QString programPath;          // null: left out of the key (lower-cased when used)
    bool perUser = false;
    bool userNameKnown = false;
    QString userName;             // used when perUser and userNameKnown
    QStringList homeLocations;    // used instead when perUser and the user name is unknown
};

// SHA-256 over "SingleApplication" and the inputs, as Base64 with "/" replaced by "_".
QString computeInstanceKey(const InstanceKeyInputs& inputs);

// The inputs of the running application: its current names, version and program path, and the
// user's name. `includeVersion`, `includeProgramPath` and `perUser` follow the options.
InstanceKeyInputs currentKeyInputs(bool includeVersion, bool includeProgramPath, bool perUser);

}  // namespace instancechannel
