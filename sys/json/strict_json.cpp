#include "sys/json/strict_json.h"

#include <QJsonParseError>
#include <QSet>

#include <cstring>
#include <memory>
#include <vector>

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

// One key of an open object. Most keys are printable ASCII without escapes: those are compared
// where they stand in the text; any other key is decoded first.
struct Key {
    int begin = 0;     // the key's text between its quotes, [begin, end), for a plain key
    int end = 0;
    bool plain = true;
    QString decoded;   // the decoded key when it is not plain
};

bool sameKey(const char* text, const Key& a, const Key& b) {
    if (a.plain && b.plain)
        return a.end - a.begin == b.end - b.begin && std::memcmp(text + a.begin, text + b.begin, std::size_t(a.end - a.begin)) == 0;
    if (a.plain != b.plain) {
        const Key& raw = a.plain ? a : b;
        const Key& decoded = a.plain ? b : a;
        return decoded.decoded == QLatin1String(text + raw.begin, raw.end - raw.begin);
    }
    return a.decoded == b.decoded;
}

QString decodedKey(const char* text, const Key& key) {
    return key.plain ? QString::fromLatin1(text + key.begin, key.end - key.begin) : key.decoded;
}

// The bytes the scan acts on; it skips every other byte.
bool isStructural(char c) {
    switch (c) {
    case '{': case '}': case '[': case ']': case ',': case '"':
        return true;
    default:
        return false;
    }
}

// Objects with more keys than this look their keys up in a hash instead of comparing with each.
constexpr int kKeysComparedOneByOne = 16;

struct Container {
    bool object = false;
    bool expectingKey = false;              // objects: the next string is a key
    int firstKey = 0;                       // objects: their keys are keys[firstKey..] while innermost
    std::unique_ptr<QSet<QString>> hashed;  // objects with many keys: all their keys, decoded
};

}  // namespace

bool findDuplicateKey(const QByteArray& text, QString* key) {
    const char* data = text.constData();
    std::vector<Container> open;
    std::vector<Key> keys;  // the keys of the open objects, outermost first
    int at = 0;
    const int size = text.size();
    while (at < size) {
        const char c = data[at];
        switch (c) {
        case '{':
        case '[':
            open.push_back(Container{c == '{', c == '{', int(keys.size()), nullptr});
            ++at;
            break;
        case '}':
        case ']':
            if (open.empty())
                return false;
            keys.resize(std::size_t(open.back().firstKey));
            open.pop_back();
            ++at;
            break;
        case ',':
            if (!open.empty() && open.back().object)
                open.back().expectingKey = true;
            ++at;
            break;
        case '"': {
            const bool isKey = !open.empty() && open.back().object && open.back().expectingKey;
            if (!isKey) {
                // A value: skipped whole when it has no escape, else read for its escapes.
                int end = at + 1;
                while (end < size && data[end] != '"' && data[end] != '\\')
                    ++end;
                if (end < size && data[end] == '"')
                    at = end + 1;
                else if (!readString(text, &at, nullptr))
                    return false;
                break;
            }
            Key found;
            found.begin = at + 1;
            int end = found.begin;
            while (end < size && data[end] != '"' && data[end] != '\\' && data[end] >= 0x20 && data[end] < 0x7f)
                ++end;
            if (end < size && data[end] == '"') {
                found.end = end;
                at = end + 1;
            } else {
                found.plain = false;
                if (!readString(text, &at, &found.decoded))
                    return false;
            }
            Container& object = open.back();
            object.expectingKey = false;
            bool twice = false;
            if (object.hashed) {
                const QString decoded = decodedKey(data, found);
                twice = object.hashed->contains(decoded);
                object.hashed->insert(decoded);
            } else {
                for (std::size_t i = std::size_t(object.firstKey); i < keys.size() && !twice; ++i)
                    twice = sameKey(data, keys[i], found);
                keys.push_back(found);
                if (int(keys.size()) - object.firstKey > kKeysComparedOneByOne) {
                    object.hashed.reset(new QSet<QString>);
                    for (std::size_t i = std::size_t(object.firstKey); i < keys.size(); ++i)
                        object.hashed->insert(decodedKey(data, keys[i]));
                    keys.resize(std::size_t(object.firstKey));
                }
            }
            if (twice) {
                if (key)
                    *key = decodedKey(data, found);
                return true;
            }
            break;
        }
        default:
            // White space, numbers, literals and colons, up to the next byte that matters.
            ++at;
            while (at < size && !isStructural(data[at]))
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
