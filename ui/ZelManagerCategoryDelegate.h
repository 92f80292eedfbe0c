#ifndef ZELMANAGERCATEGORYDELEGATE_H
#define ZELMANAGERCATEGORYDELEGATE_H

#include <QStyledItemDelegate>

// Draws category rows as tool-button-like cells with 16x16 icons: the
// go-back row (empty edit text) reads "Go Back" with a back arrow; a row
// with sub-levels shows its name without the trailing " >" and a right
// arrow at its right end.
class ZelManagerCategoryDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    explicit ZelManagerCategoryDelegate(QObject *parent = nullptr);

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
};

#endif // ZELMANAGERCATEGORYDELEGATE_H
