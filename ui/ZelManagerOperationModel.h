#ifndef ZELMANAGEROPERATIONMODEL_H
#define ZELMANAGEROPERATIONMODEL_H

#include "database/ZelManagerPackage.h"
#include "ui/ZelManagerProgressRing.h"

#include <QAbstractListModel>
#include <QHash>
#include <QStringList>
#include <QVector>

#include <atomic>
#include <memory>

class QTimer;
class ZelManagerDatabase;

// The requested packages of an apply run, one row each, and the channel by
// which the run's worker threads report progress to the views.
//
// Progress channel. Workers call setProgress(), setStatus() or
// updatePackage() from any thread; the model's thread repaints the rows. A
// call on the model's own thread emits dataChanged at once. Any other thread
// pushes the package's key into a ZelManagerProgressRing that a 100 ms timer
// drains on the model's thread, so a worker never waits for the user
// interface (unless 4096 reports wait already) and no mutex is taken.
//
// Keys instead of row numbers: rows move when finished packages are removed
// on the model's thread while workers report, so a worker never reads the
// row list. A key is the package's place in the list made by the last
// refresh(), which stays fixed until the next refresh; the consumer maps it
// to the current row. A per-key pending mark (set by the producer, cleared
// by the consumer before it emits) keeps a package that reports faster than
// the timer drains from taking more than one slot; the view reads the latest
// value when it repaints, so nothing is lost.
//
// refresh() must not run while workers report; the apply run calls it
// before it starts them.
class ZelManagerOperationModel : public QAbstractListModel
{
    Q_OBJECT

public:
    // Throws std::bad_alloc when the ring cannot be allocated.
    explicit ZelManagerOperationModel(QObject *parent = nullptr);
    ~ZelManagerOperationModel() override;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    // Edit role: the package name; tool tip: the package's error messages.
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

    // Rebuilds the rows from the requests held by the database.
    void refresh();
    // Drops a package whose work is done.
    void removePackage(const QString &name);

    // Any thread. Both do nothing for a package the database does not hold.
    void setProgress(const QString &name, int value);
    // From another thread the record is updated on the model's thread (the
    // status message is a plain string that views read there).
    void setStatus(const QString &name, PackageStatus status, const QString &message = QString());

    QString name(int row) const { return m_rows.value(row); }
    int rowOf(const QString &name) const;
    // Install, upgrade and reinstall requests.
    QStringList installNames() const { return m_installNames; }
    QStringList removeNames() const { return m_removeNames; }
    QStringList rows() const { return m_rows; }
    // Requested package -> the other requested packages that depend on it.
    QHash<QString, QStringList> requestedDependants() const { return m_requestedDependants; }
    // Requested package -> the other requested packages it depends on.
    QHash<QString, QStringList> requestedDependencies() const { return m_requestedDependencies; }

signals:
    void packageCountChanged(int count);

public slots:
    void onUpdateTimerTimeout();
    // Repaints the row of name; any thread.
    void updatePackage(const QString &name);

private:
    void emitKeyChanged(int key);
    ZelManagerPackage record(const QString &name) const;
    void resetKeys();
    void collectRequests(QStringList &requested);
    void collectRelations(const QStringList &requested);

    QTimer *m_timer;
    ZelManagerProgressRing m_ring;
    QStringList m_installNames;
    QStringList m_removeNames;
    QStringList m_rows;
    ZelManagerDatabase *m_database;
    QHash<QString, QStringList> m_requestedDependants;
    QHash<QString, QStringList> m_requestedDependencies;

    // Fixed between two refreshes (workers read them): the key of each name
    // (its row at the refresh), the records and the pending marks by key.
    QHash<QString, int> m_keyOf;
    QVector<ZelManagerPackage> m_keyRecords;
    std::unique_ptr<std::atomic<bool>[]> m_pending;
    // The model's thread only: the current row of each key, -1 once removed.
    QVector<int> m_keyRow;
};

#endif // ZELMANAGEROPERATIONMODEL_H
