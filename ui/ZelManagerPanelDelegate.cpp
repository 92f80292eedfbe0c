#include "ui/ZelManagerPanelDelegate.h"

#include <QApplication>
#include <QStyle>
#include <QWidget>
#include <cmath>

ZelManagerPanelDelegate::ZelManagerPanelDelegate(QObject *parent)
    : QStyledItemDelegate(parent)
{
}

QSize ZelManagerPanelDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &) const
{
    // No preferred width: the view gives every row its full width.
    return QSize(0, rowHeight(option));
}

int ZelManagerPanelDelegate::rowHeight(const QStyleOptionViewItem &option)
{
    const QWidget *widget = option.widget;
    const qreal ratio = widget ? widget->window()->devicePixelRatioF() : qApp->devicePixelRatio();
    const QStyle *style = widget ? widget->style() : QApplication::style();
    const int line = option.fontMetrics.height() + int(std::lround(2 * ratio));
    return 2 * line + 2 * style->pixelMetric(QStyle::PM_ButtonMargin, &option, widget);
}
