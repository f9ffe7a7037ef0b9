// ProductVersion: major.minor.patch.build of a product, as the catalog gives it and as the
// settings remember the installed one.
#pragma once

#include <QJsonArray>
#include <QString>

struct ProductVersion {
    int major = 0;
    int minor = 0;
    int patch = 0;
    int build = 0;

    ProductVersion() = default;
    ProductVersion(int major, int minor, int patch, int build);

    // Elements 0 to 3 of a JSON array; a missing or non-integral element is 0, elements past
    // the fourth are ignored.
    static ProductVersion fromJson(const QJsonArray &array);
    // The text split at "." (empty parts kept); parts 0 to 3 read as decimal ints, an empty or
    // non-numeric part is 0, parts past the fourth are ignored: "1..3" is 1.0.3.0.
    static ProductVersion fromString(const QString &text);

    // Set when any of major, minor or patch is non-zero; build alone does not count.
    bool isSet() const;
    // "major.minor.patch.build".
    QString toString() const;

    bool operator<(const ProductVersion &other) const;
    bool operator==(const ProductVersion &other) const;
    bool operator!=(const ProductVersion &other) const { return !(*this == other); }
};
