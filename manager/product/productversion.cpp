#include "manager/product/productversion.h"

#include <QStringList>

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
    return QStringLiteral("%1.%2.%3.%4").arg(major).arg(minor).arg(patch).arg(build);
}

bool ProductVersion::operator<(const ProductVersion &other) const
{
    return std::tie(major, minor, patch, build) < std::tie(other.major, other.minor, other.patch, other.build);
}

bool ProductVersion::operator==(const ProductVersion &other) const
{
    return std::tie(major, minor, patch, build) == std::tie(other.major, other.minor, other.patch, other.build);
}
