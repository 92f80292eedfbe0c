#include "ui/ZelManagerRepositoryDelegate.h"

#include "ui/ZelManagerRepositoryModel.h"

#include <QApplication>
#include <QIcon>
#include <QPainter>
#include <QStyle>

namespace {

const int IconSize = 32;

} // namespace

ZelManagerRepositoryDelegate::ZelManagerRepositoryDelegate(QObject *parent)
    : QStyledItemDelegate(parent)
{
}

int ZelManagerRepositoryDelegate::rowHeight(const QStyleOptionViewItem &option)
{
    const QWidget *widget = option.widget;
    const QStyle *style = widget ? widget->style() : QApplication::style();
    int height = 2 * option.fontMetrics.height();
    if (height <= 30)
        height = 32;
    return height + 2 * style->pixelMetric(QStyle::PM_ButtonMargin, &option, widget);
}

QSize ZelManagerRepositoryDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &) const
{
    return QSize(0, rowHeight(option));
}

void ZelManagerRepositoryDelegate::paint(
    QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    const QWidget *widget = option.widget;
    const QStyle *style = widget ? widget->style() : QApplication::style();
    const int margin = style->pixelMetric(QStyle::PM_ButtonMargin, &option, widget);
    const QPalette &palette = option.palette;
    const QRect rect = option.rect;
    const bool selected = option.state & QStyle::State_Selected;

    painter->save();
    painter->fillRect(rect, selected ? palette.highlight() : palette.base());
    const QColor text = selected ? palette.highlightedText().color() : palette.text().color();
    const QRect iconRect(rect.left() + margin, rect.top() + (rect.height() - IconSize) / 2, IconSize, IconSize);
    const int left = iconRect.right() + margin;
    const int line = option.fontMetrics.height();
    const int top = rect.top() + (rect.height() - 2 * line) / 2;
    const QRect first(left, top, rect.right() - margin - left, line);
    const QRect second = first.translated(0, line);

    const QString urlText = index.data(ZelManagerRepositoryModel::UrlRole).toString();
    if (urlText.isEmpty()) {
        // The add row.
        QIcon(QStringLiteral(":/images/list-add.svg")).paint(painter, iconRect);
        painter->setPen(text.lighter(150));
        painter->drawText(
            rect.adjusted(left - rect.left(), 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, tr("Add a repository ..."));
    } else {
        const bool enabled = index.data(Qt::EditRole).toBool();
        QIcon(QStringLiteral(":/images/applications-internet.svg"))
            .paint(painter, iconRect, Qt::AlignCenter, enabled ? QIcon::Normal : QIcon::Disabled);
        painter->setPen(enabled ? text : text.lighter(170));
        const QString label = index.data(Qt::DisplayRole).toString();
        painter->drawText(first, Qt::AlignLeft | Qt::AlignVCenter,
            option.fontMetrics.elidedText(
                enabled ? label : tr("%1 (disabled)").arg(label), Qt::ElideRight, first.width()));
        painter->setPen(text.lighter(200));
        painter->drawText(second, Qt::AlignLeft | Qt::AlignVCenter,
            option.fontMetrics.elidedText(urlText, Qt::ElideMiddle, second.width()));
    }
    painter->setPen(palette.button().color().darker(131));
    painter->drawLine(rect.bottomLeft(), rect.bottomRight());
    painter->restore();
}
