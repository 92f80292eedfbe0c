#ifndef ZELMANAGERRUNPROGRESS_H
#define ZELMANAGERRUNPROGRESS_H

#include "database/ZelManagerDatabase.h"
#include "database/ZelManagerPackage.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QVector>

#include <cstdio>

// Shows an apply run on a text stream while it goes on. On a terminal: one
// line per package (name, status text, a bar and the percentage) and a
// total line, redrawn in place ten times a second. Otherwise plain lines,
// one each time a package's status changes, so that a log shows the run's
// course without control characters.
class ZelManagerOperationModel;

class ZelManagerRunProgress : public QObject
{
    Q_OBJECT

public:
    // names: the packages of the run, in the order to show them. model: the
    // run's operation model, whose rows go when their package is done.
    ZelManagerRunProgress(const QStringList &names, ZelManagerOperationModel *model, std::FILE *out, bool terminal,
        QObject *parent = nullptr);

    void start();
    // Draws the final state and stops. The run's closing refresh resets the
    // records' statuses, so the caller names the end state of each package
    // (Finished, Removed or Error); a package without one is shown as not done.
    void finish(const QHash<QString, int> &endStatus);

    // "[#####-----]" of width characters for a percentage.
    static QString bar(int percent, int width);

private slots:
    void onTimerTimeout();
    void onRowsAboutToBeRemoved(const QModelIndex &parent, int first, int last);

private:
    struct Row
    {
        QString name;
        ZelManagerPackage package;
        int status = -1;
        int progress = 0;
        QString text;
        QString printed; // the text of the last plain line
        bool ended = false; // status and text are final
    };

    void drawTerminal();
    void printChanges();
    void observe(Row &row) const;
    static bool isDone(int status);
    int totalPercent() const;

    QVector<Row> m_rows;
    std::FILE *m_out;
    bool m_terminal;
    int m_drawnLines = 0;
    int m_nameWidth = 0;
    QTimer m_timer;
    ZelManagerOperationModel *m_model;
};

#endif // ZELMANAGERRUNPROGRESS_H
