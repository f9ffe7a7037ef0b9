#include "manager/product/productversion.h"

#include <QStringList>

#include <cstdio>
#include <tuple>

ProductVersion::ProductVersion(int major, int minor, int patch, int build)
    : major(major)
    , minor(minor)
    , patch(patch)
    , build(build)
{
}

ProductVersion ProductVersion::fromJson(const QJsonArray &array)
{
    return ProductVersion(array.at(0).toInt(0), array.at(1).toInt(0), array.at(2).toInt(0), array.at(3).toInt(0));
}

ProductVersion ProductVersion::fromString(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    const auto part = [&parts](int index) { return index < parts.size() ? parts.at(index).toInt() : 0; };
    return ProductVersion(part(0), part(1), part(2), part(3));
}

bool ProductVersion::isSet() const
{
    return major != 0 || minor != 0 || patch != 0;
}

QString ProductVersion::toString() const
{
    // One text made once: a catalog read writes two versions of every product into its log line.
    char text[4 * 12];
    const int length = std::snprintf(text, sizeof text, "%d.%d.%d.%d", major, minor, patch, build);
    return QString::fromLatin1(text, length);
}

bool ProductVersion::operator<(const ProductVersion &other) const
{
    return std::tie(major, minor, patch, build) < std::tie(other.major, other.minor, other.patch, other.build);
}

bool ProductVersion::operator==(const ProductVersion &other) const
{
    return std::tie(major, minor, patch, build) == std::tie(other.major, other.minor, other.patch, other.build);
}
