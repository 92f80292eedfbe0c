#include "app/ZelManager.h"
#include "app/ZelManagerLauncher.h"
#include "integration/WindowsSupport.h"
#include "style/MResourceManager.h"
#include "style/MStyle.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLocale>
#include <QTimer>
#include <QTranslator>

namespace {

void loadTranslation(QApplication &app, const QString &file)
{
    auto *translator = new QTranslator;
    if (translator->load(file))
        app.installTranslator(translator);
    else
        delete translator;
}

// ZELMANAGER_STARTUP_REPORT names a file that receives what the second stage
// set up once the main window shows; the program then quits. Used to check a
// start without a display.
void reportStartup(const QString &file, const QWidget &window, qint64 shownMs)
{
    QFile out(file);
    if (out.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        QString text = QStringLiteral("title=%1\n").arg(window.windowTitle());
        text += QStringLiteral("visible=%1\n").arg(window.isVisible() ? 1 : 0);
        text += QStringLiteral("arguments=%1\n").arg(QCoreApplication::arguments().join(QLatin1Char('|')));
        text += QStringLiteral("librarypaths=%1\n").arg(QCoreApplication::libraryPaths().join(QLatin1Char('|')));
        text += QStringLiteral("Path=%1\n").arg(QString::fromLocal8Bit(qgetenv("Path")));
        text += QStringLiteral("style=%1\n").arg(QApplication::style()->objectName());
        text += QStringLiteral("shown-ms=%1\n").arg(shownMs);
        out.write(text.toUtf8());
    }
    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
}

int runSecondStage(int argc, char **argv, bool noLibsPath)
{
    QElapsedTimer startTime;
    startTime.start();
    if (!noLibsPath)
        QCoreApplication::setLibraryPaths(ZelManagerLauncher::libraryPaths(QDir::currentPath()));
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling, true);
    QApplication app(argc, argv);
    auto *style = new MStyle;
    QApplication::setStyle(style);
    QApplication::setPalette(style->standardPalette());

    const QString folder = QFileInfo(QCoreApplication::applicationFilePath()).absolutePath();
    enableShortNameCreation();
    if (!noLibsPath)
        QCoreApplication::setLibraryPaths(ZelManagerLauncher::libraryPaths(folder));

    const QString locale = QLocale::system().name();
    loadTranslation(app, folder + QStringLiteral("/translations/zelmanager_") + locale + QStringLiteral(".qm"));
    loadTranslation(app, folder + QStringLiteral("/qt_") + locale + QStringLiteral(".qm"));
    MResourceManager::initialize();

    const QString report = QString::fromLocal8Bit(qgetenv("ZELMANAGER_STARTUP_REPORT"));
    int result = 0;
    {
        ZelManager window;
        window.setVisible(true);
        if (!report.isEmpty())
            QTimer::singleShot(
                0, &window, [&window, report, &startTime] { reportStartup(report, window, startTime.elapsed()); });
        result = app.exec();
        if (!report.isEmpty()) {
            QFile out(report);
            if (out.open(QIODevice::Append))
                out.write(QStringLiteral("exit=%1\n").arg(result).toUtf8());
        }
    }
    return result;
}

} // namespace

int main(int argc, char **argv)
{
    const ZelManagerLauncher::Switches switches = ZelManagerLauncher::parseSwitches(argc, argv);
    if (switches.noRelaunch)
        return runSecondStage(argc, argv, switches.noLibsPath);
    ZelManagerLauncher::relaunch(ZelManagerLauncher::programPath(), switches);
    return 0;
}
