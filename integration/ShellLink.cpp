#include "integration/ShellLink.h"

#include "diagnostics/ZelManagerLogging.h"
#include "integration/WindowsSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QUrl>

namespace {

const QString LinkSuffix = QStringLiteral(".lnk");
const QString LauncherSuffix = QStringLiteral(".desktop");

// Escapes of the launcher file's string values.
QString escapedValue(const QString &text)
{
    QString escaped;
    escaped.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '\\':
            escaped += QLatin1String("\\\\");
            break;
        case '\n':
            escaped += QLatin1String("\\n");
            break;
        case '\t':
            escaped += QLatin1String("\\t");
            break;
        case '\r':
            escaped += QLatin1String("\\r");
            break;
        default:
            escaped += c;
        }
    }
    if (escaped.startsWith(QLatin1Char(' ')))
        escaped.replace(0, 1, QLatin1String("\\s"));
    return escaped;
}

// One argument of a launcher's Exec line: quoted when it holds a reserved
// character, and with "%" doubled so that it is never taken as a field code.
QString execArgument(const QString &argument)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    bool quote = argument.isEmpty();
    for (const QChar c : argument)
        quote = quote || reserved.contains(c);
    QString text = argument;
    if (quote) {
        text.clear();
        for (const QChar c : argument) {
            if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
                text += QLatin1Char('\\');
            text += c;
        }
        text = QLatin1Char('"') + text + QLatin1Char('"');
    }
    return text.replace(QLatin1Char('%'), QLatin1String("%%"));
}

// A target with a scheme of two letters or more ("https:", "mailto:") is an
// address; "C:/x" and plain paths are files.
bool isAddress(const QString &target)
{
    const QUrl url(target);
    return url.isValid() && url.scheme().size() > 1;
}

} // namespace

QString ShellLink::joinArguments(const QStringList &arguments)
{
    QString text;
    for (const QString &argument : arguments) {
        if (argument == QLatin1String("%F")) {
            text += QLatin1Char(' ');
            continue;
        }
        if (!text.isEmpty())
            text += QLatin1Char(' ');
        if (argument.contains(QLatin1Char(' ')))
            text += QLatin1Char('"') + argument + QLatin1Char('"');
        else
            text += argument;
    }
    return text;
}

QString ShellLink::hostFilePath(const QString &lnkPath)
{
    if (lnkPath.endsWith(LinkSuffix, Qt::CaseInsensitive))
        return lnkPath.left(lnkPath.size() - LinkSuffix.size()) + LauncherSuffix;
    if (lnkPath.endsWith(LauncherSuffix))
        return lnkPath;
    return lnkPath + LauncherSuffix;
}

QString ShellLink::launcherText(const QString &name) const
{
    QString text = QStringLiteral("[Desktop Entry]\n");
    const QString target = QDir::fromNativeSeparators(m_target);
    if (isAddress(m_target)) {
        text += QStringLiteral("Type=Link\nURL=") + escapedValue(m_target) + QLatin1Char('\n');
    } else if (QFileInfo(target).isDir()) {
        text += QStringLiteral("Type=Link\nURL=") + escapedValue(QUrl::fromLocalFile(target).toString())
            + QLatin1Char('\n');
    } else {
        QString exec = execArgument(target);
        for (const QString &argument : m_arguments) {
            if (argument != QLatin1String("%F"))
                exec += QLatin1Char(' ') + execArgument(argument);
        }
        text += QStringLiteral("Type=Application\nExec=") + escapedValue(exec) + QLatin1Char('\n');
        if (!m_workingDirectory.isEmpty())
            text += QStringLiteral("Path=") + escapedValue(QDir::fromNativeSeparators(m_workingDirectory))
                + QLatin1Char('\n');
    }
    text += QStringLiteral("Name=") + escapedValue(name) + QLatin1Char('\n');
    if (!m_description.isEmpty())
        text += QStringLiteral("Comment=") + escapedValue(m_description) + QLatin1Char('\n');
    if (!m_icon.isEmpty())
        text += QStringLiteral("Icon=") + escapedValue(QDir::fromNativeSeparators(m_icon)) + QLatin1Char('\n');
    return text;
}

bool ShellLink::save(const QString &lnkPath) const
{
    const QString file = hostFilePath(QDir::fromNativeSeparators(lnkPath));
    const QFileInfo info(file);
    QSaveFile out(file);
    bool ok = makePath(info.absolutePath()) && out.open(QIODevice::WriteOnly);
    if (ok) {
        const QString name = QFileInfo(QDir::fromNativeSeparators(lnkPath)).completeBaseName();
        out.write(launcherText(name).toUtf8());
        ok = out.commit();
    }
    if (!ok) {
        qCWarning(zelHost, "cannot write shortcut %s: %s", qUtf8Printable(file),
            qUtf8Printable(
                out.error() == QFileDevice::NoError ? QStringLiteral("cannot make its folder") : out.errorString()));
        return false;
    }
    // Desktops start only launchers that are marked executable.
    QFile::setPermissions(file, QFile::permissions(file) | QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther);
    return true;
}

bool ShellLink::remove(const QString &lnkPath)
{
    return QFile::remove(hostFilePath(QDir::fromNativeSeparators(lnkPath)));
}
