#include "editing/widgets/look_group.h"

#include "manager/app/environment.h"

LookGroup::LookGroup(QObject* parent) : ExpandableGroup(parent) {}

LookGroup::~LookGroup() = default;

void LookGroup::setName(const QString& language, const QString& name)
{
    names.insert(language, name);
}

QString LookGroup::localisedName(QString language)
{
    if (language.isEmpty())
        language = AppEnvironment::uiLanguageCode();
    for (const QString& code : {language, QStringLiteral("en")}) {
        const auto found = names.constFind(code);
        if (found != names.constEnd())
            return found.value();
    }
    return names.isEmpty() ? QString() : names.first();
}
