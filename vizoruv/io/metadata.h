// The metadata of one encoded image (EXIF with its GPS, interoperability and thumbnail blocks,
// IPTC, XMP, the comment of a JPEG (a PNG's "Description" text), a PNG's other text chunks, and a
// JPEG's JFIF density), reached through query paths in the imaging component's query language and
// kept by Exiv2. The comment and the PNG text chunks are not reached by path: they travel with
// copyFrom.
//
// Query paths: the container prefix "/app1" is optional (a JPEG's "/app1/ifd/…" and a TIFF's
// "/ifd/…" name the same item). One table (kBlockPaths in metadata.cpp) maps each block path onto
// its Exiv2 group:
//   "/ifd", "" (a TIFF's root)                Exif.Image      (IFD0)
//   "/ifd/exif", "/ifd/{ushort=34665}"       Exif.Photo      (the EXIF sub-block)
//   "/ifd/exif/interop", "…/{ushort=40965}"  Exif.Iop        (interoperability)
//   "/ifd/gps", "/ifd/{ushort=34853}"        Exif.GPSInfo
//   "/thumb"                                 Exif.Thumbnail  (IFD1)
// followed by one item "/{ushort=N}" (the tag number). Further:
//   "/xmp/prefix:name" or "/ifd/xmp/prefix:name"              Xmp.prefix.name
//   "/iptc/Name", "/app13/irb/8bimiptc/iptc/Name"           Iptc.Application2.Name (or {ushort=N})
//   "/app0/{ushort=1}"                                      the JFIF density's units (read only)
//   "/app0/{ushort=2}", "/app0/{ushort=3}"                  the JFIF X and Y density
//   "System.Photo.Orientation", "…ShutterSpeed", "…Aperture", "…ExposureBias", "…FocalLength",
//   "…LensModel"                                             named properties (kPhotoProperties)
// A block path itself answers an Object value when the block holds any item.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

enum class MetaType {
    Empty,       // no such item
    UInt8, UInt16, Int16, UInt32, Int32,
    Double,
    Rational,    // unsigned: numerator in the low 32 bits of `number`, denominator in the high ones
    SRational,   // signed: the same layout, both halves two's complement
    String,      // 8-bit text
    WideString,  // UTF-16 text
    Blob,        // bytes (EXIF "undefined" items and value lists)
    Object,      // a block of further items
};

struct MetaValue {
    MetaType type = MetaType::Empty;
    uint64_t number = 0;      // integer and rational types
    double real = 0;          // Double
    std::string text;         // String
    std::u16string wide;      // WideString
    std::vector<uint8_t> bytes;  // Blob

    static MetaValue ofUInt16(uint16_t v);
    static MetaValue ofUInt32(uint32_t v);
    static MetaValue ofRational(uint32_t numerator, uint32_t denominator);
    static MetaValue ofString(const std::string& v);
    static MetaValue ofWide(const std::u16string& v);
    static MetaValue ofBlob(const std::vector<uint8_t>& v);
    bool is(MetaType t) const { return type == t; }
};

class ImageMetadata {
public:
    ImageMetadata();
    ~ImageMetadata();
    ImageMetadata(const ImageMetadata&) = delete;
    ImageMetadata& operator=(const ImageMetadata&) = delete;

    // Reads the metadata of an encoded image. False (metadata empty, reason in `error`) when Exiv2
    // cannot parse it; formats without metadata (BMP, GIF) read as empty.
    bool read(const uint8_t* bytes, size_t size, std::string* error);
    bool empty() const;

    MetaValue query(const std::string& path) const;
    // Writes one item; false when the path names no item or the value does not fit it.
    bool set(const std::string& path, const MetaValue& value);
    // Removes an item, or every item of a block path; false when there was nothing to remove.
    bool remove(const std::string& path);

    // Copies every item of the source that belongs to the picture rather than to the file's layout:
    // EXIF (without strip, tile and format tags, the thumbnail, the ICC profile and maker-note
    // groups), GPS, IPTC, XMP, the comment, the PNG text chunks (when the source has any; they
    // reach PNG files only) and the JFIF density with its units.
    void copyFrom(const ImageMetadata& source);

    // XMP written as this packet when no XMP item is set.
    void setXmpPacket(const std::string& packet);
    // Sets the EXIF thumbnail (IFD1) to these JPEG bytes.
    void setJpegThumbnail(const std::vector<uint8_t>& jpeg);

    // The JFIF density (JPEG only); false when there is none.
    bool jfifDensity(uint16_t* x, uint16_t* y) const;

    // Writes the metadata into an encoded image of the same bytes it was read from (after
    // `read(bytes)`) or of another one; replaces `bytes`. False with a reason when Exiv2 fails.
    bool writeInto(std::vector<uint8_t>* bytes, std::string* error) const;

    // Exiv2 keys of every item, for tests and diagnostics.
    std::vector<std::string> keys() const;

private:
    MetaValue lookUp(const std::string& path) const;

    struct Store;
    std::unique_ptr<Store> store_;
};
