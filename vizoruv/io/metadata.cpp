// Query paths onto Exiv2 keys, value conversion both ways, the picture-metadata copy and writing
// back into an encoded image.
#include "vizoruv/io/metadata.h"

#include "vizoruv/io/image_geometry.h"

#include <exiv2/exiv2.hpp>
#include <zlib.h>

#include <cstring>
#include <mutex>

namespace {

// ---- The path table ----

struct BlockPath {
    const char* path;   // without the "/app1" prefix
    const char* group;  // Exiv2 EXIF group
};

// Longer paths first: the first entry that matches wins.
const BlockPath kBlockPaths[] = {
    {"/ifd/exif/interop", "Iop"},
    {"/ifd/exif/{ushort=40965}", "Iop"},
    {"/ifd/{ushort=34665}/interop", "Iop"},
    {"/ifd/{ushort=34665}/{ushort=40965}", "Iop"},
    {"/ifd/exif", "Photo"},
    {"/ifd/{ushort=34665}", "Photo"},
    {"/ifd/gps", "GPSInfo"},
    {"/ifd/{ushort=34853}", "GPSInfo"},
    {"/thumb", "Thumbnail"},
    {"/ifd", "Image"},
    {"", "Image"},  // a TIFF's root reader is its IFD0: "/{ushort=N}"
};

const char* const kXmpPrefixes[] = {"/ifd/xmp", "/xmp"};
const char* const kIptcPrefixes[] = {"/app13/irb/8bimiptc/iptc", "/ifd/iptc", "/iptc"};

struct PhotoProperty {
    const char* name;
    const char* key;
    MetaType type;  // the type the property answers in
};

const PhotoProperty kPhotoProperties[] = {
    {"System.Photo.Orientation", "Exif.Image.Orientation", MetaType::UInt16},
    {"System.Photo.ShutterSpeed", "Exif.Photo.ShutterSpeedValue", MetaType::Double},
    {"System.Photo.Aperture", "Exif.Photo.ApertureValue", MetaType::Double},
    {"System.Photo.ExposureBias", "Exif.Photo.ExposureBiasValue", MetaType::Double},
    {"System.Photo.FocalLength", "Exif.Photo.FocalLength", MetaType::Double},
    {"System.Photo.LensModel", "Exif.Photo.LensModel", MetaType::WideString},
};

// IFD0 tags that describe the file's layout, not the picture: never copied between files.
const uint16_t kLayoutTags[] = {254, 255, 256, 257, 258, 259, 262, 273, 277, 278, 279, 284, 317, 320, 322,
                                323, 324, 325, 330, 338, 339, 513, 514, 529, 530, 531, 532, 700, 33723,
                                34377, 34675};

struct Resolved {
    enum Kind { None, ExifItem, ExifBlock, XmpItem, XmpBlock, IptcItem, IptcBlock, JfifUnits, JfifX, JfifY } kind = None;
    std::string key;    // Exiv2 key of an item
    std::string group;  // EXIF group of a block
    MetaType photoType = MetaType::Empty;  // named properties: the type they answer in
};

bool startsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

// "{ushort=N}" at the start of `text`; the rest must be empty.
bool parseTag(const std::string& text, uint16_t* tag) {
    static const char kOpen[] = "{ushort=";
    if (!startsWith(text, kOpen) || text.back() != '}')
        return false;
    const std::string digits = text.substr(sizeof kOpen - 1, text.size() - sizeof kOpen);
    if (digits.empty() || digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos)
        return false;
    unsigned long value = std::stoul(digits);
    if (value > 0xFFFF)
        return false;
    *tag = uint16_t(value);
    return true;
}

Resolved resolve(std::string path) {
    Resolved r;
    for (const PhotoProperty& p : kPhotoProperties)
        if (path == p.name) {
            r.kind = Resolved::ExifItem;
            r.key = p.key;
            r.photoType = p.type;
            return r;
        }
    if (startsWith(path, "/app1/") || path == "/app1")
        path = path.substr(5);
    if (path == "/app0/{ushort=1}") {
        r.kind = Resolved::JfifUnits;
        return r;
    }
    if (path == "/app0/{ushort=2}") {
        r.kind = Resolved::JfifX;
        return r;
    }
    if (path == "/app0/{ushort=3}") {
        r.kind = Resolved::JfifY;
        return r;
    }
    for (const char* prefix : kXmpPrefixes) {
        if (path == prefix) {
            r.kind = Resolved::XmpBlock;
            return r;
        }
        if (startsWith(path, prefix) && path[std::strlen(prefix)] == '/') {
            std::string name = path.substr(std::strlen(prefix) + 1);
            size_t colon = name.find(':');
            if (colon == std::string::npos || colon == 0 || colon + 1 == name.size())
                return r;
            r.kind = Resolved::XmpItem;
            r.key = "Xmp." + name.substr(0, colon) + "." + name.substr(colon + 1);
            return r;
        }
    }
    for (const char* prefix : kIptcPrefixes) {
        if (path == prefix) {
            r.kind = Resolved::IptcBlock;
            return r;
        }
        if (startsWith(path, prefix) && path[std::strlen(prefix)] == '/') {
            std::string name = path.substr(std::strlen(prefix) + 1);
            uint16_t tag;
            try {
                r.key = parseTag(name, &tag) ? Exiv2::IptcKey(tag, Exiv2::IptcDataSets::application2).key()
                                             : Exiv2::IptcKey("Iptc.Application2." + name).key();
            } catch (const std::exception&) {
                return r;
            }
            r.kind = Resolved::IptcItem;
            return r;
        }
    }
    for (const BlockPath& block : kBlockPaths) {
        if (path == block.path) {
            r.kind = Resolved::ExifBlock;
            r.group = block.group;
            return r;
        }
        const size_t length = std::strlen(block.path);
        uint16_t tag;
        if (startsWith(path, block.path) && path.size() > length && path[length] == '/' &&
            parseTag(path.substr(length + 1), &tag)) {
            r.kind = Resolved::ExifItem;
            r.key = Exiv2::ExifKey(tag, block.group).key();
            return r;
        }
    }
    return r;
}

// ---- Values ----

// The XMP toolkit is shared by every thread that reads or writes metadata (an open image and file
// processing may run at once); it takes this lock around its work.
void lockXmpToolkit(void* mutex, bool lock) {
    if (lock)
        static_cast<std::recursive_mutex*>(mutex)->lock();
    else
        static_cast<std::recursive_mutex*>(mutex)->unlock();
}

void initialiseExiv2() {
    static std::once_flag once;
    static std::recursive_mutex xmpMutex;  // the toolkit may take it again inside its own work
    std::call_once(once, [] {
        Exiv2::XmpParser::initialize(lockXmpToolkit, &xmpMutex);
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
    });
}

std::string withoutTrailingNuls(std::string text) {
    while (!text.empty() && text.back() == '\0')
        text.pop_back();
    return text;
}

MetaValue blobOf(const Exiv2::Value& value) {
    MetaValue v;
    v.type = MetaType::Blob;
    v.bytes.resize(size_t(value.size()));
    if (!v.bytes.empty())
        value.copy(v.bytes.data(), Exiv2::littleEndian);
    return v;
}

MetaValue fromExif(const Exiv2::Exifdatum& datum) {
    const Exiv2::Value& value = datum.value();
    MetaValue v;
    const bool single = value.count() == 1;
    switch (value.typeId()) {
    case Exiv2::asciiString:
        v.type = MetaType::String;
        v.text = withoutTrailingNuls(value.toString());
        return v;
    case Exiv2::unsignedByte:
        if (!single)
            return blobOf(value);
        v.type = MetaType::UInt8;
        v.number = uint64_t(value.toLong(0));
        return v;
    case Exiv2::unsignedShort:
        if (!single)
            return blobOf(value);
        v.type = MetaType::UInt16;
        v.number = uint64_t(value.toLong(0)) & 0xFFFF;
        return v;
    case Exiv2::signedShort:
        v.type = MetaType::Int16;
        v.number = uint64_t(value.toLong(0));
        return v;
    case Exiv2::unsignedLong:
    case Exiv2::tiffIfd:
        v.type = MetaType::UInt32;
        v.number = uint64_t(uint32_t(value.toLong(0)));
        return v;
    case Exiv2::signedLong:
        v.type = MetaType::Int32;
        v.number = uint64_t(value.toLong(0));
        return v;
    case Exiv2::unsignedRational:
        if (const auto* r = dynamic_cast<const Exiv2::URationalValue*>(&value); r && !r->value_.empty()) {
            v.type = MetaType::Rational;
            v.number = uint64_t(r->value_[0].first) | (uint64_t(r->value_[0].second) << 32);
            return v;
        }
        return blobOf(value);
    case Exiv2::signedRational: {
        Exiv2::Rational r = value.toRational(0);
        v.type = MetaType::SRational;
        v.number = uint64_t(uint32_t(r.first)) | (uint64_t(uint32_t(r.second)) << 32);
        return v;
    }
    case Exiv2::tiffFloat:
    case Exiv2::tiffDouble:
        v.type = MetaType::Double;
        v.real = value.toFloat(0);
        return v;
    default:
        return blobOf(value);
    }
}

// A named property answers in its own type (APEX values and lengths as doubles, texts wide).
MetaValue asPhotoType(const Exiv2::Exifdatum& datum, MetaType type) {
    MetaValue v;
    switch (type) {
    case MetaType::UInt16:
        v = fromExif(datum);
        return v.type == MetaType::UInt16 ? v : MetaValue();
    case MetaType::Double: {
        const auto id = datum.value().typeId();
        if (id != Exiv2::unsignedRational && id != Exiv2::signedRational && id != Exiv2::tiffFloat &&
            id != Exiv2::tiffDouble)
            return v;
        Exiv2::Rational r = datum.value().toRational(0);
        if (r.second == 0 && (id == Exiv2::unsignedRational || id == Exiv2::signedRational))
            return v;
        v.type = MetaType::Double;
        v.real = id == Exiv2::tiffFloat || id == Exiv2::tiffDouble ? datum.value().toFloat(0)
                                                                      : double(r.first) / double(r.second);
        return v;
    }
    case MetaType::WideString:
        if (datum.value().typeId() != Exiv2::asciiString)
            return v;
        v.type = MetaType::WideString;
        v.wide = utf8ToWide(withoutTrailingNuls(datum.value().toString()).c_str());
        return v;
    default:
        return v;
    }
}

std::string textOf(const MetaValue& v) {
    if (v.type == MetaType::WideString)
        return wideToUtf8(v.wide);
    return v.text;
}

// The EXIF value of a MetaValue; null when the type cannot be stored in EXIF.
Exiv2::Value::AutoPtr exifValueOf(const MetaValue& v) {
    switch (v.type) {
    case MetaType::UInt8: {
        Exiv2::Value::AutoPtr value = Exiv2::Value::create(Exiv2::unsignedByte);
        value->read(std::to_string(v.number & 0xFF));
        return value;
    }
    case MetaType::UInt16: return Exiv2::Value::AutoPtr(new Exiv2::UShortValue(uint16_t(v.number)));
    case MetaType::Int16: return Exiv2::Value::AutoPtr(new Exiv2::ShortValue(int16_t(v.number)));
    case MetaType::UInt32: return Exiv2::Value::AutoPtr(new Exiv2::ULongValue(uint32_t(v.number)));
    case MetaType::Int32: return Exiv2::Value::AutoPtr(new Exiv2::LongValue(int32_t(v.number)));
    case MetaType::Rational:
        return Exiv2::Value::AutoPtr(
            new Exiv2::URationalValue(Exiv2::URational(uint32_t(v.number), uint32_t(v.number >> 32))));
    case MetaType::SRational:
        return Exiv2::Value::AutoPtr(
            new Exiv2::RationalValue(Exiv2::Rational(int32_t(v.number), int32_t(v.number >> 32))));
    case MetaType::Double:
        return Exiv2::Value::AutoPtr(new Exiv2::URationalValue(Exiv2::floatToRationalCast(float(v.real))));
    case MetaType::String:
    case MetaType::WideString: {
        // AsciiValue's read ends the text with the NUL that TIFF's ASCII type requires; its
        // constructor taking a string does not.
        Exiv2::Value::AutoPtr value(new Exiv2::AsciiValue);
        value->read(textOf(v));
        return value;
    }
    case MetaType::Blob: {
        Exiv2::Value::AutoPtr value = Exiv2::Value::create(Exiv2::undefined);
        value->read(v.bytes.data(), long(v.bytes.size()), Exiv2::littleEndian);
        return value;
    }
    default: return Exiv2::Value::AutoPtr();
    }
}

bool isLayoutItem(const Exiv2::Exifdatum& datum) {
    const std::string group = datum.groupName();
    if (group == "Thumbnail" || group == "MakerNote" || Exiv2::ExifTags::isMakerGroup(group))
        return true;
    if (group != "Image")
        return false;
    for (uint16_t tag : kLayoutTags)
        if (datum.tag() == tag)
            return true;
    return false;
}

// ---- PNG text chunks ----
// Exiv2 keeps a PNG's XMP, its EXIF and IPTC profiles and its "Description" (the comment); the other
// text chunks (title, author, copyright, ...) travel here, whole, with their CRC.

constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr size_t kPngChunkFrame = 12;  // length, type and CRC around the data

bool isPng(const uint8_t* bytes, size_t size) {
    return size >= sizeof kPngSignature && std::memcmp(bytes, kPngSignature, sizeof kPngSignature) == 0;
}

uint32_t bigEndian32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// Calls visit(chunk, whole size, type, data, data length) for each chunk up to IEND; false when a
// chunk runs past the end.
template <typename Visit>
bool walkPngChunks(const uint8_t* bytes, size_t size, Visit visit) {
    size_t offset = sizeof kPngSignature;
    while (size - offset >= kPngChunkFrame) {
        const uint8_t* chunk = bytes + offset;
        const uint32_t length = bigEndian32(chunk);
        if (length > size - offset - kPngChunkFrame)
            return false;
        visit(chunk, length + kPngChunkFrame, chunk + 4, chunk + 8, length);
        if (std::memcmp(chunk + 4, "IEND", 4) == 0)
            return true;
        offset += length + kPngChunkFrame;
    }
    return false;
}

// A text chunk that Exiv2 does not keep: its keyword (the data up to the first NUL) is not one of
// Exiv2's.
bool isCarriedText(const uint8_t* type, const uint8_t* data, uint32_t length) {
    if (std::memcmp(type, "tEXt", 4) != 0 && std::memcmp(type, "zTXt", 4) != 0 && std::memcmp(type, "iTXt", 4) != 0)
        return false;
    const std::string keyword(reinterpret_cast<const char*>(data),
                              strnlen(reinterpret_cast<const char*>(data), length));
    return keyword != "Description" && keyword != "XML:com.adobe.xmp" && keyword.rfind("Raw profile type ", 0) != 0;
}

bool crcMatches(const uint8_t* type, uint32_t length) {
    const uLong crc = crc32(crc32(0L, Z_NULL, 0), type, uInt(length + 4));
    return crc == bigEndian32(type + 4 + length);
}

// The carried text chunks of a PNG, in file order; chunks with a wrong CRC are left behind.
std::vector<std::vector<uint8_t>> readPngTexts(const uint8_t* bytes, size_t size) {
    std::vector<std::vector<uint8_t>> texts;
    walkPngChunks(bytes, size, [&](const uint8_t* chunk, size_t whole, const uint8_t* type, const uint8_t* data,
                                   uint32_t length) {
        if (isCarriedText(type, data, length) && crcMatches(type, length))
            texts.emplace_back(chunk, chunk + whole);
    });
    return texts;
}

// Replaces the PNG's carried text chunks by `texts`, which go before IEND. False for a PNG whose
// chunks cannot be walked (it is left as it is).
bool replacePngTexts(std::vector<uint8_t>* png, const std::vector<std::vector<uint8_t>>& texts) {
    std::vector<uint8_t> out(png->begin(), png->begin() + sizeof kPngSignature);
    const bool whole = walkPngChunks(png->data(), png->size(), [&](const uint8_t* chunk, size_t size,
                                                                   const uint8_t* type, const uint8_t* data,
                                                                   uint32_t length) {
        if (isCarriedText(type, data, length))
            return;
        if (std::memcmp(type, "IEND", 4) == 0)
            for (const std::vector<uint8_t>& text : texts)
                out.insert(out.end(), text.begin(), text.end());
        out.insert(out.end(), chunk, chunk + size);
    });
    if (!whole)
        return false;
    png->swap(out);
    return true;
}

}  // namespace

// ---- MetaValue ----

MetaValue MetaValue::ofUInt16(uint16_t v) { MetaValue m; m.type = MetaType::UInt16; m.number = v; return m; }
MetaValue MetaValue::ofUInt32(uint32_t v) { MetaValue m; m.type = MetaType::UInt32; m.number = v; return m; }
MetaValue MetaValue::ofRational(uint32_t n, uint32_t d) {
    MetaValue m;
    m.type = MetaType::Rational;
    m.number = uint64_t(n) | (uint64_t(d) << 32);
    return m;
}
MetaValue MetaValue::ofString(const std::string& v) { MetaValue m; m.type = MetaType::String; m.text = v; return m; }
MetaValue MetaValue::ofWide(const std::u16string& v) { MetaValue m; m.type = MetaType::WideString; m.wide = v; return m; }
MetaValue MetaValue::ofBlob(const std::vector<uint8_t>& v) { MetaValue m; m.type = MetaType::Blob; m.bytes = v; return m; }

// ---- ImageMetadata ----

struct ImageMetadata::Store {
    Exiv2::ExifData exif;
    Exiv2::IptcData iptc;
    Exiv2::XmpData xmp;
    std::string xmpPacket;  // written when `xmp` is empty
    bool jfif = false;
    uint8_t jfifUnits = 0;   // 0 the density is an aspect ratio only, 1 per inch, 2 per centimetre
    uint16_t jfifX = 0, jfifY = 0;
    bool jfifChanged = false;
    std::string comment;     // a JPEG's comment, a PNG's "Description" text
    std::vector<std::vector<uint8_t>> pngTexts;  // PNG text chunks that Exiv2 does not keep, whole
};

ImageMetadata::ImageMetadata() : store_(new Store) { initialiseExiv2(); }
ImageMetadata::~ImageMetadata() = default;

bool ImageMetadata::read(const uint8_t* bytes, size_t size, std::string* error) {
    store_.reset(new Store);
    // JFIF: APP0 right after SOI, "JFIF\0", version, units, X and Y density (big-endian).
    if (size >= 18 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF && bytes[3] == 0xE0 &&
        std::memcmp(bytes + 6, "JFIF\0", 5) == 0) {
        store_->jfif = true;
        store_->jfifUnits = bytes[13];
        store_->jfifX = uint16_t((bytes[14] << 8) | bytes[15]);
        store_->jfifY = uint16_t((bytes[16] << 8) | bytes[17]);
    }
    try {
        Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(bytes, long(size));
        if (!image.get())
            return true;
        image->readMetadata();
        store_->exif = image->exifData();
        store_->iptc = image->iptcData();
        store_->xmp = image->xmpData();
        store_->comment = image->comment();
        if (isPng(bytes, size))
            store_->pngTexts = readPngTexts(bytes, size);
    } catch (const std::exception& e) {
        // BMP and GIF carry nothing we read; Exiv2 refuses some of their variants.
        if (size >= 2 && ((bytes[0] == 'B' && bytes[1] == 'M') || (bytes[0] == 'G' && bytes[1] == 'I')))
            return true;
        store_.reset(new Store);
        if (error)
            *error = std::string("unreadable metadata: ") + e.what();
        return false;
    }
    return true;
}

bool ImageMetadata::empty() const {
    return store_->exif.empty() && store_->iptc.empty() && store_->xmp.empty() && !store_->jfif &&
           store_->comment.empty() && store_->pngTexts.empty();
}

MetaValue ImageMetadata::query(const std::string& path) const {
    try {
        return lookUp(path);
    } catch (const std::exception&) {
        return MetaValue();  // a key Exiv2 does not know
    }
}

MetaValue ImageMetadata::lookUp(const std::string& path) const {
    const Resolved r = resolve(path);
    MetaValue v;
    switch (r.kind) {
    case Resolved::ExifItem: {
        auto found = store_->exif.findKey(Exiv2::ExifKey(r.key));
        if (found == store_->exif.end())
            return v;
        return r.photoType != MetaType::Empty ? asPhotoType(*found, r.photoType) : fromExif(*found);
    }
    case Resolved::ExifBlock:
        for (const Exiv2::Exifdatum& datum : store_->exif)
            if (datum.groupName() == r.group) {
                v.type = MetaType::Object;
                break;
            }
        return v;
    case Resolved::XmpItem: {
        auto found = store_->xmp.findKey(Exiv2::XmpKey(r.key));
        if (found == store_->xmp.end())
            return v;
        if (found->typeId() != Exiv2::xmpText) {
            v.type = MetaType::Object;  // arrays and structures
            return v;
        }
        return MetaValue::ofWide(utf8ToWide(found->toString().c_str()));
    }
    case Resolved::XmpBlock:
        if (!store_->xmp.empty())
            v.type = MetaType::Object;
        return v;
    case Resolved::IptcItem: {
        auto found = store_->iptc.findKey(Exiv2::IptcKey(r.key));
        if (found == store_->iptc.end())
            return v;
        if (found->typeId() == Exiv2::unsignedShort)
            return MetaValue::ofUInt16(uint16_t(found->toLong(0)));
        return MetaValue::ofString(found->toString());
    }
    case Resolved::IptcBlock:
        if (!store_->iptc.empty())
            v.type = MetaType::Object;
        return v;
    case Resolved::JfifUnits:
        if (store_->jfif) {
            v.type = MetaType::UInt8;
            v.number = store_->jfifUnits;
        }
        return v;
    case Resolved::JfifX:
    case Resolved::JfifY:
        if (store_->jfif)
            v = MetaValue::ofUInt16(r.kind == Resolved::JfifX ? store_->jfifX : store_->jfifY);
        return v;
    case Resolved::None:
        return v;
    }
    return v;
}

bool ImageMetadata::set(const std::string& path, const MetaValue& value) {
    const Resolved r = resolve(path);
    try {
        switch (r.kind) {
        case Resolved::ExifItem: {
            Exiv2::Value::AutoPtr exifValue = exifValueOf(value);
            if (!exifValue.get())
                return false;
            store_->exif[r.key].setValue(exifValue.get());
            return true;
        }
        case Resolved::XmpItem:
            if (value.type != MetaType::String && value.type != MetaType::WideString)
                return false;
            store_->xmp[r.key] = textOf(value);
            return true;
        case Resolved::IptcItem:
            if (value.type == MetaType::UInt16) {
                store_->iptc[r.key] = Exiv2::UShortValue(uint16_t(value.number));
                return true;
            }
            if (value.type != MetaType::String && value.type != MetaType::WideString)
                return false;
            store_->iptc[r.key] = textOf(value);
            return true;
        case Resolved::JfifX:
        case Resolved::JfifY:
            if (value.type != MetaType::UInt16 || !store_->jfif)
                return false;
            (r.kind == Resolved::JfifX ? store_->jfifX : store_->jfifY) = uint16_t(value.number);
            store_->jfifChanged = true;
            return true;
        default:
            return false;
        }
    } catch (const std::exception&) {
        return false;  // a key Exiv2 does not know (an unregistered XMP prefix, an unknown IPTC name)
    }
}

bool ImageMetadata::remove(const std::string& path) {
    const Resolved r = resolve(path);
    bool removed = false;
    try {
        switch (r.kind) {
        case Resolved::ExifItem: {
            auto found = store_->exif.findKey(Exiv2::ExifKey(r.key));
            if (found != store_->exif.end()) {
                store_->exif.erase(found);
                removed = true;
            }
            break;
        }
        case Resolved::ExifBlock:
            for (auto it = store_->exif.begin(); it != store_->exif.end();) {
                if (it->groupName() == r.group) {
                    it = store_->exif.erase(it);
                    removed = true;
                } else {
                    ++it;
                }
            }
            break;
        case Resolved::XmpItem: {
            auto found = store_->xmp.findKey(Exiv2::XmpKey(r.key));
            if (found != store_->xmp.end()) {
                store_->xmp.erase(found);
                removed = true;
            }
            break;
        }
        case Resolved::XmpBlock:
            removed = !store_->xmp.empty();
            store_->xmp.clear();
            break;
        case Resolved::IptcItem:
            for (auto it = store_->iptc.begin(); it != store_->iptc.end();) {
                if (it->key() == r.key) {
                    it = store_->iptc.erase(it);
                    removed = true;
                } else {
                    ++it;
                }
            }
            break;
        case Resolved::IptcBlock:
            removed = !store_->iptc.empty();
            store_->iptc.clear();
            break;
        default:
            break;
        }
    } catch (const std::exception&) {
        return false;
    }
    return removed;
}

void ImageMetadata::copyFrom(const ImageMetadata& source) {
    for (const Exiv2::Exifdatum& datum : source.store_->exif) {
        if (isLayoutItem(datum))
            continue;
        auto existing = store_->exif.findKey(Exiv2::ExifKey(datum.key()));
        if (existing != store_->exif.end())
            store_->exif.erase(existing);
        store_->exif.add(datum);
    }
    if (!source.store_->iptc.empty())
        store_->iptc = source.store_->iptc;
    if (!source.store_->xmp.empty())
        store_->xmp = source.store_->xmp;
    if (!source.store_->comment.empty())
        store_->comment = source.store_->comment;
    if (!source.store_->pngTexts.empty())
        store_->pngTexts = source.store_->pngTexts;
    if (source.store_->jfif && store_->jfif) {
        store_->jfifUnits = source.store_->jfifUnits;
        store_->jfifX = source.store_->jfifX;
        store_->jfifY = source.store_->jfifY;
        store_->jfifChanged = true;
    }
}

void ImageMetadata::setXmpPacket(const std::string& packet) { store_->xmpPacket = packet; }

void ImageMetadata::setJpegThumbnail(const std::vector<uint8_t>& jpeg) {
    Exiv2::ExifThumb thumb(store_->exif);
    thumb.setJpegThumbnail(jpeg.data(), long(jpeg.size()));
}

bool ImageMetadata::jfifDensity(uint16_t* x, uint16_t* y) const {
    if (!store_->jfif)
        return false;
    *x = store_->jfifX;
    *y = store_->jfifY;
    return true;
}

bool ImageMetadata::writeInto(std::vector<uint8_t>* bytes, std::string* error) const {
    try {
        Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(bytes->data(), long(bytes->size()));
        if (!image.get())
            throw Exiv2::Error(Exiv2::kerUnsupportedImageType);
        image->readMetadata();  // keeps the image's own ICC profile for the rewrite
        image->setExifData(store_->exif);
        image->setIptcData(store_->iptc);
        if (store_->xmp.empty() && !store_->xmpPacket.empty()) {
            image->setXmpPacket(store_->xmpPacket);
            image->writeXmpFromPacket(true);
        } else {
            image->setXmpData(store_->xmp);
        }
        if (image->supportsMetadata(Exiv2::mdComment))
            image->setComment(store_->comment);
        image->writeMetadata();
        Exiv2::BasicIo& io = image->io();
        io.open();
        io.seek(0, Exiv2::BasicIo::beg);
        Exiv2::DataBuf written = io.read(long(io.size()));
        io.close();
        bytes->assign(written.pData_, written.pData_ + written.size_);
    } catch (const std::exception& e) {
        if (error)
            *error = std::string("cannot write metadata: ") + e.what();
        return false;
    }
    std::vector<uint8_t>& b = *bytes;
    if (isPng(b.data(), b.size()) && !replacePngTexts(&b, store_->pngTexts)) {
        if (error)
            *error = "cannot write metadata: the PNG's chunks run past its end";
        return false;
    }
    if (store_->jfifChanged && b.size() >= 18 && b[0] == 0xFF && b[1] == 0xD8 && b[2] == 0xFF && b[3] == 0xE0 &&
        std::memcmp(&b[6], "JFIF\0", 5) == 0) {
        b[13] = store_->jfifUnits;
        b[14] = uint8_t(store_->jfifX >> 8);
        b[15] = uint8_t(store_->jfifX);
        b[16] = uint8_t(store_->jfifY >> 8);
        b[17] = uint8_t(store_->jfifY);
    }
    return true;
}

std::vector<std::string> ImageMetadata::keys() const {
    std::vector<std::string> keys;
    for (const auto& d : store_->exif)
        keys.push_back(d.key());
    for (const auto& d : store_->iptc)
        keys.push_back(d.key());
    for (const auto& d : store_->xmp)
        keys.push_back(d.key());
    return keys;
}
