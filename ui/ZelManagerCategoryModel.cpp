#include "ui/ZelManagerCategoryModel.h"

#include "database/ZelManagerCategory.h"
#include "database/ZelManagerDatabase.h"

#include <QMap>

namespace {

const QString SubLevelMark = QStringLiteral(" >");

// Whether levels begins with prefix, element by element.
bool startsWith(const QStringList &levels, const QStringList &prefix)
{
    if (levels.size() < prefix.size())
        return false;
    for (int i = 0; i < prefix.size(); ++i) {
        if (levels.at(i) != prefix.at(i))
            return false;
    }
    return true;
}

} // namespace

ZelManagerCategoryModel::ZelManagerCategoryModel(QObject *parent)
    : QAbstractListModel(parent)
    , m_database(ZelManagerDatabase::instance())
{
    setPath(QStringList());
    connect(m_database, &ZelManagerDatabase::packagesChanged, this, &ZelManagerCategoryModel::onPackagesChanged);
}

int ZelManagerCategoryModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_entries.size();
}

QVariant ZelManagerCategoryModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_entries.size())
        return QVariant();
    const QString &entry = m_entries.at(index.row());
    if (role == Qt::EditRole)
        return entry;
    if (role != Qt::DisplayRole)
        return QVariant();
    if (!entry.endsWith(SubLevelMark))
        return ZelManagerCategory::levelText(entry);
    return ZelManagerCategory::levelText(entry.chopped(SubLevelMark.size())) + SubLevelMark;
}

void ZelManagerCategoryModel::setPath(const QStringList &levels)
{
    beginResetModel();
    m_path = levels;
    m_entries.clear();
    const int depth = m_path.size();
    // Ordered by name; true when some value goes deeper than the entry.
    QMap<QString, bool> names;
    for (const QString &category : m_database->categories()) {
        const QStringList parts = category.split(QLatin1Char('/'));
        if (parts.size() <= depth || !startsWith(parts, m_path))
            continue;
        bool &deeper = names[parts.at(depth)];
        deeper = deeper || parts.size() > depth + 1;
    }
    if (!m_path.isEmpty())
        m_entries.append(QString());
    for (auto it = names.cbegin(); it != names.cend(); ++it)
        m_entries.append(it.value() ? it.key() + SubLevelMark : it.key());
    endResetModel();
}

// A level that lost its last sub-level lists nothing but the go-back row, so
// the view climbs to the nearest level that still has entries.
void ZelManagerCategoryModel::onPackagesChanged()
{
    QList<QStringList> values;
    for (const QString &category : m_database->categories())
        values.append(category.split(QLatin1Char('/')));
    QStringList levels = m_path;
    auto listsEntries = [&values](const QStringList &levels) {
        for (const QStringList &parts : qAsConst(values)) {
            if (parts.size() > levels.size() && startsWith(parts, levels))
                return true;
        }
        return false;
    };
    while (!levels.isEmpty() && !listsEntries(levels))
        levels.removeLast();
    setPath(levels);
}
