#ifndef ZELMANAGERPACKAGEFILTERMODEL_H
#define ZELMANAGERPACKAGEFILTERMODEL_H

#include "database/ZelManagerPackage.h"

#include <QAbstractProxyModel>
#include <QPersistentModelIndex>
#include <QPointer>
#include <QStringList>
#include <QVector>

class QTimer;
class ZelManagerDatabase;
class ZelManagerPackageModel;

// The package list as the packages panel shows it: filtered by search text,
// show filter and category, sorted by name, date or status. It filters and
// sorts again only when one of these changes or a request changes, never
// on its own.
//
// A flat proxy that keeps, per sort mode, the whole source in that order
// (sorted again only when the keys change), so that a search or a filter
// change is one pass over an ordered sequence and never a sort of the rows
// it keeps. Like a sort-filter proxy without dynamic sorting, it tells a
// change of its rows as a layout change and keeps persistent indexes on
// their records.
class ZelManagerPackageFilterModel : public QAbstractProxyModel
{
    Q_OBJECT

public:
    enum SortMode {
        SortByName = 0,
        SortByDate = 1, // newest offered build first
        SortByStatus = 2, // larger flags word first
    };

    explicit ZelManagerPackageFilterModel(QObject *parent = nullptr);

    void setSourceModel(QAbstractItemModel *model) override;
    // Column 0 orders by the sort mode, -1 keeps the source's order; the
    // descending order turns the comparison round (equal keys keep the
    // source's order).
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;
    int sortColumn() const { return m_sortColumn; }
    Qt::SortOrder sortOrder() const { return m_sortOrder; }

    QModelIndex index(int row, int column, const QModelIndex &parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex &child) const override;
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    bool hasChildren(const QModelIndex &parent = QModelIndex()) const override;
    QModelIndex mapToSource(const QModelIndex &proxyIndex) const override;
    QModelIndex mapFromSource(const QModelIndex &sourceIndex) const override;

    QString searchText() const { return m_searchText; }
    // Case-sensitive, in the name or the description.
    void setSearchText(const QString &text);
    QStringList categories() const { return m_categories; }
    // Category levels from the top; a package without category always passes.
    void setCategories(const QStringList &levels);
    int showFilter() const { return m_showFilter; }
    // A request value (0x1f00 for any request), a state bit (0x2 available,
    // 0x4 installed, 0x8 upgradable) and/or FlagBookmarked; 0 shows all.
    void setShowFilter(int filter);
    int sortMode() const { return m_sortMode; }
    // A SortMode; any other value keeps the order of the source.
    void setSortMode(int mode);

public slots:
    // Filters and sorts again with the records as they are now.
    void invalidate();
    void onPackagesRequestsChanged();
    void onCorpusTimerTimeout();

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const;
    bool lessThan(const QModelIndex &left, const QModelIndex &right) const;

private:
    // The package model's rows in one sort mode's order, as of a count of
    // record changes.
    struct KeyOrder
    {
        QVector<int> rows;
        Qt::SortOrder order = Qt::AscendingOrder;
        quint64 keyChanges = 0;
        bool valid = false;
    };

    void onSourceAboutToBeReset();
    void onSourceReset();
    void onSourceDataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight, const QVector<int> &roles);
    void onSourceLayoutAboutToChange();
    void onSourceLayoutChanged();
    void onSourceDestroyed();
    void onRowsStale();

    // Chooses the rows shown and their order, keeping persistent indexes on
    // their source rows; emits the layout change around it.
    void relayout(QAbstractItemModel::LayoutChangeHint hint);
    void filterRows();
    // The package model's rows in the order of a sort by date or status.
    const QVector<int> &rowsByKey();
    void sortKept(QVector<int> &rows) const;
    bool acceptsPackageRow(int sourceRow) const;

    ZelManagerPackage packageAt(int sourceRow) const;
    QString nameAt(int sourceRow) const;
    bool matchesCategories(const ZelManagerPackage &package) const;
    bool matchesFirstCategory(const QString &first) const;
    // Whether a row of the package model lies in the chosen categories.
    bool rowInCategories(int sourceRow) const;
    void buildCategoryIndex() const;
    // Whether a source row of the package model holds the search text, from
    // one pass over all names and descriptions.
    bool holdsSearchText(int sourceRow) const;
    void findSearchText() const;
    void buildSearchCorpus() const;

    int m_showFilter = 0;
    int m_sortMode = SortByName;
    int m_sortColumn = -1;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
    QString m_searchText;
    QStringList m_categories;
    ZelManagerDatabase *m_database;
    // The source when it is a package model, which hands out records by row.
    QPointer<ZelManagerPackageModel> m_packages;
    QList<QMetaObject::Connection> m_sourceConnections;
    // Shown row to source row, and source row to shown row (-1 when hidden).
    QVector<int> m_rows;
    QVector<int> m_shownRows;
    // By date and by status.
    KeyOrder m_keyOrders[2];
    // What persistent indexes pointed to while the source changes its layout.
    QModelIndexList m_layoutIndexes;
    QVector<QPersistentModelIndex> m_layoutSources;
    // Every row's description and name, each followed by a separator, in
    // one string: a search is one scan of contiguous memory instead of two
    // per record scattered over the heap. Valid until the source changes.
    // Built at the latest by the first search after a change, or earlier by
    // the timer once the rows have been quiet for a while.
    enum { CorpusDelayMs = 250 };
    QTimer *m_corpusTimer;
    mutable QString m_corpus;
    mutable QVector<int> m_corpusStarts; // offset of each row's text
    mutable bool m_corpusValid = false;
    // The rows that hold the search text; valid until it or the source changes.
    mutable QVector<bool> m_textHits;
    mutable bool m_textHitsValid = false;
    // Each row's first category as a number into m_categoryTexts (-1: none),
    // valid until the source changes; and whether each of those texts lies
    // in the chosen categories, valid until they or the texts change.
    mutable QStringList m_categoryTexts;
    mutable QVector<int> m_categoryOfRow;
    mutable bool m_categoryIndexValid = false;
    mutable QVector<bool> m_categoryHits;
    mutable bool m_categoryHitsValid = false;
};

#endif // ZELMANAGERPACKAGEFILTERMODEL_H
