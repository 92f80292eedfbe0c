#ifndef ZELMANAGERPACKAGEFILTERMODEL_H
#define ZELMANAGERPACKAGEFILTERMODEL_H

#include "database/ZelManagerPackage.h"

#include <QPointer>
#include <QSortFilterProxyModel>
#include <QStringList>
#include <QVector>

class QTimer;
class ZelManagerDatabase;
class ZelManagerPackageModel;

// The package list as the packages panel shows it: filtered by search text,
// show filter and category, sorted by name, date or status. It filters and
// sorts again only when one of these changes or a request changes, never
// on its own.
class ZelManagerPackageFilterModel : public QSortFilterProxyModel
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
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

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
    void onPackagesRequestsChanged();
    void onCorpusTimerTimeout();

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const override;
    bool lessThan(const QModelIndex &left, const QModelIndex &right) const override;

private:
    ZelManagerPackage packageAt(int sourceRow) const;
    QString nameAt(int sourceRow) const;
    bool matchesCategories(const ZelManagerPackage &package) const;
    bool lessThan(const ZelManagerPackageModel &packages, int left, int right) const;
    // Whether a source row of the package model holds the search text, from
    // one pass over all names and descriptions.
    bool holdsSearchText(int sourceRow) const;
    void findSearchText() const;
    void buildSearchCorpus() const;

    int m_showFilter = 0;
    int m_sortMode = SortByName;
    QString m_searchText;
    QStringList m_categories;
    ZelManagerDatabase *m_database;
    // The source when it is a package model, which hands out records by row.
    QPointer<ZelManagerPackageModel> m_packages;
    QList<QMetaObject::Connection> m_sourceConnections;
    // Dates or flags by source row, valid from the start of a sort until
    // something that may change them.
    mutable QVector<qint64> m_sortKeys;
    mutable bool m_sortKeysValid = false;
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
};

#endif // ZELMANAGERPACKAGEFILTERMODEL_H
