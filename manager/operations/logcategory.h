// The manager's log category for this folder's messages.
#pragma once

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcKivoLib)
