#include "diagnostics/ZelManagerLogging.h"

Q_LOGGING_CATEGORY(zelDatabase, "zelmanager.database", QtWarningMsg)
Q_LOGGING_CATEGORY(zelEngine, "zelmanager.engine", QtWarningMsg)
Q_LOGGING_CATEGORY(zelTriggers, "zelmanager.triggers", QtWarningMsg)
Q_LOGGING_CATEGORY(zelHost, "zelmanager.host", QtWarningMsg)
