#ifndef TESTREPOSITORY_H
#define TESTREPOSITORY_H

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>

class ZelManagerDatabase;
class ZelManagerRepositoryUpdater;

// Repository folders for tests and a complete run of the database's
// repository updater, as the update panel drives it (event loop turning).
class TestRepository
{
public:
    // What one update run showed.
    struct Run
    {
        bool created = false; // createUpdater() gave an updater
        int finishedCount = 0; // finished() emissions (must be 1)
        QString errorText;
        QString work; // work() after finished()
        QStringList works; // every workChanged() text, in order
        QList<int> progress; // every progress(int) value, in order
        int packageCount = 0;
    };
    // Called with the updater on every workChanged(), to cancel it or to
    // schedule its deletion.
    using WorkHook = std::function<void(ZelManagerRepositoryUpdater *updater, const QString &work)>;

    // Writes folder/packages.xml and returns the folder's file URL.
    static QUrl writeIndex(const QString &folder, const QByteArray &xml);
    // A minimal index: the root element around the given package elements.
    static QByteArray index(const QByteArray &packages);

    // Runs database->createUpdater(url) to its end (at most timeoutMs) and
    // deletes the updater, unless the hook did.
    static Run update(
        ZelManagerDatabase *database, const QUrl &url, const WorkHook &hook = WorkHook(), int timeoutMs = 60000);
};

#endif // TESTREPOSITORY_H
