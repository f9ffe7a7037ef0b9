// LUT file readers: line rules shared by the readers, the four readers, the dispatcher, and the
// identity, resampling and tetrahedral-lookup helpers.
#include "vizoruv/adjust/lut_readers.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// ---- Lines and numbers -----------------------------------------------------------------------

bool isLutSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool isBlankLine(const char* line)
{
    for (; *line; ++line)
        if (!isLutSpace(*line))
            return false;
    return true;
}

bool isCommentLine(const char* line)
{
    while (isLutSpace(*line))
        ++line;
    return *line == '#';
}

bool startsWith(const char* line, const char* prefix)
{
    return std::strncmp(line, prefix, std::strlen(prefix)) == 0;
}

// Reads values the way "%f %f ..." or "%d %d ..." would: whitespace before each number, the
// longest number that parses, and a count of the numbers read before the first failure. Parsing
// does not depend on the C locale, so a decimal comma setting cannot break the files.
template <typename T>
int scanNumbers(const char* text, T* values, int wanted)
{
    const char* end = text + std::strlen(text);
    int count = 0;
    while (count < wanted) {
        while (text < end && isLutSpace(*text))
            ++text;
        if (text < end && *text == '+')
            ++text;
        std::from_chars_result result{};
        if constexpr (std::is_floating_point_v<T>)
            result = std::from_chars(text, end, values[count], std::chars_format::general);
        else
            result = std::from_chars(text, end, values[count]);
        if (result.ec != std::errc() || result.ptr == text)
            break;
        text = result.ptr;
        ++count;
    }
    return count;
}

class LineReader {
public:
    explicit LineReader(std::FILE* file) : file_(file)
    {
        if (std::fseek(file, 0, SEEK_END) == 0)
            fileBytes_ = std::max(0L, std::ftell(file));
        std::rewind(file);
    }

    // Bytes of the whole file.
    long fileBytes() const { return fileBytes_; }

    // The next read (at most kLutLineBytes - 1 characters), or false at the end of the file.
    bool next() { return std::fgets(line_, sizeof line_, file_) != nullptr; }

    // Reads until a line that is neither blank nor a comment; false at the end of the file.
    bool nextSignificant()
    {
        while (next())
            if (!isBlankLine(line_) && !isCommentLine(line_))
                return true;
        return false;
    }

    const char* line() const { return line_; }

private:
    std::FILE* file_;
    long fileBytes_ = 0;
    char line_[kLutLineBytes] = {};
};

// ---- The grid a reader fills -----------------------------------------------------------------

// A 16-point file goes straight into the store; other sizes into a temporary n^3 table that is
// resampled once the data are complete.
// Every entry of a file is a line of at least three one-digit numbers ("0 0 0" and its line end).
constexpr long long kLutShortestEntryBytes = 6;

class GridTarget {
public:
    // The grid a file declares; a file too short for its entries is refused before the table is
    // allocated, so a size line cannot make a small file ask for a large block.
    int begin(Lut3D* lut, int n, const LineReader& reader)
    {
        if (n < 2 || n > kLutMaxFileGrid)
            return kLutInvalidArgument;
        if (static_cast<long long>(n) * n * n * kLutShortestEntryBytes > reader.fileBytes() + 1)
            return kLutInvalidData;
        lut_ = lut;
        n_ = n;
        lut->gridSize = n;
        if (n == kLutGrid)
            temp_.clear();
        else
            temp_.assign(static_cast<std::size_t>(n) * n * n * 3, 0.0f);
        return kLutOk;
    }

    int size() const { return n_; }
    std::size_t entries() const { return static_cast<std::size_t>(n_) * n_ * n_; }

    float* at(int r, int g, int b)
    {
        if (temp_.empty())
            return lut_->store[r][g][b];
        return &temp_[((static_cast<std::size_t>(r) * n_ + g) * n_ + b) * 3];
    }
    // The m-th line of a file whose fastest index is red.
    float* redFastest(std::size_t m) { return at(int(m % n_), int((m / n_) % n_), int(m / (std::size_t(n_) * n_))); }
    // The m-th line of a file whose fastest index is blue.
    float* blueFastest(std::size_t m) { return at(int(m / (std::size_t(n_) * n_)), int((m / n_) % n_), int(m % n_)); }

    void finish()
    {
        if (!temp_.empty())
            resampleLutTo16(lut_, temp_.data(), n_);
        temp_.clear();
    }

private:
    Lut3D* lut_ = nullptr;
    int n_ = 0;
    std::vector<float> temp_;
};

// n^3 significant lines of three floats, in the order that `place` gives.
template <typename Place>
int readFloatTriples(LineReader& reader, GridTarget& grid, bool firstLineRead, Place place)
{
    for (std::size_t m = 0; m < grid.entries(); ++m) {
        if (!(m == 0 && firstLineRead) && !reader.nextSignificant())
            return kLutInvalidData;
        float* entry = place(grid, m);
        // "nan" and "inf" parse as numbers, but no colour is made of them.
        if (scanNumbers(reader.line(), entry, 3) != 3 || !std::isfinite(entry[0]) || !std::isfinite(entry[1]) ||
            !std::isfinite(entry[2]))
            return kLutInvalidData;
    }
    grid.finish();
    return kLutOk;
}

float* placeRedFastest(GridTarget& grid, std::size_t m) { return grid.redFastest(m); }
float* placeBlueFastest(GridTarget& grid, std::size_t m) { return grid.blueFastest(m); }

// ---- Cube reader (".cube", ".itx") -----------------------------------------------------------

// Header lines between the size line and the data: the line after the size line either is the
// first data line or opens a header that runs to the first blank or comment line. Within it a
// "DOMAIN_" line must be a well-formed MIN or MAX line; its values do not change the table.
int readCubeHeader(LineReader& reader, bool* firstDataRead)
{
    float values[3];
    if (!reader.nextSignificant())
        return kLutInvalidData;
    if (scanNumbers(reader.line(), values, 3) == 3) {
        *firstDataRead = true;
        return kLutOk;
    }
    *firstDataRead = false;
    while (reader.next()) {
        const char* line = reader.line();
        if (isBlankLine(line) || isCommentLine(line))
            return kLutOk;
        if (startsWith(line, "DOMAIN_")) {
            line += 7;
            if (!startsWith(line, "MIN ") && !startsWith(line, "MAX "))
                return kLutInvalidData;
            if (scanNumbers(line + 4, values, 3) != 3)
                return kLutInvalidData;
        }
    }
    return kLutInvalidData;
}

int readCube(LineReader& reader, Lut3D* lut)
{
    GridTarget grid;
    // A file may hold further tables; each one is read over the one before.
    while (reader.next()) {
        if (!startsWith(reader.line(), "LUT_3D_SIZE "))
            continue;
        int n = 0;
        if (scanNumbers(reader.line() + 12, &n, 1) != 1)
            return kLutInvalidData;
        if (int result = grid.begin(lut, n, reader); result != kLutOk)
            return result;
        bool firstDataRead = false;
        if (int result = readCubeHeader(reader, &firstDataRead); result != kLutOk)
            return result;
        if (int result = readFloatTriples(reader, grid, firstDataRead, placeRedFastest); result != kLutOk)
            return result;
    }
    return kLutOk;
}

// ---- Dat reader (".dat", ".davlut") ----------------------------------------------------------

int readDat(LineReader& reader, Lut3D* lut)
{
    if (!reader.nextSignificant())
        return kLutInvalidData;
    int n = 33;
    bool firstDataRead = true;
    if (startsWith(reader.line(), "3DLUTSIZE ")) {
        if (scanNumbers(reader.line() + 10, &n, 1) != 1)
            return kLutInvalidData;
        firstDataRead = false;
    }
    GridTarget grid;
    if (int result = grid.begin(lut, n, reader); result != kLutOk)
        return result;
    return readFloatTriples(reader, grid, firstDataRead, placeBlueFastest);
}

// ---- 3dl reader (".3dl") ---------------------------------------------------------------------

// Spaces of a line without its trailing whitespace, and the start of its last word.
int countInnerSpaces(const char* line, const char** lastWord)
{
    std::size_t length = std::strlen(line);
    while (length > 0 && isLutSpace(line[length - 1]))
        --length;
    int spaces = 0;
    *lastWord = line;
    for (std::size_t i = 0; i < length; ++i)
        if (line[i] == ' ') {
            ++spaces;
            *lastWord = line + i + 1;
        }
    return spaces;
}

int read3dl(LineReader& reader, Lut3D* lut)
{
    int size = 17;
    float scale = 1.0f / 4096.0f;
    if (!reader.nextSignificant())
        return kLutInvalidData;
    for (;;) {
        int values[4];
        if (scanNumbers(reader.line(), values, 4) == 3)
            break; // the first data line
        const char* lastWord = nullptr;
        if (startsWith(reader.line(), "Mesh")) {
            int mesh[2];
            if (std::strlen(reader.line()) > 5 && scanNumbers(reader.line() + 5, mesh, 2) == 2)
                scale = 1.0f / static_cast<float>(1u << (static_cast<unsigned>(mesh[1]) % 32u));
        } else if (int spaces = countInnerSpaces(reader.line(), &lastWord); spaces > 6) {
            // A shaper line: one input level per entry; its last level gives the output range.
            size = spaces + 1;
            int top = 0;
            if (scanNumbers(lastWord, &top, 1) == 1 && top > 4096)
                scale = 1.0f / static_cast<float>(top);
        }
        if (!reader.next())
            return kLutInvalidData;
        if (isBlankLine(reader.line()) || isCommentLine(reader.line())) {
            if (!reader.nextSignificant())
                return kLutInvalidData;
            break;
        }
    }
    GridTarget grid;
    if (int result = grid.begin(lut, size, reader); result != kLutOk)
        return result;
    for (std::size_t m = 0; m < grid.entries(); ++m) {
        if (m > 0 && !reader.nextSignificant())
            return kLutInvalidData;
        int values[3];
        if (scanNumbers(reader.line(), values, 3) != 3)
            return kLutInvalidData;
        float* entry = grid.blueFastest(m);
        for (int c = 0; c < 3; ++c)
            entry[c] = static_cast<float>(values[c]) * scale;
    }
    grid.finish();
    return kLutOk;
}

// ---- M3d reader (".m3d", ".mga") -------------------------------------------------------------

// Column of each output channel from the three words after "values".
void readValueColumns(const char* words, int map[3])
{
    char first[64] = {}, second[64] = {}, third[64] = {};
    const int count = std::sscanf(words, "%63s %63s %63s", first, second, third);
    if (count >= 1)
        map[0] = first[0] == 'b' ? 2 : first[0] == 'g' ? 1 : 0;
    if (count >= 2)
        map[1] = second[0] == 'b' ? 2 : second[0] == 'r' ? 0 : 1;
    if (count >= 3)
        map[2] = third[0] == 'b' ? 2 : third[0] == 'g' ? 1 : third[0] == 'r' ? 0 : 2;
}

int readM3d(LineReader& reader, Lut3D* lut)
{
    int inputCount = -1;
    int outputRange = -1;
    int map[3] = {0, 1, 2};
    while (reader.next()) {
        const char* line = reader.line();
        if (startsWith(line, "in")) {
            if (scanNumbers(line + 2, &inputCount, 1) != 1)
                inputCount = -1;
        } else if (startsWith(line, "out")) {
            if (scanNumbers(line + 3, &outputRange, 1) != 1)
                outputRange = -1;
        } else if (startsWith(line, "values")) {
            readValueColumns(line + 6, map);
            break;
        }
    }
    if (inputCount <= 1 || outputRange <= 1)
        return kLutInvalidData;
    int size = 1;
    while (static_cast<long long>(size) * size * size < inputCount)
        ++size;
    GridTarget grid;
    if (int result = grid.begin(lut, size, reader); result != kLutOk)
        return result;
    const float scale = 1.0f / static_cast<float>(outputRange - 1);
    for (std::size_t m = 0; m < grid.entries(); ++m) {
        int values[5];
        if (!reader.next() || scanNumbers(reader.line(), values, 5) != 4)
            return kLutInvalidData;
        float* entry = grid.blueFastest(m);
        for (int c = 0; c < 3; ++c)
            entry[c] = static_cast<float>(values[1 + map[c]]) * scale;
    }
    grid.finish();
    return kLutOk;
}

// ---- Dispatch --------------------------------------------------------------------------------

using LutReader = int (*)(LineReader& reader, Lut3D* lut);

struct ReaderEntry {
    const char* word;
    LutReader reader;
};

constexpr ReaderEntry kReaders[] = {
    {"cube", readCube}, {"itx", readCube}, {"dat", readDat},  {"davlut", readDat},
    {"3dl", read3dl},   {"m3d", readM3d},  {"mga", readM3d},
};

LutReader readerFor(const char* word)
{
    std::string lower(word);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const ReaderEntry& entry : kReaders)
        if (lower == entry.word)
            return entry.reader;
    return nullptr;
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

} // namespace

std::unique_ptr<Lut3D> createLut3D()
{
    auto lut = std::make_unique<Lut3D>();
    std::memset(lut.get(), 0, sizeof(Lut3D));
    return lut;
}

int readLutFile(Lut3D* lut, const char* typeWord)
{
    if (!lut || !typeWord)
        return kLutInvalidArgument;
    const LutReader reader = readerFor(typeWord);
    if (!reader)
        return kLutInvalidArgument;
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(lut->path, "rb"));
    if (!file)
        return kLutInvalidData;
    LineReader lines(file.get());
    const int result = reader(lines, lut);
    if (result == kLutOk && lut->gridSize == 0)
        return kLutInvalidData;
    return result;
}

void makeIdentityLut(Lut3D* lut, int size)
{
    size = std::clamp(size, 2, kLutGrid);
    const float top = static_cast<float>(size - 1);
    for (int i = 0; i < size; ++i)
        for (int j = 0; j < size; ++j)
            for (int k = 0; k < size; ++k) {
                float* entry = lut->store[i][j][k];
                entry[0] = static_cast<float>(i) / top;
                entry[1] = static_cast<float>(j) / top;
                entry[2] = static_cast<float>(k) / top;
            }
    lut->gridSize = size;
}

void resampleLutTo16(Lut3D* lut, const float* source, int n)
{
    const float scale = static_cast<float>(n - 1) / static_cast<float>(kLutGrid - 1);
    for (int i = 0; i < kLutGrid; ++i)
        for (int j = 0; j < kLutGrid; ++j)
            for (int k = 0; k < kLutGrid; ++k)
                lookupTetrahedral(source, n, n * n, n, static_cast<float>(i) * scale,
                                  static_cast<float>(j) * scale, static_cast<float>(k) * scale,
                                  lut->store[i][j][k]);
    lut->gridSize = kLutGrid;
}
