#include "tools/ZelManagerRunProgress.h"

#include "ui/ZelManagerOperationModel.h"

#include <QCoreApplication>

#include <algorithm>

namespace {

const int BarWidth = 20;
const int MaxNameWidth = 28;

} // namespace

ZelManagerRunProgress::ZelManagerRunProgress(
    const QStringList &names, ZelManagerOperationModel *model, std::FILE *out, bool terminal, QObject *parent)
    : QObject(parent)
    , m_out(out)
    , m_terminal(terminal)
    , m_model(model)
{
    ZelManagerDatabase *database = ZelManagerDatabase::instance();
    for (const QString &name : names) {
        Row row;
        row.name = name;
        row.package = database->package(name);
        m_rows.append(row);
        m_nameWidth = std::max(m_nameWidth, std::min<int>(MaxNameWidth, name.size()));
    }
    m_timer.setInterval(100);
    connect(&m_timer, &QTimer::timeout, this, &ZelManagerRunProgress::onTimerTimeout);
    if (m_model) {
        connect(
            m_model, &QAbstractItemModel::rowsAboutToBeRemoved, this, &ZelManagerRunProgress::onRowsAboutToBeRemoved);
    }
}

// A package leaves the operation list when its work is done: its status is
// final now, and may pass between two ticks of the timer.
void ZelManagerRunProgress::onRowsAboutToBeRemoved(const QModelIndex &parent, int first, int last)
{
    if (parent.isValid())
        return;
    for (int row = first; row <= last; ++row) {
        const QString name = m_model->name(row);
        for (Row &item : m_rows) {
            if (item.name != name || item.ended)
                continue;
            if (!m_terminal)
                printChanges();
            observe(item);
            item.ended = isDone(item.status);
        }
    }
}

void ZelManagerRunProgress::start()
{
    onTimerTimeout();
    m_timer.start();
}

void ZelManagerRunProgress::finish(const QHash<QString, int> &endStatus)
{
    m_timer.stop();
    for (Row &row : m_rows) {
        if (row.ended)
            continue;
        const int status = endStatus.value(row.name, -1);
        row.ended = true;
        row.status = status;
        if (status < 0) {
            row.text = QCoreApplication::translate("ZelManagerRunProgress", "Not done");
        } else {
            ZelManagerPackage shown(row.name);
            shown.setStatus(PackageStatus(status));
            row.text = shown.statusText();
        }
        if (!m_terminal && row.printed != row.text)
            std::fprintf(m_out, "%s: %s\n", qPrintable(row.name), qPrintable(row.text));
    }
    if (m_terminal)
        drawTerminal();
    std::fflush(m_out);
}

// The row's live status, until it has ended.
void ZelManagerRunProgress::observe(Row &row) const
{
    if (row.ended)
        return;
    row.status = row.package.status();
    row.progress = row.package.progress();
    row.text = row.package.statusText();
}

void ZelManagerRunProgress::onTimerTimeout()
{
    if (m_terminal)
        drawTerminal();
    else
        printChanges();
    std::fflush(m_out);
}

bool ZelManagerRunProgress::isDone(int status)
{
    return status == ZelManagerPackage::Finished || status == ZelManagerPackage::Removed
        || status == ZelManagerPackage::Error;
}

int ZelManagerRunProgress::totalPercent() const
{
    if (m_rows.isEmpty())
        return 100;
    int sum = 0;
    for (const Row &row : m_rows) {
        if (isDone(row.status))
            sum += 100;
        else if (row.status > ZelManagerPackage::Error)
            sum += qBound(0, row.progress, 100);
    }
    return sum / m_rows.size();
}

QString ZelManagerRunProgress::bar(int percent, int width)
{
    const int filled = qBound(0, percent, 100) * width / 100;
    return QLatin1Char('[') + QString(filled, QLatin1Char('#')) + QString(width - filled, QLatin1Char('-'))
        + QLatin1Char(']');
}

// Moves back over the lines drawn last time and draws every line anew.
void ZelManagerRunProgress::drawTerminal()
{
    QString text;
    if (m_drawnLines > 0)
        text += QStringLiteral("\033[%1A").arg(m_drawnLines);
    int done = 0;
    for (Row &row : m_rows) {
        observe(row);
        const bool rowDone = isDone(row.status);
        done += rowDone ? 1 : 0;
        const int percent = rowDone ? 100 : qBound(0, row.progress, 100);
        const bool known = rowDone || (row.status > ZelManagerPackage::Error && row.progress >= 0);
        text += QStringLiteral("\r\033[K%1 %2 %3 %4\n")
                    .arg(row.name.left(MaxNameWidth), -m_nameWidth)
                    .arg(row.text.left(14), -14)
                    .arg(bar(percent, BarWidth), known ? QStringLiteral("%1%").arg(percent, 3) : QString());
    }
    const int total = totalPercent();
    text += QStringLiteral("\r\033[K%1 %2 %3 %4%\n")
                .arg(QCoreApplication::translate("ZelManagerRunProgress", "Total"), -m_nameWidth)
                .arg(QCoreApplication::translate("ZelManagerRunProgress", "%1 of %2").arg(done).arg(m_rows.size()), -14)
                .arg(bar(total, BarWidth))
                .arg(total, 3);
    m_drawnLines = m_rows.size() + 1;
    std::fputs(text.toLocal8Bit().constData(), m_out);
}

void ZelManagerRunProgress::printChanges()
{
    for (Row &row : m_rows) {
        observe(row);
        if (row.text == row.printed)
            continue;
        row.printed = row.text;
        std::fprintf(m_out, "%s: %s\n", qPrintable(row.name), qPrintable(row.text));
    }
}
