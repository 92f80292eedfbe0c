#ifndef ZELMANAGERLOGGING_H
#define ZELMANAGERLOGGING_H

#include <QLoggingCategory>

// The program's logging categories. Warnings (real failures) are shown by
// default, debug output only when switched on, for example with
// QT_LOGGING_RULES="zelmanager.*.debug=true". This folder depends on nothing
// of the program, so that every layer can log.

// "zelmanager.database": failed SQLite statements, with SQLite's text.
Q_DECLARE_LOGGING_CATEGORY(zelDatabase)
// "zelmanager.engine": the steps of downloads, installations and removals.
Q_DECLARE_LOGGING_CATEGORY(zelEngine)
// "zelmanager.triggers": what triggers register with the host, and what
// they could not; triggers never report to the user.
Q_DECLARE_LOGGING_CATEGORY(zelTriggers)
// "zelmanager.host": writes of the host layer (registry hives, environment
// script, shortcuts, file times) that failed.
Q_DECLARE_LOGGING_CATEGORY(zelHost)

#endif // ZELMANAGERLOGGING_H
