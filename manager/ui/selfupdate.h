// Self-update: the manager's thin layer over the update-check component (sys/sparkle). The
// main window starts it with the appcast address, forces a check with the component's dialog
// when its out-of-date button is pressed, and stops it when the window goes away.
#pragma once

#include <QUrl>

// Starts the component with automatic checks on `feed`. `kept` is the place for the kept
// address (a new one when null); it is returned and later handed to the two calls below.
QUrl* startSelfUpdate(QUrl* kept, const QUrl& feed);
// Stops the component and deletes the kept address.
void stopSelfUpdate(QUrl* kept);
// Asks the component for a check with its dialog, unless an update has already been found
// (and not cancelled). The address is not used.
void checkForUpdateNow(QUrl* kept);

// 1 after the component found an update, 0 at start and after the user cancelled it. Written by
// the component's callbacks on its own thread, read on the GUI thread.
int selfUpdateFoundFlag();
