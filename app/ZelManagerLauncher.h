#ifndef ZELMANAGERLAUNCHER_H
#define ZELMANAGERLAUNCHER_H

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// The first stage of the start: read the switches and, unless this already
// is the second stage, start the program again in its private environment.
class ZelManagerLauncher
{
public:
    struct Switches
    {
        bool noRelaunch = false;
        bool noLibsPath = false;
    };

    static Switches parseSwitches(const QStringList &arguments);
    static Switches parseSwitches(int argc, char **argv);

    // The program file of this process, read from the system.
    static QString programPath();
    static QString programFolder(const QString &programPath);

    static QStringList childArguments(const Switches &switches);
    // The command line as one text: the quoted program and the switches.
    static QString childCommandLine(const QString &programPath, const Switches &switches);
    // The caller's environment with Path, QT_STYLE_OVERRIDE and
    // QTCURVE_CONFIG_FILE set for the second stage; PATH is left alone.
    static QProcessEnvironment childEnvironment(const QString &programPath, const QProcessEnvironment &base);

    // Starts the second stage without waiting for it; false when it did not start.
    static bool relaunch(const QString &programPath, const Switches &switches, qint64 *pid = nullptr);

    // Library paths for the second stage: the given folder first. Debian's Qt
    // keeps its plug-ins (the platform plug-ins among them) in its own folder
    // rather than beside the program, so that folder follows.
    static QStringList libraryPaths(const QString &folder);

    // Installs the program's translations ("translations/zelmanager_<locale>.qm")
    // and the toolkit's ("qt_<locale>.qm") from the program's folder, for the
    // system locale; missing ones are skipped.
    static void installTranslations(const QString &folder);
};

#endif // ZELMANAGERLAUNCHER_H
