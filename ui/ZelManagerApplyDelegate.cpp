#include "ui/ZelManagerApplyDelegate.h"

#include "database/ZelManagerDatabase.h"

#include <QApplication>
#include <QIcon>
#include <QPainter>
#include <QStyle>

namespace {

const int IconSize = 32;
const int StatusWidth = 160;

} // namespace

ZelManagerApplyDelegate::ZelManagerApplyDelegate(QObject *parent)
    : ZelManagerPanelDelegate(parent)
{
}

bool ZelManagerApplyDelegate::showsProgress(int status)
{
    switch (status) {
    case ZelManagerPackage::Downloading:
    case ZelManagerPackage::Parsing:
    case ZelManagerPackage::Installing:
    case ZelManagerPackage::Upgrading:
    case ZelManagerPackage::Reinstalling:
    case ZelManagerPackage::Removing:
        return true;
    default:
        return false;
    }
}

void ZelManagerApplyDelegate::paint(
    QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    const QWidget *widget = option.widget;
    QStyle *style = widget ? widget->style() : QApplication::style();
    const QString name = index.data(Qt::EditRole).toString();
    const ZelManagerPackage package = ZelManagerDatabase::instance()->package(name);
    const QPalette &palette = option.palette;
    const QRect rect = option.rect;
    const int margin = style->pixelMetric(QStyle::PM_ButtonMargin, &option, widget);

    painter->save();
    painter->fillRect(rect, palette.base());
    painter->setPen(palette.button().color().darker(131));
    painter->drawLine(rect.bottomLeft(), rect.bottomRight());

    const QRect iconRect(rect.left() + margin, rect.top() + (rect.height() - IconSize) / 2, IconSize, IconSize);
    QIcon(QStringLiteral(":/images/package_32x32.svg")).paint(painter, iconRect);

    const int lineHeight = option.fontMetrics.height();
    const int textLeft = iconRect.right() + margin;
    const int statusLeft = qMax(textLeft, rect.right() - margin - StatusWidth);
    const int textWidth = qMax(0, statusLeft - margin - textLeft);
    const int top = rect.top() + (rect.height() - 2 * lineHeight) / 2;
    const QRect nameRect(textLeft, top, textWidth, lineHeight);
    const QRect descriptionRect(textLeft, top + lineHeight, textWidth, lineHeight);
    QFont bold = option.font;
    bold.setBold(true);
    painter->setFont(bold);
    painter->setPen(palette.text().color());
    painter->drawText(nameRect, Qt::AlignLeft | Qt::AlignVCenter,
        QFontMetrics(bold).elidedText(name, Qt::ElideRight, nameRect.width()));
    painter->setFont(option.font);
    painter->setPen(palette.text().color().lighter(200));
    painter->drawText(descriptionRect, Qt::AlignLeft | Qt::AlignVCenter,
        option.fontMetrics.elidedText(package.description(), Qt::ElideRight, descriptionRect.width()));

    const QRect statusRect(statusLeft, top, rect.right() - margin - statusLeft, lineHeight);
    const int status = package.status();
    painter->setPen(status == ZelManagerPackage::Error ? QColor(Qt::red) : palette.text().color());
    painter->drawText(statusRect, Qt::AlignRight | Qt::AlignVCenter,
        option.fontMetrics.elidedText(package.statusText(), Qt::ElideLeft, statusRect.width()));
    painter->restore();

    if (showsProgress(status)) {
        QStyleOptionProgressBar bar;
        if (widget)
            bar.initFrom(widget);
        bar.rect = QRect(statusLeft, top + lineHeight + 2, statusRect.width(), lineHeight - 4);
        bar.minimum = 0;
        // An unknown percentage shows a busy bar.
        bar.maximum = package.progress() < 0 ? 0 : 100;
        bar.progress = qMax(0, package.progress());
        bar.textVisible = false;
        style->drawControl(QStyle::CE_ProgressBar, &bar, painter, widget);
    }
}
