// The self-update feed: the appcast document a check downloads, judged against our version.
#include "sys/sparkle/sparkle.h"

#include <QByteArray>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray document(reinterpret_cast<const char*>(data), int(size));
    const sparkle::CheckResult result = sparkle::evaluateAppcast(document, QStringLiteral("1.1.0.229"));
    if (result.status == sparkle::CheckResult::UpdateFound)
        (void)sparkle::compareVersions(result.version, QStringLiteral("1.1.0.229"));
    return 0;
}
