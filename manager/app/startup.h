// The manager's start-up and command dispatch (the body of `main`).
//
// Exit codes: -1 the start-up lock cannot be taken, or a later start without a command;
// 1 the shared block cannot be made or the command line is rejected; 0 "quit" and a normal end;
// a later start with a command ends with the first instance's answer (0), or with
// kNoAnswerExitCode when the command could not be delivered or no answer came in time.
#pragma once

#include <QByteArray>
#include <QString>

class MainWindow;
class QLocalSocket;

// How long a later start waits for the first instance's answer.
constexpr int kForwardAnswerTimeoutMs = 5000;
// Exit code of a later start whose command got no answer.
constexpr int kNoAnswerExitCode = 2;

// "/SolvaneManager.lock" in the user's runtime folder, or in the temporary folder when there is none.
QString startupLockPath();

// The first instance's reaction to a command forwarded by a later start: "quit" answers "0" and
// ends the event loop with 0; any other word brings the window forward, runs doCommand with the
// word's code and the product key, and answers "0".
void handleForwardedCommand(MainWindow* window, const QByteArray& message, QLocalSocket* socket);

// Runs the manager with its command line; returns the process exit code.
int runManager(int argc, char** argv);
