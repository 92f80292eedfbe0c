// zelupdate: reads the index of every enabled repository into the package
// database of the current settings, as the program's update does, without
// a window. Prints one line per repository; exits with 1 when one failed.

#include "database/ZelManagerDatabase.h"
#include "database/ZelManagerRepositoryUpdater.h"
#include "settings/ZelManagerSettings.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <cstdio>

namespace {

const char Usage[] = "usage: zelupdate\n"
                     "  read the index of every enabled repository into the package database\n"
                     "  (settings, install folder and repositories as the program would use them)\n";

// Runs one repository's update to its end; the empty text on success.
QString update(ZelManagerDatabase *database, const QUrl &url, int *packages)
{
    ZelManagerRepositoryUpdater *updater = database->createUpdater(url);
    if (!updater)
        return QStringLiteral("the repository's database can not be opened");
    QEventLoop loop;
    QObject::connect(updater, &ZelManagerRepositoryUpdater::finished, &loop, &QEventLoop::quit);
    loop.exec();
    const QString error = updater->errorText();
    *packages = updater->packageCount();
    delete updater;
    return error;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (app.arguments().size() > 1) {
        std::fputs(Usage, app.arguments().at(1) == QLatin1String("--help") ? stdout : stderr);
        return app.arguments().at(1) == QLatin1String("--help") ? 0 : 2;
    }
    ZelManagerDatabase *database = ZelManagerDatabase::instance();
    ZelManagerSettings *settings = ZelManagerSettings::instance();
    bool ok = true;
    database->beginTransaction();
    for (const QUrl &url : settings->repositories()) {
        if (!settings->isRepositoryEnabled(url))
            continue;
        int packages = 0;
        const QString error = update(database, url, &packages);
        if (error.isEmpty()) {
            std::printf("%s: %d packages\n", qPrintable(url.toString()), packages);
        } else {
            std::fprintf(stderr, "zelupdate: %s: %s\n", qPrintable(url.toString()), qPrintable(error));
            ok = false;
        }
    }
    database->endTransaction(true);
    ZelManagerDatabase::cleanup();
    return ok ? 0 : 1;
}
