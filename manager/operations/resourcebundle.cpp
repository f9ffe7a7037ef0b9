#include "manager/operations/resourcebundle.h"

#include <QFile>
#include <QVector>
#include <QtEndian>

namespace {

// The layout written by rcc -binary: the header ("qres", version, the offsets of the tree, the
// data and the names, and from version 3 the flags), then the three blocks in any order.
constexpr int kHeaderBytes = 20;
constexpr int kVersion3HeaderBytes = 24;
// Tree nodes: name offset (4), flags (2), then a directory's child count (4) and first child (4),
// or a file's country (2), language (2) and data offset (4); from version 2 a modification time (8).
constexpr quint16 kCompressedZlib = 0x01;
constexpr quint16 kDirectory = 0x02;
constexpr quint16 kCompressedZstd = 0x04;
// Qt allocates what a compressed entry declares before it expands the entry. Deflate expands at
// most 1032:1; zstd's densest blocks (runs of one byte) hold 128 KiB in 4 bytes.
constexpr quint64 kDeflateMaxRatio = 1032;
constexpr quint64 kZstdMaxRatio = 32768;

bool refuse(QString *why, const QString &text)
{
    if (why)
        *why = text;
    return false;
}

// The content size that a zstd frame's header declares (its frame content size field), or false
// when the header is cut or declares none.
bool zstdContentSize(const uchar *frame, quint64 length, quint64 *size)
{
    if (length < 5 || qFromLittleEndian<quint32>(frame) != 0xFD2FB528u)
        return false;
    const uchar descriptor = frame[4];
    const bool singleSegment = descriptor & 0x20;
    const int sizeBytes[4] = {singleSegment ? 1 : 0, 2, 4, 8};
    const int fieldBytes = sizeBytes[descriptor >> 6];
    const int dictionaryBytes[4] = {0, 1, 2, 4};
    const quint64 at = 5 + (singleSegment ? 0 : 1) + dictionaryBytes[descriptor & 3];
    if (fieldBytes == 0 || at + fieldBytes > length)
        return false;
    quint64 value = 0;
    for (int i = fieldBytes - 1; i >= 0; --i)
        value = value << 8 | frame[at + i];
    *size = fieldBytes == 2 ? value + 256 : value;
    return true;
}

class BundleReader
{
public:
    explicit BundleReader(const QByteArray &bytes)
        : m_bytes(reinterpret_cast<const uchar *>(bytes.constData()))
        , m_size(quint64(bytes.size()))
    {
    }

    bool holds(quint64 offset, quint64 length) const { return offset <= m_size && length <= m_size - offset; }
    quint32 u32(quint64 offset) const { return qFromBigEndian<quint32>(m_bytes + offset); }
    quint16 u16(quint64 offset) const { return qFromBigEndian<quint16>(m_bytes + offset); }
    const uchar *at(quint64 offset) const { return m_bytes + offset; }
    quint64 size() const { return m_size; }

private:
    const uchar *m_bytes;
    quint64 m_size;
};

} // namespace

bool isWellFormedResourceBundle(const QByteArray &bytes, QString *why)
{
    const BundleReader in(bytes);
    if (!in.holds(0, kHeaderBytes) || !bytes.startsWith("qres"))
        return refuse(why, QStringLiteral("not a resource bundle"));
    const quint32 version = in.u32(4);
    if (version < 1 || version > 3)
        return refuse(why, QStringLiteral("resource bundle version %1").arg(version));
    if (version == 3 && !in.holds(0, kVersion3HeaderBytes))
        return refuse(why, QStringLiteral("resource bundle header cut short"));
    const quint64 tree = in.u32(8), data = in.u32(12), names = in.u32(16);
    const quint64 nodeBytes = version >= 2 ? 22 : 14;

    // Every node once, from the root: a node reached twice would make a lookup go round forever.
    const quint64 nodeCount = in.size() >= tree ? (in.size() - tree) / nodeBytes : 0;
    QVector<bool> seen(int(qMin<quint64>(nodeCount, quint64(INT_MAX))), false);
    QVector<quint32> pending{0};
    quint64 queued = 1;
    while (!pending.isEmpty()) {
        const quint32 node = pending.takeLast();
        if (node >= quint64(seen.size()))
            return refuse(why, QStringLiteral("resource bundle node %1 lies outside the file").arg(node));
        if (seen[int(node)])
            return refuse(why, QStringLiteral("resource bundle node %1 is reached twice").arg(node));
        seen[int(node)] = true;
        const quint64 at = tree + node * nodeBytes;
        const quint64 name = names + in.u32(at);
        if (node != 0 && (!in.holds(name, 6) || !in.holds(name + 6, 2 * quint64(in.u16(name)))))
            return refuse(why, QStringLiteral("resource bundle name outside the file"));
        const quint16 flags = in.u16(at + 4);
        // Qt reads the root's children whatever its flags say: it must be a folder.
        if (node == 0 && !(flags & kDirectory))
            return refuse(why, QStringLiteral("resource bundle whose root is not a folder"));
        if (flags & kDirectory) {
            const quint64 count = in.u32(at + 6), first = in.u32(at + 10);
            if (first + count > nodeCount)
                return refuse(why, QStringLiteral("resource bundle folder with children outside the file"));
            // A tree names each node once; more names than nodes mean a node is named twice.
            if ((queued += count) > nodeCount)
                return refuse(why, QStringLiteral("resource bundle names a node twice"));
            for (quint64 child = first; child < first + count; ++child)
                pending.append(quint32(child));
            continue;
        }
        const quint64 entry = data + in.u32(at + 10);
        if (!in.holds(entry, 4) || !in.holds(entry + 4, in.u32(entry)))
            return refuse(why, QStringLiteral("resource bundle data outside the file"));
        const quint64 length = in.u32(entry);
        quint64 content = 0;
        if (((flags & kCompressedZlib) && (length < 4 || in.u32(entry + 4) > kDeflateMaxRatio * length)) ||
            ((flags & kCompressedZstd) &&
             (!zstdContentSize(in.at(entry + 4), length, &content) || content > kZstdMaxRatio * length)))
            return refuse(why, QStringLiteral("resource bundle entry claims more than it can hold"));
    }
    return true;
}

bool isWellFormedResourceBundleFile(const QString &path, QString *why)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return refuse(why, QStringLiteral("cannot read %1").arg(path));
    return isWellFormedResourceBundle(file.readAll(), why);
}
