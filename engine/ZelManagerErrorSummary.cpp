#include "engine/ZelManagerErrorSummary.h"

#include <QCoreApplication>

namespace {

// The texts belong to the apply page, which shows them first; the command
// line shares its translations.
QString translated(const char *text)
{
    return QCoreApplication::translate("ZelManagerApplyPanel", text);
}

} // namespace

QString ZelManagerErrorSummary::kindName(int kind)
{
    switch (kind) {
    case ZelManagerDatabase::ErrorRemove:
        return translated("Remove");
    case ZelManagerDatabase::ErrorInstall:
        return translated("Install");
    case ZelManagerDatabase::ErrorUpgrade:
        return translated("Upgrade");
    case ZelManagerDatabase::ErrorReinstall:
        return translated("Reinstall");
    default:
        return QString();
    }
}

QString ZelManagerErrorSummary::text(const QList<ZelManagerDatabase::ErrorRecord> &errors)
{
    QString text = translated("Errors occurred during applying operations:");
    QString previous;
    bool any = false;
    for (const ZelManagerDatabase::ErrorRecord &error : errors) {
        if (error.kind == 1)
            continue;
        if (!any || error.package != previous) {
            text += QStringLiteral("\n## ") + translated("%1 package %2").arg(kindName(error.kind), error.package)
                + QStringLiteral(":\n");
        }
        text += QStringLiteral("   ") + error.description + QLatin1Char('\n');
        previous = error.package;
        any = true;
    }
    return any ? text : QString();
}
