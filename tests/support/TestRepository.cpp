#include "tests/support/TestRepository.h"

#include "database/ZelManagerDatabase.h"
#include "database/ZelManagerRepositoryUpdater.h"
#include "tests/support/TestSandbox.h"

#include <QEventLoop>
#include <QPointer>
#include <QTimer>

QUrl TestRepository::writeIndex(const QString &folder, const QByteArray &xml)
{
    TestSandbox::writeFile(folder + QStringLiteral("/packages.xml"), xml);
    return QUrl::fromLocalFile(folder);
}

QByteArray TestRepository::index(const QByteArray &packages)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<vantor-packages>\n" + packages + "</vantor-packages>\n";
}

TestRepository::Run TestRepository::update(
    ZelManagerDatabase *database, const QUrl &url, const WorkHook &hook, int timeoutMs)
{
    Run run;
    QPointer<ZelManagerRepositoryUpdater> updater = database->createUpdater(url);
    run.created = updater;
    if (!updater)
        return run;
    QEventLoop loop;
    QObject::connect(updater, QOverload<int>::of(&ZelManagerRepositoryUpdater::progress),
        [&run](int value) { run.progress.append(value); });
    QObject::connect(updater, &ZelManagerRepositoryUpdater::workChanged, [&](const QString &work) {
        run.works.append(work);
        if (hook)
            hook(updater, work);
    });
    QObject::connect(updater, &ZelManagerRepositoryUpdater::finished, [&]() {
        ++run.finishedCount;
        run.errorText = updater->errorText();
        run.work = updater->work();
        run.packageCount = updater->packageCount();
        loop.quit();
    });
    QObject::connect(updater, &QObject::destroyed, &loop, &QEventLoop::quit);
    // The updater has started (and announced its first work) before anyone
    // could listen.
    run.works.append(updater->work());
    if (hook)
        hook(updater, updater->work());
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    if (run.finishedCount == 0)
        loop.exec();
    // Late signals (a second finished(), say) would show here.
    QTimer::singleShot(20, &loop, &QEventLoop::quit);
    loop.exec();
    delete updater;
    return run;
}
