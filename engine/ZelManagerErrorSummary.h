#ifndef ZELMANAGERERRORSUMMARY_H
#define ZELMANAGERERRORSUMMARY_H

#include "database/ZelManagerDatabase.h"

#include <QList>
#include <QString>

// The text that sums up an apply run's errors, shown by the apply page and
// printed by the command-line tool alike.
class ZelManagerErrorSummary
{
public:
    // "Remove", "Install", "Upgrade", "Reinstall" for the error kinds, empty
    // for any other.
    static QString kindName(int kind);
    // One "## " header whenever the package changes from the record before,
    // the messages below it indented by three blanks; records of kind 1 are
    // left out. Empty when nothing is left.
    static QString text(const QList<ZelManagerDatabase::ErrorRecord> &errors);
};

#endif // ZELMANAGERERRORSUMMARY_H
