// The single-instance channel as the first instance reads it from a later start: the 24-byte
// shared block, then on a connection the init message and the forwarded command.
#include "manager/app/commands.h"
#include "manager/app/instancechannel.h"

#include <QBuffer>
#include <cstring>

namespace {

// A key of the real form (SHA-256 in Base64, "/" replaced by "_"); the dictionary holds it.
const QString kKey = QStringLiteral("q0Z8mQ2_3vYl2m1Xo7Wbq1q4mV0k8yJ6t8H2bN5cR1A=");

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size >= sizeof(instancechannel::InstanceBlock)) {
        instancechannel::InstanceBlock block;
        std::memcpy(&block, data, sizeof block);
        (void)instancechannel::isBlockConsistent(block);
    }
    QByteArray bytes(reinterpret_cast<const char*>(data), int(size));
    QBuffer connection(&bytes);
    connection.open(QIODevice::ReadOnly);
    char type = 0;
    quint32 number = 0;
    if (!instancechannel::readInitMessage(&connection, kKey, &type, &number))
        return 0;
    const ForwardedCommand command = parseForwardedMessage(connection.readAll());
    (void)commandFromWord(command.word);
    return 0;
}
