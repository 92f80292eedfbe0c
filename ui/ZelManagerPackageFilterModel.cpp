#include "ui/ZelManagerPackageFilterModel.h"

#include "database/ZelManagerDatabase.h"
#include "ui/ZelManagerPackageModel.h"

#include <QTimer>

#include <algorithm>
#include <numeric>

ZelManagerPackageFilterModel::ZelManagerPackageFilterModel(QObject *parent)
    : QAbstractProxyModel(parent)
    , m_database(ZelManagerDatabase::instance())
{
    m_corpusTimer = new QTimer(this);
    m_corpusTimer->setSingleShot(true);
    m_corpusTimer->setInterval(CorpusDelayMs);
    connect(m_corpusTimer, &QTimer::timeout, this, &ZelManagerPackageFilterModel::onCorpusTimerTimeout);
    connect(m_database, &ZelManagerDatabase::packagesRequestsChanged, this,
        &ZelManagerPackageFilterModel::onPackagesRequestsChanged);
}

void ZelManagerPackageFilterModel::setSourceModel(QAbstractItemModel *model)
{
    beginResetModel();
    for (const QMetaObject::Connection &connection : qAsConst(m_sourceConnections))
        disconnect(connection);
    m_sourceConnections.clear();
    m_packages = qobject_cast<ZelManagerPackageModel *>(model);
    QAbstractProxyModel::setSourceModel(model);
    onRowsStale();
    if (model) {
        // A changed row is a changed request or state, which the count of
        // record changes tells the kept sort orders.
        using Model = QAbstractItemModel;
        using Self = ZelManagerPackageFilterModel;
        m_sourceConnections = {
            connect(model, &Model::modelAboutToBeReset, this, &Self::onSourceAboutToBeReset),
            connect(model, &Model::modelReset, this, &Self::onSourceReset),
            connect(model, &Model::dataChanged, this, &Self::onSourceDataChanged),
            connect(model, &Model::layoutAboutToBeChanged, this, &Self::onSourceLayoutAboutToChange),
            connect(model, &Model::layoutChanged, this, &Self::onSourceLayoutChanged),
            connect(model, &Model::rowsAboutToBeInserted, this, &Self::onSourceLayoutAboutToChange),
            connect(model, &Model::rowsInserted, this, &Self::onSourceLayoutChanged),
            connect(model, &Model::rowsAboutToBeRemoved, this, &Self::onSourceLayoutAboutToChange),
            connect(model, &Model::rowsRemoved, this, &Self::onSourceLayoutChanged),
            connect(model, &Model::rowsAboutToBeMoved, this, &Self::onSourceLayoutAboutToChange),
            connect(model, &Model::rowsMoved, this, &Self::onSourceLayoutChanged),
            connect(model, &Model::columnsAboutToBeInserted, this, &Self::onSourceAboutToBeReset),
            connect(model, &Model::columnsInserted, this, &Self::onSourceReset),
            connect(model, &Model::columnsAboutToBeRemoved, this, &Self::onSourceAboutToBeReset),
            connect(model, &Model::columnsRemoved, this, &Self::onSourceReset),
            connect(model, &QObject::destroyed, this, &Self::onSourceDestroyed),
        };
    }
    filterRows();
    endResetModel();
}

// Names and descriptions change only with the rows (a reload resets the
// model); flags and dates also change in place.
void ZelManagerPackageFilterModel::onRowsStale()
{
    for (KeyOrder &order : m_keyOrders)
        order.valid = false;
    m_corpusValid = false;
    m_textHitsValid = false;
    m_categoryIndexValid = false;
    m_categoryHitsValid = false;
    m_corpusTimer->start();
}

void ZelManagerPackageFilterModel::onSourceAboutToBeReset()
{
    beginResetModel();
}

void ZelManagerPackageFilterModel::onSourceReset()
{
    onRowsStale();
    filterRows();
    endResetModel();
}

// Rows are not filtered again when their data changes; the change of the
// rows shown is passed on.
void ZelManagerPackageFilterModel::onSourceDataChanged(
    const QModelIndex &topLeft, const QModelIndex &bottomRight, const QVector<int> &roles)
{
    if (!topLeft.isValid() || topLeft.parent().isValid())
        return;
    int first = -1;
    int last = -1;
    for (int row = topLeft.row(); row <= bottomRight.row() && row < m_shownRows.size(); ++row) {
        const int shown = m_shownRows.at(row);
        if (shown < 0)
            continue;
        first = first < 0 ? shown : std::min(first, shown);
        last = std::max(last, shown);
    }
    if (first >= 0)
        emit dataChanged(index(first, topLeft.column()), index(last, bottomRight.column()), roles);
}

// Rows inserted, removed or moved in the source are a change of layout
// here: persistent indexes follow their source rows.
void ZelManagerPackageFilterModel::onSourceLayoutAboutToChange()
{
    emit layoutAboutToBeChanged();
    m_layoutIndexes = persistentIndexList();
    m_layoutSources.clear();
    for (const QModelIndex &index : qAsConst(m_layoutIndexes))
        m_layoutSources.append(QPersistentModelIndex(mapToSource(index)));
}

void ZelManagerPackageFilterModel::onSourceLayoutChanged()
{
    onRowsStale();
    filterRows();
    QModelIndexList moved;
    for (const QPersistentModelIndex &source : qAsConst(m_layoutSources))
        moved.append(mapFromSource(source));
    changePersistentIndexList(m_layoutIndexes, moved);
    m_layoutIndexes.clear();
    m_layoutSources.clear();
    emit layoutChanged();
}

void ZelManagerPackageFilterModel::onSourceDestroyed()
{
    beginResetModel();
    m_rows.clear();
    m_shownRows.clear();
    endResetModel();
}

QModelIndex ZelManagerPackageFilterModel::index(int row, int column, const QModelIndex &parent) const
{
    if (parent.isValid() || row < 0 || row >= m_rows.size() || column < 0 || column >= columnCount())
        return QModelIndex();
    return createIndex(row, column);
}

QModelIndex ZelManagerPackageFilterModel::parent(const QModelIndex &) const
{
    return QModelIndex();
}

int ZelManagerPackageFilterModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_rows.size();
}

int ZelManagerPackageFilterModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() || !sourceModel() ? 0 : sourceModel()->columnCount();
}

bool ZelManagerPackageFilterModel::hasChildren(const QModelIndex &parent) const
{
    return !parent.isValid() && !m_rows.isEmpty() && columnCount() > 0;
}

QModelIndex ZelManagerPackageFilterModel::mapToSource(const QModelIndex &proxyIndex) const
{
    if (!proxyIndex.isValid() || proxyIndex.model() != this || proxyIndex.row() >= m_rows.size() || !sourceModel())
        return QModelIndex();
    return sourceModel()->index(m_rows.at(proxyIndex.row()), proxyIndex.column());
}

QModelIndex ZelManagerPackageFilterModel::mapFromSource(const QModelIndex &sourceIndex) const
{
    if (!sourceIndex.isValid() || sourceIndex.model() != sourceModel() || sourceIndex.parent().isValid())
        return QModelIndex();
    const int row = sourceIndex.row();
    if (row >= m_shownRows.size() || m_shownRows.at(row) < 0)
        return QModelIndex();
    return index(m_shownRows.at(row), sourceIndex.column());
}

// The package model's rows are in name order already: sorted by name, the
// list keeps the source's order.
void ZelManagerPackageFilterModel::sort(int column, Qt::SortOrder order)
{
    m_sortColumn = column;
    m_sortOrder = order;
    relayout(QAbstractItemModel::VerticalSortHint);
}

void ZelManagerPackageFilterModel::invalidate()
{
    relayout(QAbstractItemModel::NoLayoutChangeHint);
}

void ZelManagerPackageFilterModel::relayout(QAbstractItemModel::LayoutChangeHint hint)
{
    emit layoutAboutToBeChanged(QList<QPersistentModelIndex>(), hint);
    const QModelIndexList before = persistentIndexList();
    QVector<int> sourceRows;
    sourceRows.reserve(before.size());
    for (const QModelIndex &index : before)
        sourceRows.append(m_rows.value(index.row(), -1));
    filterRows();
    QModelIndexList after;
    for (int i = 0; i < before.size(); ++i) {
        const int row = sourceRows.at(i);
        const int shown = row >= 0 && row < m_shownRows.size() ? m_shownRows.at(row) : -1;
        after.append(shown < 0 ? QModelIndex() : index(shown, before.at(i).column()));
    }
    changePersistentIndexList(before, after);
    emit layoutChanged(QList<QPersistentModelIndex>(), hint);
}

void ZelManagerPackageFilterModel::setSearchText(const QString &text)
{
    if (text == m_searchText)
        return;
    m_searchText = text;
    m_textHitsValid = false;
    invalidate();
}

void ZelManagerPackageFilterModel::setCategories(const QStringList &levels)
{
    if (levels == m_categories)
        return;
    m_categories = levels;
    m_categoryHitsValid = false;
    invalidate();
}

void ZelManagerPackageFilterModel::setShowFilter(int filter)
{
    if (filter == m_showFilter)
        return;
    m_showFilter = filter;
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
    invalidate();
}

// The package model is walked in the order shown and only filtered; any
// other source is filtered and then sorted.
void ZelManagerPackageFilterModel::filterRows()
{
    m_rows.clear();
    QAbstractItemModel *model = sourceModel();
    const int rows = model ? model->rowCount() : 0;
    m_shownRows.fill(-1, rows);
    if (rows == 0)
        return;
    const bool byKey = m_packages && m_sortColumn == 0 && (m_sortMode == SortByDate || m_sortMode == SortByStatus);
    // The name order of the package model and the source's order are the
    // row order; a descending sort of them the reverse.
    const bool sortedAfter = !m_packages && m_sortColumn >= 0;
    const bool reversed = m_sortOrder == Qt::DescendingOrder && !sortedAfter;
    if (byKey) {
        for (int row : rowsByKey()) {
            if (acceptsPackageRow(row))
                m_rows.append(row);
        }
    } else {
        for (int row = 0; row < rows; ++row) {
            const int source = reversed ? rows - 1 - row : row;
            if (m_packages ? acceptsPackageRow(source) : filterAcceptsRow(source, QModelIndex()))
                m_rows.append(source);
        }
        if (sortedAfter)
            sortKept(m_rows);
    }
    for (int shown = 0; shown < m_rows.size(); ++shown)
        m_shownRows[m_rows.at(shown)] = shown;
}

// Sorted again only when a record's keys may have changed since (a
// bookmark changes the flags without a signal) or the rows changed. Equal
// keys keep the name order.
const QVector<int> &ZelManagerPackageFilterModel::rowsByKey()
{
    const bool byDate = m_sortMode == SortByDate;
    KeyOrder &order = m_keyOrders[byDate ? 0 : 1];
    const int rows = m_packages->rowCount();
    const quint64 changes = ZelManagerPackage::sortKeyChanges();
    if (order.valid && order.order == m_sortOrder && order.keyChanges == changes && order.rows.size() == rows)
        return order.rows;
    QVector<qint64> keys(rows);
    for (int row = 0; row < rows; ++row) {
        const ZelManagerPackage &package = m_packages->package(row);
        keys[row] = byDate ? package.availableTime() : package.flags();
    }
    order.order = m_sortOrder;
    order.keyChanges = changes;
    order.valid = true;
    order.rows.resize(rows);
    std::iota(order.rows.begin(), order.rows.end(), 0);
    if (m_sortOrder == Qt::AscendingOrder)
        std::stable_sort(order.rows.begin(), order.rows.end(), [&keys](int l, int r) { return keys[l] > keys[r]; });
    else
        std::stable_sort(order.rows.begin(), order.rows.end(), [&keys](int l, int r) { return keys[l] < keys[r]; });
    return order.rows;
}

void ZelManagerPackageFilterModel::sortKept(QVector<int> &rows) const
{
    QAbstractItemModel *model = sourceModel();
    auto less = [this, model](int left, int right) { return lessThan(model->index(left, 0), model->index(right, 0)); };
    if (m_sortOrder == Qt::AscendingOrder)
        std::stable_sort(rows.begin(), rows.end(), less);
    else
        std::stable_sort(rows.begin(), rows.end(), [&less](int left, int right) { return less(right, left); });
}

bool ZelManagerPackageFilterModel::acceptsPackageRow(int sourceRow) const
{
    if (!m_searchText.isEmpty() && !holdsSearchText(sourceRow))
        return false;
    const ZelManagerPackage &package = m_packages->package(sourceRow);
    return !package.isNull() && package.matches(QString(), m_showFilter)
        && (m_categories.isEmpty() || rowInCategories(sourceRow));
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

// Only the first category of a package places it in the tree, and few
// packages have a text of their own: the rows are numbered by their first
// category at the first pass that needs it, so that later passes read no
// record (reading 60,000 scattered records is most of a pass).
void ZelManagerPackageFilterModel::buildCategoryIndex() const
{
    const int rows = m_packages->rowCount();
    QHash<QString, int> numbers;
    m_categoryTexts.clear();
    m_categoryOfRow.resize(rows);
    for (int row = 0; row < rows; ++row) {
        const QStringList categories = m_packages->package(row).categories();
        if (categories.isEmpty()) {
            m_categoryOfRow[row] = -1;
            continue;
        }
        auto it = numbers.constFind(categories.first());
        if (it == numbers.cend()) {
            it = numbers.insert(categories.first(), m_categoryTexts.size());
            m_categoryTexts.append(categories.first());
        }
        m_categoryOfRow[row] = it.value();
    }
    m_categoryIndexValid = true;
    m_categoryHitsValid = false;
}

bool ZelManagerPackageFilterModel::rowInCategories(int sourceRow) const
{
    if (!m_categoryIndexValid)
        buildCategoryIndex();
    if (!m_categoryHitsValid) {
        m_categoryHits.resize(m_categoryTexts.size());
        for (int i = 0; i < m_categoryTexts.size(); ++i)
            m_categoryHits[i] = matchesFirstCategory(m_categoryTexts.at(i));
        m_categoryHitsValid = true;
    }
    const int number = sourceRow >= 0 && sourceRow < m_categoryOfRow.size() ? m_categoryOfRow.at(sourceRow) : -1;
    return number < 0 || m_categoryHits.at(number);
}

bool ZelManagerPackageFilterModel::matchesCategories(const ZelManagerPackage &package) const
{
    if (m_categories.isEmpty())
        return true;
    const QStringList categories = package.categories();
    return categories.isEmpty() || matchesFirstCategory(categories.first());
}

bool ZelManagerPackageFilterModel::matchesFirstCategory(const QString &first) const
{
    const QStringList levels = first.split(QLatin1Char('/'), Qt::SkipEmptyParts);
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
