// The update-check component of the manager. A C interface of seven calls that the self-update
// layer drives, plus a small C++ part for the feed format and for tests.
//
// Once initialised, the component owns one thread ("the update thread"). Every check fetches
// the appcast over HTTP(S), picks its newest item and compares its version with the
// application's version. The two callbacks run on the update thread:
//   did-find-update   a check found a newer version than the running one;
//   update-cancelled  the user closed the update dialog without taking the update.
// Automatic checks run once right after they are switched on and then every 24 hours. A check
// that finds an update, and every check with a user interface, shows the update dialog on the
// GUI thread; the dialog never blocks the caller.
//
// Extra trusted certificates for the feed's host (a self-signed loopback server, for example)
// are read from the PEM file named by SOLVANE_UPDATE_CA_FILE.
#pragma once

#include <QString>

extern "C" {
typedef void (*win_sparkle_did_find_update_callback_t)();
typedef void (*win_sparkle_update_cancelled_callback_t)();

// Address of the appcast feed, UTF-8. Takes effect for checks started afterwards.
void win_sparkle_set_appcast_url(const char* url);
// Starts the update thread. A second call without cleanup does nothing.
void win_sparkle_init();
void win_sparkle_set_did_find_update_callback(win_sparkle_did_find_update_callback_t callback);
void win_sparkle_set_update_cancelled_callback(win_sparkle_update_cancelled_callback_t callback);
// 1: check now and every 24 hours; 0: no automatic checks.
void win_sparkle_set_automatic_check_for_updates(int state);
// Checks now and shows the outcome (up to date, update available, error) in the update dialog.
void win_sparkle_check_update_with_ui();
// Stops the update thread, drops a running check and closes the dialog. Callbacks and the
// feed address are kept for a later init.
void win_sparkle_cleanup();
}

namespace sparkle {

// Outcome of one check.
struct CheckResult {
    enum Status {
        None,        // no check has finished yet
        UpToDate,    // the feed's newest version is not newer than ours (or the feed has no items)
        UpdateFound, // version and link describe the newer release
        Failed,      // error says why (network, HTTP status, malformed feed)
    };
    Status status = None;
    QString version;     // newest version of the feed, dotted
    QString title;       // its title
    QString link;        // its download page
    QString description; // its release notes, plain text
    QString error;       // for Failed: a sentence naming the feed and what went wrong
};

// Reads an appcast document and compares its newest item with currentVersion. The format:
//   <rss version="2.0"><channel>
//     <item><title>…</title><version>1.1.0.240</version><link>…</link>
//           <description>…</description></item> …
//   </channel></rss>
// Versions are one to four dot-separated decimal numbers. A document that is not well-formed
// XML, whose root is not <rss> with a <channel>, or with an item lacking a valid version is
// Failed with a message naming the problem (and the line for XML errors).
CheckResult evaluateAppcast(const QByteArray& document, const QString& currentVersion);

// Compares dotted versions field by field, missing fields counting as 0: <0, 0 or >0.
// False in *ok (when given) for a text that is not a version.
int compareVersions(const QString& left, const QString& right, bool* ok = nullptr);

// The result of the last finished check, and how many checks have finished since the program
// started (tests wait on the count).
CheckResult lastCheckResult();
int finishedCheckCount();

}  // namespace sparkle
