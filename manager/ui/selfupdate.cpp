#include "manager/ui/selfupdate.h"

#include "manager/app/logging.h"
#include "sys/sparkle/sparkle.h"

#include <QAtomicInt>

namespace {

// Set and cleared only by the component's callbacks; never reset by the manager, so it
// survives a stop and a new start.
QAtomicInt updateFound(0);

void onUpdateFound() { updateFound.storeRelaxed(1); }
void onUpdateCancelled() { updateFound.storeRelaxed(0); }

}  // namespace

QUrl* startSelfUpdate(QUrl* kept, const QUrl& feed) {
    if (!kept)
        kept = new QUrl;
    *kept = feed;
    win_sparkle_set_appcast_url(kept->toString().toUtf8().constData());
    win_sparkle_init();
    win_sparkle_set_update_cancelled_callback(onUpdateCancelled);
    win_sparkle_set_did_find_update_callback(onUpdateFound);
    win_sparkle_set_automatic_check_for_updates(1);
    qCDebug(managerLogCategory) << "SelfUpdate started on " << kept->toString();
    return kept;
}

void stopSelfUpdate(QUrl* kept) {
    win_sparkle_cleanup();
    qCDebug(managerLogCategory) << "SelfUpdate stopped";
    delete kept;
}

void checkForUpdateNow(QUrl* kept) {
    Q_UNUSED(kept)
    if (updateFound.loadRelaxed() == 0)
        win_sparkle_check_update_with_ui();
}

int selfUpdateFoundFlag() { return updateFound.loadRelaxed(); }
