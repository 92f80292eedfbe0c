#ifndef ZELMANAGERPACKAGEDELEGATE_H
#define ZELMANAGERPACKAGEDELEGATE_H

#include "ui/ZelManagerPanelDelegate.h"

#include <QPersistentModelIndex>
#include <QRect>

class ZelManagerPackage;

// Draws one package per row: the package image, name and description, and
// the faces of the two buttons the packages panel lays over the row's right
// end (bookmark, then operation with the status icon). Rows are looked up in
// the database by the name the model gives in the edit role.
class ZelManagerPackageDelegate : public ZelManagerPanelDelegate
{
    Q_OBJECT

public:
    explicit ZelManagerPackageDelegate(QObject *parent = nullptr);

    // The side of the overlay buttons' squares.
    int buttonSize() const { return m_buttonSize; }
    void setButtonSize(int size) { m_buttonSize = size; }
    // While the operation menu of row is open its button is drawn pressed.
    bool isOperationMenuOpen() const { return m_operationMenuOpen; }
    void setOperationMenuOpen(bool open, const QModelIndex &row = QModelIndex());

    // The overlay buttons' squares within a row's rectangle.
    static QRect bookmarkRect(const QRect &row, int size);
    static QRect operationRect(const QRect &row, int size);

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    bool helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
        const QModelIndex &index) override;

private:
    void paintButtonFace(QPainter *painter, const QStyleOptionViewItem &option, const QRect &rect, const QString &icon,
        bool pressed) const;
    void paintTexts(QPainter *painter, const QStyleOptionViewItem &option, const QRect &rect,
        const ZelManagerPackage &package) const;

    int m_buttonSize = 24;
    bool m_operationMenuOpen = false;
    QPersistentModelIndex m_menuRow;
};

#endif // ZELMANAGERPACKAGEDELEGATE_H
