#include "app/ZelManagerLauncher.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLocale>
#include <QProcess>
#include <QTranslator>

ZelManagerLauncher::Switches ZelManagerLauncher::parseSwitches(const QStringList &arguments)
{
    Switches switches;
    for (int i = 1; i < arguments.size(); ++i) {
        if (arguments.at(i) == QLatin1String("--norelaunch"))
            switches.noRelaunch = true;
        else if (arguments.at(i) == QLatin1String("--nolibspath"))
            switches.noLibsPath = true;
    }
    return switches;
}

ZelManagerLauncher::Switches ZelManagerLauncher::parseSwitches(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return parseSwitches(arguments);
}

QString ZelManagerLauncher::programPath()
{
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
}

QString ZelManagerLauncher::programFolder(const QString &programPath)
{
    const QString path = QDir::toNativeSeparators(programPath);
    const int cut = path.lastIndexOf(QDir::separator());
    return cut > 0 ? path.left(cut) : cut == 0 ? QString(QDir::separator()) : QString();
}

QStringList ZelManagerLauncher::childArguments(const Switches &switches)
{
    QStringList arguments { QStringLiteral("--norelaunch") };
    if (switches.noLibsPath)
        arguments << QStringLiteral("--nolibspath");
    return arguments;
}

QString ZelManagerLauncher::childCommandLine(const QString &programPath, const Switches &switches)
{
    return QLatin1Char('"') + QDir::toNativeSeparators(programPath) + QLatin1Char('"') + QLatin1Char(' ')
        + childArguments(switches).join(QLatin1Char(' '));
}

QProcessEnvironment ZelManagerLauncher::childEnvironment(const QString &programPath, const QProcessEnvironment &base)
{
    QProcessEnvironment environment = base;
    const QString folder = programFolder(programPath);
    environment.insert(QStringLiteral("Path"), folder);
    environment.insert(QStringLiteral("QT_STYLE_OVERRIDE"), QStringLiteral("qtcurve"));
    environment.insert(
        QStringLiteral("QTCURVE_CONFIG_FILE"), folder + QDir::toNativeSeparators(QStringLiteral("/styles/stylerc")));
    return environment;
}

bool ZelManagerLauncher::relaunch(const QString &programPath, const Switches &switches, qint64 *pid)
{
    QProcess process;
    process.setProgram(programPath);
    process.setArguments(childArguments(switches));
    process.setProcessEnvironment(childEnvironment(programPath, QProcessEnvironment::systemEnvironment()));
    process.setStandardInputFile(QProcess::nullDevice());
    return process.startDetached(pid);
}

QStringList ZelManagerLauncher::libraryPaths(const QString &folder)
{
    QStringList paths { folder };
    const QString qtPlugins = QLibraryInfo::location(QLibraryInfo::PluginsPath);
    if (!paths.contains(qtPlugins))
        paths << qtPlugins;
    return paths;
}

void ZelManagerLauncher::installTranslations(const QString &folder)
{
    const QString locale = QLocale::system().name();
    for (const QString &file :
        { folder + QStringLiteral("/translations/zelmanager_") + locale, folder + QStringLiteral("/qt_") + locale }) {
        auto *translator = new QTranslator(QCoreApplication::instance());
        if (translator->load(file + QStringLiteral(".qm")))
            QCoreApplication::installTranslator(translator);
        else
            delete translator;
    }
}
