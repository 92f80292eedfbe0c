#include "database/ZelManagerCategory.h"

#include <QCoreApplication>
#include <QStringList>

namespace {

// The levels the program's translations cover; listed here so that the
// translation tools collect them.
[[maybe_unused]] const char *const KnownKeys[] = {
    QT_TRANSLATE_NOOP("Category", "collections"),
    QT_TRANSLATE_NOOP("Category", "compilers"),
    QT_TRANSLATE_NOOP("Category", "compressions"),
    QT_TRANSLATE_NOOP("Category", "debuggers"),
    QT_TRANSLATE_NOOP("Category", "development"),
    QT_TRANSLATE_NOOP("Category", "documents"),
    QT_TRANSLATE_NOOP("Category", "editors"),
    QT_TRANSLATE_NOOP("Category", "icons"),
    QT_TRANSLATE_NOOP("Category", "image"),
    QT_TRANSLATE_NOOP("Category", "internet"),
    QT_TRANSLATE_NOOP("Category", "libraries"),
    QT_TRANSLATE_NOOP("Category", "library runtimes"),
    QT_TRANSLATE_NOOP("Category", "lookandfeel"),
    QT_TRANSLATE_NOOP("Category", "multimedia"),
    QT_TRANSLATE_NOOP("Category", "plugins"),
    QT_TRANSLATE_NOOP("Category", "services"),
    QT_TRANSLATE_NOOP("Category", "tools"),
    QT_TRANSLATE_NOOP("Category", "utilities"),
    QT_TRANSLATE_NOOP("Category", "version controls"),
    QT_TRANSLATE_NOOP("Category", "system"),
};

} // namespace

QString ZelManagerCategory::displayText(const QString &category)
{
    QString text;
    const QStringList levels = category.split(QLatin1Char('/'));
    for (const QString &level : levels) {
        if (level.trimmed().isEmpty())
            continue;
        if (!text.isEmpty())
            text += QLatin1Char('/');
        text += levelText(level);
    }
    return text;
}

// Without a translation the catalogue hands the key back in lower case; the
// level is then shown with the capitals its maker gave it.
QString ZelManagerCategory::levelText(const QString &level)
{
    const QString trimmed = level.trimmed();
    const QByteArray key = trimmed.toLower().toUtf8();
    const QString translated = QCoreApplication::translate("Category", key.constData());
    return translated == QString::fromUtf8(key) ? trimmed : translated;
}
