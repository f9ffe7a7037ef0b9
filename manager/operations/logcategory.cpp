#include "manager/operations/logcategory.h"

Q_LOGGING_CATEGORY(lcKivoLib, "kivomanager.lib")
