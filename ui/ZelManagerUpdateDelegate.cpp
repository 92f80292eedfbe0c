#include "ui/ZelManagerUpdateDelegate.h"

#include "database/ZelManagerDatabase.h"
#include "database/ZelManagerRepositoryUpdater.h"
#include "settings/ZelManagerSettings.h"

#include <QApplication>
#include <QIcon>
#include <QPainter>
#include <QStyle>

namespace {

const int IconSize = 32;
const int SideWidth = 180;

struct RowLayout
{
    QRect icon;
    QRect first; // upper text line
    QRect second; // lower text line
    QRect side; // right column, upper line
    QRect sideBelow; // right column, lower line
};

RowLayout layoutRow(const QStyleOptionViewItem &option, int margin)
{
    const QRect rect = option.rect.adjusted(2, 2, -2, -2);
    const int line = option.fontMetrics.height();
    RowLayout layout;
    layout.icon = QRect(rect.left() + margin, rect.top() + (rect.height() - IconSize) / 2, IconSize, IconSize);
    const int left = layout.icon.right() + margin;
    const int sideLeft = qMax(left, rect.right() - margin - SideWidth);
    const int top = rect.top() + (rect.height() - 2 * line) / 2;
    const int width = qMax(0, sideLeft - margin - left);
    layout.first = QRect(left, top, width, line);
    layout.second = QRect(left, top + line, width, line);
    layout.side = QRect(sideLeft, top, rect.right() - margin - sideLeft, line);
    layout.sideBelow = layout.side.translated(0, line);
    return layout;
}

void drawElided(QPainter *painter, const QStyleOptionViewItem &option, const QRect &rect, const QString &text,
    const QColor &color, Qt::Alignment alignment = Qt::AlignLeft)
{
    painter->setPen(color);
    painter->drawText(
        rect, alignment | Qt::AlignVCenter, option.fontMetrics.elidedText(text, Qt::ElideRight, rect.width()));
}

} // namespace

ZelManagerUpdateDelegate::ZelManagerUpdateDelegate(QObject *parent)
    : ZelManagerPanelDelegate(parent)
{
}

void ZelManagerUpdateDelegate::paint(
    QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    const QVariant value = index.data(Qt::EditRole);
    painter->save();
    painter->fillRect(option.rect, option.palette.base());
    painter->setPen(option.palette.button().color().darker(131));
    painter->drawRect(option.rect.adjusted(2, 2, -3, -3));
    if (value.userType() == qMetaTypeId<ZelManagerRepositoryUpdater *>())
        paintUpdater(painter, option, value.value<ZelManagerRepositoryUpdater *>());
    else
        paintPackage(painter, option, value.toString());
    painter->restore();
}

void ZelManagerUpdateDelegate::paintUpdater(
    QPainter *painter, const QStyleOptionViewItem &option, ZelManagerRepositoryUpdater *updater) const
{
    if (!updater)
        return;
    const QWidget *widget = option.widget;
    QStyle *style = widget ? widget->style() : QApplication::style();
    const RowLayout layout = layoutRow(option, style->pixelMetric(QStyle::PM_ButtonMargin, &option, widget));
    QIcon(QStringLiteral(":/images/applications-internet.svg")).paint(painter, layout.icon);
    const QColor text = option.palette.buttonText().color();
    const QUrl url = updater->url();
    drawElided(painter, option, layout.first, ZelManagerSettings::instance()->repositoryLabel(url), text);
    drawElided(painter, option, layout.second, url.toString(), text.lighter(200));
    drawElided(painter, option, layout.side, updater->work(), text, Qt::AlignRight);

    QStyleOptionProgressBar bar;
    if (widget)
        bar.initFrom(widget);
    bar.rect = layout.sideBelow.adjusted(0, 2, 0, -2);
    bar.minimum = 0;
    // An unknown size shows a busy bar.
    bar.maximum = updater->progress() < 0 ? 0 : 100;
    bar.progress = qMax(0, updater->progress());
    bar.textVisible = false;
    style->drawControl(QStyle::CE_ProgressBar, &bar, painter, widget);
}

void ZelManagerUpdateDelegate::paintPackage(
    QPainter *painter, const QStyleOptionViewItem &option, const QString &name) const
{
    const QWidget *widget = option.widget;
    const QStyle *style = widget ? widget->style() : QApplication::style();
    const RowLayout layout = layoutRow(option, style->pixelMetric(QStyle::PM_ButtonMargin, &option, widget));
    const ZelManagerPackage package = ZelManagerDatabase::instance()->package(name);
    QIcon(QStringLiteral(":/images/package_32x32.svg")).paint(painter, layout.icon);
    const QColor text = option.palette.text().color();
    drawElided(painter, option, layout.first, name, text);
    drawElided(painter, option, layout.second, package.description(), text.lighter(200));
    drawElided(painter, option, layout.side, package.availableVersion(), text, Qt::AlignRight);
    drawElided(painter, option, layout.sideBelow, tr("installed %1").arg(package.installedVersion()), text.lighter(200),
        Qt::AlignRight);
}
