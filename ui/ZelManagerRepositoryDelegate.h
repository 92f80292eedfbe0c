#ifndef ZELMANAGERREPOSITORYDELEGATE_H
#define ZELMANAGERREPOSITORYDELEGATE_H

#include <QStyledItemDelegate>

// Draws the repository list of the preferences: label and URL with the
// enabled state for a repository row, an invitation for the add row.
class ZelManagerRepositoryDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    explicit ZelManagerRepositoryDelegate(QObject *parent = nullptr);

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;

    // Two text lines, at least 32 pixels, plus the button margins.
    static int rowHeight(const QStyleOptionViewItem &option);
};

#endif // ZELMANAGERREPOSITORYDELEGATE_H
