// Q_INIT_RESOURCE needs the global namespace: the bundles' init functions are global symbols.
#include "manager/resources/resources.h"

#include <QtGlobal>

void registerTranslationsBundle() { Q_INIT_RESOURCE(translations); }

void registerStyleBundle() { Q_INIT_RESOURCE(style); }

void registerMessagePagesBundle() { Q_INIT_RESOURCE(messages); }

void registerInstallPageBundle() { Q_INIT_RESOURCE(install); }

void registerBuiltinResources() {
    registerTranslationsBundle();
    registerStyleBundle();
    registerMessagePagesBundle();
    registerInstallPageBundle();
}
