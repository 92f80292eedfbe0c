#include "ui/ZelManagerPackageFilterModel.h"

#include "database/ZelManagerDatabase.h"
#include "ui/ZelManagerPackageModel.h"

#include <QTimer>

#include <algorithm>

ZelManagerPackageFilterModel::ZelManagerPackageFilterModel(QObject *parent)
    : QSortFilterProxyModel(parent)
    , m_database(ZelManagerDatabase::instance())
{
    setDynamicSortFilter(false);
    m_corpusTimer = new QTimer(this);
    m_corpusTimer->setSingleShot(true);
    m_corpusTimer->setInterval(CorpusDelayMs);
    connect(m_corpusTimer, &QTimer::timeout, this, &ZelManagerPackageFilterModel::onCorpusTimerTimeout);
    connect(m_database, &ZelManagerDatabase::packagesRequestsChanged, this,
        &ZelManagerPackageFilterModel::onPackagesRequestsChanged);
}

// Any change of the source may change the sort keys.
void ZelManagerPackageFilterModel::setSourceModel(QAbstractItemModel *model)
{
    for (const QMetaObject::Connection &connection : qAsConst(m_sourceConnections))
        disconnect(connection);
    m_sourceConnections.clear();
    m_sortKeysValid = false;
    m_packages = qobject_cast<ZelManagerPackageModel *>(model);
    QSortFilterProxyModel::setSourceModel(model);
    if (!model)
        return;
    m_corpusValid = false;
    m_textHitsValid = false;
    m_corpusTimer->start();
    // Names and descriptions change only with the rows (a reload resets the
    // model); a changed row is a changed request or state.
    auto stale = [this]() { m_sortKeysValid = false; };
    auto rowsStale = [this]() {
        m_sortKeysValid = false;
        m_corpusValid = false;
        m_textHitsValid = false;
        m_corpusTimer->start();
    };
    m_sourceConnections = {
        connect(model, &QAbstractItemModel::modelAboutToBeReset, this, rowsStale),
        connect(model, &QAbstractItemModel::dataChanged, this, stale),
        connect(model, &QAbstractItemModel::rowsInserted, this, rowsStale),
        connect(model, &QAbstractItemModel::rowsRemoved, this, rowsStale),
        connect(model, &QAbstractItemModel::layoutChanged, this, rowsStale),
    };
}

// The package model's rows are in name order already: sorted by name, the
// list keeps the source's order, which spares a sort of up to all rows at
// every search and filter change.
void ZelManagerPackageFilterModel::sort(int column, Qt::SortOrder order)
{
    m_sortKeysValid = false;
    if (m_packages && column == 0 && order == Qt::AscendingOrder && m_sortMode == SortByName)
        column = -1;
    QSortFilterProxyModel::sort(column, order);
}

void ZelManagerPackageFilterModel::setSearchText(const QString &text)
{
    if (text == m_searchText)
        return;
    m_searchText = text;
    m_sortKeysValid = false;
    m_textHitsValid = false;
    // Filtering the whole list again is much faster than letting the proxy
    // work out which of tens of thousands of rows come and go.
    invalidate();
}

void ZelManagerPackageFilterModel::setCategories(const QStringList &levels)
{
    if (levels == m_categories)
        return;
    m_categories = levels;
    m_sortKeysValid = false;
    invalidate();
}

void ZelManagerPackageFilterModel::setShowFilter(int filter)
{
    if (filter == m_showFilter)
        return;
    m_showFilter = filter;
    m_sortKeysValid = false;
    invalidate();
}

void ZelManagerPackageFilterModel::setSortMode(int mode)
{
    if (mode == m_sortMode)
        return;
    m_sortMode = mode;
    sort(0, Qt::AscendingOrder);
}

void ZelManagerPackageFilterModel::onPackagesRequestsChanged()
{
    m_sortKeysValid = false;
    invalidate();
}

// Any other source than the package model is read through the edit role and
// the database.
ZelManagerPackage ZelManagerPackageFilterModel::packageAt(int sourceRow) const
{
    if (m_packages)
        return m_packages->package(sourceRow);
    return m_database->package(nameAt(sourceRow));
}

QString ZelManagerPackageFilterModel::nameAt(int sourceRow) const
{
    if (m_packages)
        return m_packages->name(sourceRow);
    return sourceModel()->index(sourceRow, 0).data(Qt::EditRole).toString();
}

bool ZelManagerPackageFilterModel::filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const
{
    if (sourceParent.isValid())
        return false;
    if (m_packages && !m_searchText.isEmpty()) {
        if (!holdsSearchText(sourceRow))
            return false;
        const ZelManagerPackage &package = m_packages->package(sourceRow);
        return !package.isNull() && package.matches(QString(), m_showFilter) && matchesCategories(package);
    }
    const ZelManagerPackage package = packageAt(sourceRow);
    if (package.isNull() || !package.matches(m_searchText, m_showFilter))
        return false;
    return matchesCategories(package);
}

namespace {

// Ends each row's description and each name in the search corpus. A search
// text that holds it is matched record by record instead.
const QChar CorpusSeparator(0xFFFF);

} // namespace

bool ZelManagerPackageFilterModel::holdsSearchText(int sourceRow) const
{
    if (m_searchText.contains(CorpusSeparator))
        return m_packages->package(sourceRow).matches(m_searchText, 0);
    if (!m_textHitsValid)
        findSearchText();
    return sourceRow >= 0 && sourceRow < m_textHits.size() && m_textHits.at(sourceRow);
}

void ZelManagerPackageFilterModel::buildSearchCorpus() const
{
    const int rows = m_packages->rowCount();
    int size = 0;
    for (int row = 0; row < rows; ++row) {
        const ZelManagerPackage &package = m_packages->package(row);
        size += package.description().size() + package.name().size() + 2;
    }
    m_corpus.resize(size);
    m_corpusStarts.resize(rows);
    QChar *out = m_corpus.data();
    const QChar *const begin = out;
    auto put = [&out](const QString &text) {
        std::copy(text.cbegin(), text.cend(), out);
        out += text.size();
        *out++ = CorpusSeparator;
    };
    for (int row = 0; row < rows; ++row) {
        const ZelManagerPackage &package = m_packages->package(row);
        m_corpusStarts[row] = int(out - begin);
        put(package.description());
        put(package.name());
    }
    m_corpusValid = true;
}

// Joining the texts of tens of thousands of packages takes longer than a
// search itself (most of it in touching fresh memory), so it is done
// shortly after the rows change rather than at the first Return.
void ZelManagerPackageFilterModel::onCorpusTimerTimeout()
{
    if (m_packages && !m_corpusValid)
        buildSearchCorpus();
}

// A hit marks its row; the scan goes on at the next row's text.
void ZelManagerPackageFilterModel::findSearchText() const
{
    if (!m_corpusValid)
        buildSearchCorpus();
    const int rows = m_corpusStarts.size();
    m_textHits.fill(false, rows);
    int from = 0;
    while (true) {
        const int at = m_corpus.indexOf(m_searchText, from);
        if (at < 0)
            break;
        const auto next = std::upper_bound(m_corpusStarts.cbegin(), m_corpusStarts.cend(), at);
        const int row = int(next - m_corpusStarts.cbegin()) - 1;
        m_textHits[row] = true;
        if (next == m_corpusStarts.cend())
            break;
        from = *next;
    }
    m_textHitsValid = true;
}

// Only the first category of a package places it in the tree.
bool ZelManagerPackageFilterModel::matchesCategories(const ZelManagerPackage &package) const
{
    if (m_categories.isEmpty())
        return true;
    const QStringList categories = package.categories();
    if (categories.isEmpty())
        return true;
    const QStringList levels = categories.first().split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (levels.size() < m_categories.size())
        return false;
    for (int i = 0; i < m_categories.size(); ++i) {
        if (levels.at(i) != m_categories.at(i))
            return false;
    }
    return true;
}

bool ZelManagerPackageFilterModel::lessThan(const QModelIndex &left, const QModelIndex &right) const
{
    if (m_packages)
        return lessThan(*m_packages, left.row(), right.row());
    switch (m_sortMode) {
    case SortByName:
        return nameAt(left.row()) < nameAt(right.row());
    case SortByDate:
        return packageAt(left.row()).availableTime() > packageAt(right.row()).availableTime();
    case SortByStatus:
        return packageAt(left.row()).flags() > packageAt(right.row()).flags();
    default:
        return left.row() < right.row();
    }
}

// The package model's rows are in name order already, so the name order is
// the row order. Dates and flags are compared in a copy taken when the
// sorting starts: a million comparisons then read one array instead of
// records scattered over the heap.
bool ZelManagerPackageFilterModel::lessThan(const ZelManagerPackageModel &packages, int left, int right) const
{
    if (m_sortMode != SortByDate && m_sortMode != SortByStatus)
        return left < right;
    if (!m_sortKeysValid || m_sortKeys.size() != packages.rowCount()) {
        m_sortKeys.resize(packages.rowCount());
        for (int row = 0; row < m_sortKeys.size(); ++row) {
            const ZelManagerPackage &package = packages.package(row);
            m_sortKeys[row] = m_sortMode == SortByDate ? package.availableTime() : package.flags();
        }
        m_sortKeysValid = true;
    }
    return m_sortKeys.at(left) > m_sortKeys.at(right);
}
