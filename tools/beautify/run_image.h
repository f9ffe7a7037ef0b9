// Conversion between Qt images and engine images in the formats a beautify run accepts.
//
// RGB goes to Y, Cb, Cr with the engine's own weights (luma 19654, 38470, 7471 in 16-bit units)
// and comes back with 1.402, 0.714136, 0.344136 and 1.772 in 16.16. Subsampled chroma is the
// mean of the pixels it covers; on the way back each pixel takes the chroma of its block.
#pragma once

#include <QImage>
#include <QString>

#include "facesdk/engine/image.h"

// The run formats, by name and code.
struct RunFormatName {
    const char *name;
    PixelFormat format;
};
extern const RunFormatName kRunFormatNames[7];

bool isRunFormat(PixelFormat format);
// A format given as a name ("nv12") or a code ("0x30100001"); 0 when it is no run format.
PixelFormat parseRunFormat(const QString &text);
QString runFormatName(PixelFormat format);

// An engine image that owns its planes (default allocator).
class RunImage {
public:
    RunImage() = default;
    ~RunImage();
    RunImage(const RunImage &) = delete;
    RunImage &operator=(const RunImage &) = delete;

    // Converts the picture into a new image of the format. False (with a message) when the
    // format is no run format, the picture is empty or memory runs out.
    bool assign(const QImage &picture, PixelFormat format, QString *error);
    // The image as RGB.
    QImage toQImage() const;

    EngineImage *image() { return &image_; }
    const EngineImage &record() const { return image_; }

private:
    EngineImage image_{};
};
