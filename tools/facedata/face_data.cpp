/*
 * The face-training sources.
 *
 * Divisions: pictures; the 68-point scheme and shapes; readers; aligning the mean face to
 * pictures without points; the sources together.
 */
#include "tools/facedata/face_data.h"

#include "tools/facedata/negatives_list.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QXmlStreamReader>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace facedata {

/* ---- pictures ---- */

namespace {

RgbImage fromQImage(const QImage &source)
{
    const QImage q = source.convertToFormat(QImage::Format_RGB888);
    RgbImage image(q.width(), q.height());
    for (int y = 0; y < q.height(); ++y)
        std::memcpy(image.pixel(0, y), q.constScanLine(y), size_t(q.width()) * 3);
    return image;
}

QImage toQImage(const RgbImage &image)
{
    QImage q(image.width, image.height, QImage::Format_RGB888);
    for (int y = 0; y < image.height; ++y)
        std::memcpy(q.scanLine(y), image.pixel(0, y), size_t(image.width) * 3);
    return q;
}

} // namespace

bool loadImage(const std::string &path, RgbImage *image, std::string *error)
{
    QImage q;
    if (!q.load(QString::fromStdString(path)) || q.isNull()) {
        if (error)
            *error = "cannot read the picture " + path;
        return false;
    }
    *image = fromQImage(q);
    return true;
}

bool saveImage(const RgbImage &image, const std::string &path, std::string *error)
{
    if (image.empty() || !toQImage(image).save(QString::fromStdString(path), nullptr, 92)) {
        if (error)
            *error = "cannot write the picture " + path;
        return false;
    }
    return true;
}

RgbImage jpegRoundTrip(const RgbImage &image, int quality)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    toQImage(image).save(&buffer, "JPG", std::clamp(quality, 1, 100));
    QImage q;
    q.loadFromData(bytes, "JPG");
    return q.isNull() ? image : fromQImage(q);
}

std::vector<uint8_t> greyOf(const RgbImage &image)
{
    std::vector<uint8_t> grey(size_t(image.width) * image.height);
    for (size_t i = 0; i < grey.size(); ++i) {
        const uint8_t *p = image.rgb.data() + i * 3;
        grey[i] = uint8_t((19595 * p[0] + 38470 * p[1] + 7471 * p[2] + 32768) >> 16);
    }
    return grey;
}

/* ---- the 68-point scheme and shapes ---- */

namespace {

/* The annotated boxes measured in the face's own frame (origin between the eyes, x along the eye
 * line towards the picture's right eye, y towards the mouth, unit = the mean of half the
 * inter-ocular distance and half the eye-mouth distance), fitted over the training faces. */
constexpr float kBoxCentreAlong = 0.0f;
constexpr float kBoxCentreDown = 0.9f;
constexpr float kBoxSide = 5.0f;
constexpr float kDetectorBoxSide = 4.2f;

} // namespace

const int *mirroredPointOrder()
{
    static const int kOrder[kPointCount] = {
        16, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0,     /* contour */
        26, 25, 24, 23, 22, 21, 20, 19, 18, 17,                       /* brows */
        27, 28, 29, 30, 35, 34, 33, 32, 31,                           /* nose */
        45, 44, 43, 42, 47, 46, 39, 38, 37, 36, 41, 40,               /* eyes */
        54, 53, 52, 51, 50, 49, 48, 59, 58, 57, 56, 55,               /* outer mouth */
        64, 63, 62, 61, 60, 67, 66, 65,                               /* inner mouth */
    };
    return kOrder;
}

Shape mirrorShape(const Shape &shape, float width)
{
    if (shape.size() != size_t(kPointCount))
        return shape;
    Shape mirrored(kPointCount);
    const int *order = mirroredPointOrder();
    for (int i = 0; i < kPointCount; ++i)
        mirrored[order[i]] = PointF{width - shape[i].x, shape[i].y};
    return mirrored;
}

namespace {

PointF meanOf(const Shape &shape, int first, int last)
{
    PointF m;
    for (int i = first; i <= last; ++i) {
        m.x += shape[i].x;
        m.y += shape[i].y;
    }
    const float n = float(last - first + 1);
    return PointF{m.x / n, m.y / n};
}

} // namespace

PointF leftEyeCentre(const Shape &shape) { return meanOf(shape, 36, 41); }
PointF rightEyeCentre(const Shape &shape) { return meanOf(shape, 42, 47); }
PointF mouthCentre(const Shape &shape) { return meanOf(shape, 48, 59); }

namespace {

/* The square about the fitted centre, sideUnits of the face's unit wide. */
BoxF boxOfSide(const Shape &shape, float sideUnits)
{
    const PointF l = leftEyeCentre(shape), r = rightEyeCentre(shape), m = mouthCentre(shape);
    const PointF e{(l.x + r.x) / 2, (l.y + r.y) / 2};
    const float iod = std::hypot(r.x - l.x, r.y - l.y);
    const float em = std::hypot(m.x - e.x, m.y - e.y);
    const float unit = (iod + em) / 4;
    const float ux = iod > 0 ? (r.x - l.x) / iod : 1, uy = iod > 0 ? (r.y - l.y) / iod : 0;
    const float cx = e.x + unit * (kBoxCentreAlong * ux - kBoxCentreDown * uy);
    const float cy = e.y + unit * (kBoxCentreAlong * uy + kBoxCentreDown * ux);
    const float side = unit * sideUnits;
    return BoxF{cx - side / 2, cy - side / 2, side, side};
}

} // namespace

BoxF boxFromShape(const Shape &shape) { return boxOfSide(shape, kBoxSide); }

BoxF detectorBoxFromShape(const Shape &shape) { return boxOfSide(shape, kDetectorBoxSide); }

Similarity Similarity::inverse() const
{
    const float d = a * a + b * b;
    Similarity i;
    i.a = a / d;
    i.b = -b / d;
    const PointF t = i.apply(PointF{tx, ty});
    i.tx = -t.x;
    i.ty = -t.y;
    return i;
}

float Similarity::scale() const { return std::sqrt(a * a + b * b); }

Similarity fitSimilarity(const Shape &from, const Shape &to)
{
    const size_t n = std::min(from.size(), to.size());
    Similarity t;
    if (n == 0)
        return t;
    double fx = 0, fy = 0, gx = 0, gy = 0;
    for (size_t i = 0; i < n; ++i) {
        fx += from[i].x, fy += from[i].y, gx += to[i].x, gy += to[i].y;
    }
    fx /= n, fy /= n, gx /= n, gy /= n;
    double sa = 0, sb = 0, ss = 0;
    for (size_t i = 0; i < n; ++i) {
        const double x = from[i].x - fx, y = from[i].y - fy, u = to[i].x - gx, v = to[i].y - gy;
        sa += x * u + y * v;
        sb += x * v - y * u;
        ss += x * x + y * y;
    }
    if (ss <= 0)
        return t;
    t.a = float(sa / ss);
    t.b = float(sb / ss);
    t.tx = float(gx - (t.a * fx - t.b * fy));
    t.ty = float(gy - (t.b * fx + t.a * fy));
    return t;
}

Shape transformShape(const Shape &shape, const Similarity &t)
{
    Shape out(shape.size());
    for (size_t i = 0; i < shape.size(); ++i)
        out[i] = t.apply(shape[i]);
    return out;
}

/* ---- readers ---- */

bool readLandmarkXml(const std::string &path, std::vector<Photo> *photos, std::string *error)
{
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = "cannot open " + path;
        return false;
    }
    const QDir folder = QFileInfo(file).absoluteDir();
    QXmlStreamReader xml(&file);
    std::vector<Photo> read;
    Photo *photo = nullptr;
    Face *face = nullptr;
    auto number = [&xml](const char *name, bool *ok) { return xml.attributes().value(QLatin1String(name)).toFloat(ok); };
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            const auto name = xml.name();
            bool ok = true, all = true;
            if (name == QLatin1String("image")) {
                read.push_back(Photo{});
                photo = &read.back();
                face = nullptr;
                photo->path = folder.absoluteFilePath(xml.attributes().value("file").toString()).toStdString();
            } else if (name == QLatin1String("box") && photo) {
                photo->faces.push_back(Face{});
                face = &photo->faces.back();
                face->box.y = number("top", &ok), all &= ok;
                face->box.x = number("left", &ok), all &= ok;
                face->box.width = number("width", &ok), all &= ok;
                face->box.height = number("height", &ok), all &= ok;
            } else if (name == QLatin1String("part") && face) {
                const int index = xml.attributes().value("name").toInt(&ok);
                all &= ok && index >= 0 && index < kPointCount;
                const float x = number("x", &ok);
                all &= ok;
                const float y = number("y", &ok);
                all &= ok;
                if (all) {
                    face->points.resize(kPointCount);
                    /* the file counts whole pixels; our points sit on pixel centres */
                    face->points[size_t(index)] = PointF{x + 0.5f, y + 0.5f};
                }
            }
            if (!all) {
                if (error)
                    *error = path + ": a number is missing or malformed at line " + std::to_string(xml.lineNumber());
                return false;
            }
        } else if (xml.isEndElement() && xml.name() == QLatin1String("box")) {
            face = nullptr;
        }
    }
    if (xml.hasError()) {
        if (error)
            *error = path + ": " + xml.errorString().toStdString();
        return false;
    }
    *photos = std::move(read);
    return true;
}

bool readNpy(const std::string &path, std::vector<int> *shape, std::vector<double> *values, std::string *error)
{
    QFile file(QString::fromStdString(path));
    auto fail = [&](const std::string &why) {
        if (error)
            *error = path + ": " + why;
        return false;
    };
    if (!file.open(QIODevice::ReadOnly))
        return fail("cannot open");
    const QByteArray bytes = file.readAll();
    if (bytes.size() < 10 || std::memcmp(bytes.constData(), "\x93NUMPY", 6) != 0)
        return fail("not a NumPy array file");
    const int major = uint8_t(bytes[6]);
    const int lengthBytes = major == 1 ? 2 : 4;
    if (bytes.size() < 8 + lengthBytes)
        return fail("truncated header");
    uint32_t headerLength = 0;
    for (int i = 0; i < lengthBytes; ++i)
        headerLength |= uint32_t(uint8_t(bytes[8 + i])) << (8 * i);
    const int start = 8 + lengthBytes;
    if (uint32_t(bytes.size()) < start + headerLength)
        return fail("truncated header");
    const std::string header(bytes.constData() + start, headerLength);
    const bool f8 = header.find("'<f8'") != std::string::npos;
    const bool u1 = header.find("'|u1'") != std::string::npos;
    if ((!f8 && !u1) || header.find("'fortran_order': False") == std::string::npos)
        return fail("only C-ordered float64 or uint8 arrays are read");
    const size_t open = header.find("'shape': ("), close = header.find(')', open);
    if (open == std::string::npos || close == std::string::npos)
        return fail("no shape in the header");
    std::vector<int> dims;
    size_t count = 1;
    const char *p = header.c_str() + open + 10;
    while (p < header.c_str() + close) {
        char *end = nullptr;
        const long d = std::strtol(p, &end, 10);
        if (end == p) {
            ++p;
            continue;
        }
        if (d < 0)
            return fail("negative dimension");
        dims.push_back(int(d));
        count *= size_t(d);
        p = end;
    }
    const size_t elementBytes = f8 ? 8 : 1;
    if (size_t(bytes.size()) - start - headerLength < count * elementBytes)
        return fail("truncated data");
    const char *data = bytes.constData() + start + headerLength;
    values->resize(count);
    for (size_t i = 0; i < count; ++i) {
        if (f8) {
            double v;
            std::memcpy(&v, data + i * 8, 8);
            (*values)[i] = v;
        } else {
            (*values)[i] = uint8_t(data[i]);
        }
    }
    *shape = dims;
    return true;
}

/* ---- aligning the mean face to pictures without points ---- */

namespace {

/* The appearance frame of the mean face: eyes at (22, 26) and (42, 26), 10 pixels per unit of
 * the mean shape. */
constexpr int kFrame = 64;
constexpr float kFrameScale = 10, kFrameX = 32, kFrameY = 26;

float sampleGrey(const std::vector<uint8_t> &grey, int width, int height, float x, float y)
{
    /* x, y in pixel coordinates with centres at + 0.5 */
    x -= 0.5f;
    y -= 0.5f;
    x = std::clamp(x, 0.0f, float(width - 1));
    y = std::clamp(y, 0.0f, float(height - 1));
    const int x0 = std::min(int(x), width - 2 < 0 ? 0 : width - 2), y0 = std::min(int(y), height - 2 < 0 ? 0 : height - 2);
    const int x1 = std::min(x0 + 1, width - 1), y1 = std::min(y0 + 1, height - 1);
    const float fx = x - x0, fy = y - y0;
    const float top = grey[size_t(y0) * width + x0] * (1 - fx) + grey[size_t(y0) * width + x1] * fx;
    const float bottom = grey[size_t(y1) * width + x0] * (1 - fx) + grey[size_t(y1) * width + x1] * fx;
    return top * (1 - fy) + bottom * fy;
}

/* The mean face's inner region (brows to below the mouth) as normalised samples. */
struct MeanFace {
    std::vector<PointF> at;     /* frame coordinates of the samples */
    std::vector<float> values;  /* zero mean, unit norm */
};

Similarity frameToUnits()
{
    Similarity t;
    t.a = 1 / kFrameScale;
    t.tx = -kFrameX / kFrameScale;
    t.ty = -kFrameY / kFrameScale;
    return t;
}

MeanFace buildMeanFace(const std::vector<FacePicture> &faces, const Shape &mean)
{
    std::vector<float> sum(size_t(kFrame) * kFrame, 0);
    int n = 0;
    for (const FacePicture &f : faces) {
        if (f.aligned)
            continue;
        const std::vector<uint8_t> grey = greyOf(f.image);
        for (int mirror = 0; mirror < 2; ++mirror) {
            const Shape pts = mirror ? mirrorShape(f.points, float(f.image.width)) : f.points;
            /* frame -> units -> picture */
            const Similarity toPicture = fitSimilarity(mean, pts);
            for (int y = 0; y < kFrame; ++y)
                for (int x = 0; x < kFrame; ++x) {
                    const PointF u = frameToUnits().apply(PointF{x + 0.5f, y + 0.5f});
                    PointF p = toPicture.apply(u);
                    if (mirror)
                        p.x = float(f.image.width) - p.x;
                    sum[size_t(y) * kFrame + x] += sampleGrey(grey, f.image.width, f.image.height, p.x, p.y);
                }
            ++n;
        }
    }
    MeanFace face;
    for (int y = 14; y < 54; ++y)
        for (int x = 12; x < 52; ++x) {
            face.at.push_back(PointF{x + 0.5f, y + 0.5f});
            face.values.push_back(n ? sum[size_t(y) * kFrame + x] / n : 0);
        }
    double mean0 = 0, norm = 0;
    for (float v : face.values)
        mean0 += v;
    mean0 /= face.values.size();
    for (float &v : face.values) {
        v -= float(mean0);
        norm += double(v) * v;
    }
    norm = std::sqrt(norm);
    for (float &v : face.values)
        v = norm > 0 ? float(v / norm) : 0;
    return face;
}

/* A placement of the mean shape's units in a picture: centre of the eyes, pixels per unit,
 * roll in degrees. */
struct Placement {
    float cx, cy, scale, roll;
    Similarity toPicture() const
    {
        const float r = roll * float(M_PI) / 180;
        Similarity t;
        t.a = scale * std::cos(r);
        t.b = scale * std::sin(r);
        t.tx = cx;
        t.ty = cy;
        return t;
    }
};

float correlation(const MeanFace &face, const std::vector<uint8_t> &grey, int width, int height, const Placement &p)
{
    const Similarity t = p.toPicture();
    const Similarity units = frameToUnits();
    double sum = 0, sumSquares = 0, dot = 0;
    for (size_t i = 0; i < face.at.size(); ++i) {
        const PointF q = t.apply(units.apply(face.at[i]));
        const float v = sampleGrey(grey, width, height, q.x, q.y);
        sum += v;
        sumSquares += double(v) * v;
        dot += double(v) * face.values[i];
    }
    const double n = double(face.at.size());
    const double variance = sumSquares - sum * sum / n;
    /* the template has zero mean, so the picture's mean drops out of the dot product */
    return variance > 1e-6 ? float(dot / std::sqrt(variance)) : -1;
}

/* Best placement within the ranges around centre: a grid search, then finer steps that stay
 * inside the ranges. */
Placement alignMeanFace(const MeanFace &face, const std::vector<uint8_t> &grey, int width, int height,
                        Placement centre, float positionRange, float scaleRange, float rollRange)
{
    auto inside = [&](const Placement &p) {
        return std::abs(p.cx - centre.cx) <= positionRange && std::abs(p.cy - centre.cy) <= positionRange &&
               p.scale >= centre.scale / scaleRange && p.scale <= centre.scale * scaleRange &&
               std::abs(p.roll - centre.roll) <= rollRange;
    };
    Placement best = centre;
    float bestScore = correlation(face, grey, width, height, best);
    for (float s = centre.scale / scaleRange; s <= centre.scale * scaleRange; s *= 1.04f) {
        const float positionStep = std::max(0.5f, s * 0.15f);
        for (float r = -rollRange; r <= rollRange + 0.01f; r += std::max(2.0f, rollRange / 3))
            for (float dy = -positionRange; dy <= positionRange; dy += positionStep)
                for (float dx = -positionRange; dx <= positionRange; dx += positionStep) {
                    const Placement p{centre.cx + dx, centre.cy + dy, s, centre.roll + r};
                    const float score = correlation(face, grey, width, height, p);
                    if (score > bestScore)
                        bestScore = score, best = p;
                }
    }
    for (float step = 0.5f; step > 0.05f; step *= 0.5f) {
        bool moved = true;
        for (int round = 0; moved && round < 20; ++round) {
            moved = false;
            const float d = step * best.scale * 0.2f;
            const Placement tries[8] = {
                {best.cx + d, best.cy, best.scale, best.roll},
                {best.cx - d, best.cy, best.scale, best.roll},
                {best.cx, best.cy + d, best.scale, best.roll},
                {best.cx, best.cy - d, best.scale, best.roll},
                {best.cx, best.cy, best.scale * (1 + step * 0.05f), best.roll},
                {best.cx, best.cy, best.scale / (1 + step * 0.05f), best.roll},
                {best.cx, best.cy, best.scale, best.roll + step * 2},
                {best.cx, best.cy, best.scale, best.roll - step * 2},
            };
            for (const Placement &p : tries) {
                if (!inside(p))
                    continue;
                const float score = correlation(face, grey, width, height, p);
                if (score > bestScore + 1e-6f) {
                    bestScore = score, best = p;
                    moved = true;
                }
            }
        }
    }
    return best;
}

/* Aligns the mean face to each picture: once over their average to find the common place,
 * then each picture on its own around it. */
void alignPictures(std::vector<FacePicture> *pictures, size_t first, const MeanFace &face, const Shape &mean,
                   Placement guess, float positionRange, float scaleRange, float rollRange, bool eachOnItsOwn)
{
    if (first >= pictures->size())
        return;
    const int width = (*pictures)[first].image.width, height = (*pictures)[first].image.height;
    std::vector<float> sum(size_t(width) * height, 0);
    for (size_t i = first; i < pictures->size(); ++i) {
        const std::vector<uint8_t> grey = greyOf((*pictures)[i].image);
        for (size_t k = 0; k < sum.size() && k < grey.size(); ++k)
            sum[k] += grey[k];
    }
    std::vector<uint8_t> average(sum.size());
    for (size_t k = 0; k < sum.size(); ++k)
        average[k] = uint8_t(std::lround(sum[k] / float(pictures->size() - first)));
    const Placement common = alignMeanFace(face, average, width, height, guess, positionRange, scaleRange, rollRange);
    for (size_t i = first; i < pictures->size(); ++i) {
        FacePicture &f = (*pictures)[i];
        const std::vector<uint8_t> grey = greyOf(f.image);
        const Placement own = eachOnItsOwn ? alignMeanFace(face, grey, f.image.width, f.image.height, common,
                                                           common.scale * 0.25f, 1.06f, 6)
                                           : common;
        f.points = transformShape(mean, own.toPicture());
        f.aligned = true;
    }
}

RgbImage cropImage(const RgbImage &image, int x0, int y0, int w, int h)
{
    RgbImage out(w, h, 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int sx = std::clamp(x0 + x, 0, image.width - 1), sy = std::clamp(y0 + y, 0, image.height - 1);
            std::memcpy(out.pixel(x, y), image.pixel(sx, sy), 3);
        }
    return out;
}

} // namespace

/* ---- the sources together ---- */

std::string defaultDataRoot()
{
    if (const char *root = std::getenv("SOLVANE_FACE_DATA"); root && *root)
        return root;
    return QDir::homePath().toStdString() + "/.cache/solvane-facedata";
}

namespace {

bool loadSources(const std::string &root, bool everything, FaceSources *sources, std::string *error)
{
    FaceSources s;
    s.root = root;
    const std::string base = root + "/root";
    const std::string examples = base + "/usr/share/doc/libdlib19.1/examples";
    const std::string skimage = base + "/usr/lib/python3/dist-packages/skimage/data";
    auto missing = [&](const std::string &what) {
        if (error)
            *error = what + " is missing under " + root + " (run tools/facedata/fetch.sh " + root + ")";
        return false;
    };
    if (!readLandmarkXml(examples + "/faces/training_with_face_landmarks.xml", &s.training, error) ||
        !readLandmarkXml(examples + "/faces/testing_with_face_landmarks.xml", &s.testing, error))
        return missing("the annotated photos");
    const QStringList people = QDir(QString::fromStdString(examples + "/johns")).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString &person : people) {
        const QDir dir(QString::fromStdString(examples + "/johns/") + person);
        for (const QString &file : dir.entryList({"*.jpg"}, QDir::Files, QDir::Name))
            s.johns.push_back(dir.absoluteFilePath(file).toStdString());
    }
    if (s.johns.empty())
        return missing("the johns photos");
    if (!everything) {
        *sources = std::move(s);
        return true;
    }
    std::vector<int> shape;
    std::vector<double> values;
    if (!readNpy(skimage + "/lfw_subset.npy", &shape, &values, error))
        return missing("lfw_subset.npy");
    if (shape.size() != 3 || shape[0] != 200) {
        if (error)
            *error = "lfw_subset.npy: expected 200 crops";
        return false;
    }
    for (int i = 0; i < shape[0]; ++i) {
        RgbImage crop(shape[2], shape[1]);
        for (int p = 0; p < shape[1] * shape[2]; ++p) {
            const double v = values[size_t(i) * shape[1] * shape[2] + p];
            std::memset(crop.rgb.data() + size_t(p) * 3, int(std::lround(std::clamp(v, 0.0, 1.0) * 255)), 3);
        }
        (i < 100 ? s.lfwFaces : s.lfwNonFaces).push_back(std::move(crop));
    }
    s.astronaut = skimage + "/astronaut.png";
    if (!QFileInfo::exists(QString::fromStdString(s.astronaut)))
        return missing("astronaut.png");
    for (const QString &line : QString::fromUtf8(kNegativeList).split('\n')) {
        const QString path = line.trimmed();
        if (path.isEmpty() || path.startsWith('#'))
            continue;
        const std::string full = base + "/" + path.toStdString();
        if (!QFileInfo::exists(QString::fromStdString(full)))
            return missing(path.toStdString());
        s.negatives.push_back(full);
    }
    *sources = std::move(s);
    return true;
}

} // namespace

bool loadFaceSources(const std::string &root, FaceSources *sources, std::string *error)
{
    return loadSources(root, true, sources, error);
}

bool loadAnnotatedSources(const std::string &root, FaceSources *sources, std::string *error)
{
    return loadSources(root, false, sources, error);
}

Shape meanTrainingShape(const FaceSources &sources)
{
    std::vector<Shape> shapes;
    for (const Photo &photo : sources.training)
        for (const Face &face : photo.faces)
            if (face.points.size() == size_t(kPointCount))
                shapes.push_back(face.points);
    if (shapes.empty())
        return {};
    /* Procrustes: align to the running mean a few times, then fix the eyes at (-1, 0), (1, 0) */
    Shape mean = shapes[0];
    for (int round = 0; round < 5; ++round) {
        Shape sum(kPointCount);
        for (const Shape &s : shapes) {
            const Shape aligned = transformShape(s, fitSimilarity(s, mean));
            for (int i = 0; i < kPointCount; ++i)
                sum[i].x += aligned[i].x / shapes.size(), sum[i].y += aligned[i].y / shapes.size();
        }
        mean = sum;
    }
    const Shape eyes = {leftEyeCentre(mean), rightEyeCentre(mean)};
    const Shape target = {PointF{-1, 0}, PointF{1, 0}};
    return transformShape(mean, fitSimilarity(eyes, target));
}

bool loadTrainingFaces(const FaceSources &sources, std::vector<FacePicture> *faces, std::string *error)
{
    std::vector<FacePicture> out;
    for (const Photo &photo : sources.training) {
        RgbImage image;
        if (!loadImage(photo.path, &image, error))
            return false;
        for (size_t k = 0; k < photo.faces.size(); ++k) {
            const Face &face = photo.faces[k];
            if (face.points.size() != size_t(kPointCount))
                continue;
            const int x0 = int(std::floor(face.box.x - face.box.width)), y0 = int(std::floor(face.box.y - face.box.height));
            const int w = int(std::ceil(face.box.width * 3)), h = int(std::ceil(face.box.height * 3));
            FacePicture f;
            f.origin = QFileInfo(QString::fromStdString(photo.path)).fileName().toStdString() + "#" + std::to_string(k);
            f.image = cropImage(image, x0, y0, w, h);
            f.points = face.points;
            for (PointF &p : f.points)
                p.x -= float(x0), p.y -= float(y0);
            out.push_back(std::move(f));
        }
    }
    const Shape mean = meanTrainingShape(sources);
    const MeanFace meanFace = buildMeanFace(out, mean);

    const size_t johnsFirst = out.size();
    for (const std::string &path : sources.johns) {
        FacePicture f;
        if (!loadImage(path, &f.image, error))
            return false;
        f.origin = QFileInfo(QString::fromStdString(path)).fileName().toStdString();
        out.push_back(std::move(f));
    }
    if (johnsFirst < out.size()) {
        const FacePicture &first = out[johnsFirst];
        const float w = float(first.image.width);
        alignPictures(&out, johnsFirst, meanFace, mean, Placement{w / 2, w * 0.45f, w / 7, 0}, w * 0.15f, 1.5f, 0, false);
    }

    std::vector<FacePicture> lfw;
    for (size_t i = 0; i < sources.lfwFaces.size(); ++i) {
        FacePicture f;
        f.image = sources.lfwFaces[i];
        f.origin = "lfw_subset#" + std::to_string(i);
        lfw.push_back(std::move(f));
    }
    if (!lfw.empty()) {
        const float w = float(lfw[0].image.width);
        alignPictures(&lfw, 0, meanFace, mean, Placement{w / 2, w * 0.4f, w / 6, 0}, w * 0.2f, 1.6f, 0, true);
    }
    for (FacePicture &f : lfw)
        out.push_back(std::move(f));

    *faces = std::move(out);
    return true;
}

} // namespace facedata
