#include "ui/ZelManagerPackageDelegate.h"

#include "database/ZelManagerDatabase.h"
#include "database/ZelManagerPackage.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QHash>
#include <QHelpEvent>
#include <QIcon>
#include <QPainter>
#include <QPixmapCache>
#include <QToolTip>

namespace {

const int PackageIconSize = 32;
const int FaceIconSize = 16;
const int Spacing = 6;

// Rendering an SVG per row and paint is far too slow for a full viewport;
// the pixmaps are kept by file, size and device pixel ratio.
QPixmap cachedPixmap(const QString &file, int size, qreal ratio)
{
    const QString key = QStringLiteral("zelpkg:%1:%2:%3").arg(file).arg(size).arg(ratio);
    QPixmap pixmap;
    if (!QPixmapCache::find(key, &pixmap)) {
        pixmap = QIcon(file).pixmap(QSize(size, size) * ratio);
        pixmap.setDevicePixelRatio(ratio);
        QPixmapCache::insert(key, pixmap);
    }
    return pixmap;
}

ZelManagerPackage packageOf(const QModelIndex &index)
{
    return ZelManagerDatabase::instance()->package(index.data(Qt::EditRole).toString());
}

} // namespace

ZelManagerPackageDelegate::ZelManagerPackageDelegate(QObject *parent)
    : ZelManagerPanelDelegate(parent)
{
}

void ZelManagerPackageDelegate::setOperationMenuOpen(bool open, const QModelIndex &row)
{
    m_operationMenuOpen = open;
    m_menuRow = open ? QPersistentModelIndex(row) : QPersistentModelIndex();
}

QRect ZelManagerPackageDelegate::bookmarkRect(const QRect &row, int size)
{
    return QRect(
        QPoint(row.right() - 2 * size - 3, row.top() + 3), QPoint(row.right() - size - 4, row.top() + 2 + size));
}

QRect ZelManagerPackageDelegate::operationRect(const QRect &row, int size)
{
    return QRect(QPoint(row.right() - 2 - size, row.top() + 3), QPoint(row.right() - 3, row.top() + 2 + size));
}

void ZelManagerPackageDelegate::paint(
    QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    opt.text.clear();
    const QWidget *widget = option.widget;
    QStyle *style = widget ? widget->style() : QApplication::style();
    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &opt, painter, widget);

    const ZelManagerPackage package = packageOf(index);
    const qreal ratio = painter->device()->devicePixelRatioF();
    const QRect &rect = option.rect;
    const QRect iconRect(
        rect.left() + Spacing, rect.top() + (rect.height() - PackageIconSize) / 2, PackageIconSize, PackageIconSize);
    painter->drawPixmap(iconRect, cachedPixmap(QStringLiteral(":/images/package_32x32.svg"), PackageIconSize, ratio));

    const QRect bookmark = bookmarkRect(rect, m_buttonSize);
    const QRect textRect(
        QPoint(iconRect.right() + Spacing, rect.top()), QPoint(bookmark.left() - Spacing, rect.bottom()));
    paintTexts(painter, option, textRect, package);

    QString icon;
    QString toolTip;
    package.bookmarkIcon(icon, toolTip);
    paintButtonFace(painter, option, bookmark, icon, false);
    package.statusIcon(icon, toolTip);
    const bool pressed = m_operationMenuOpen && m_menuRow == index;
    paintButtonFace(painter, option, operationRect(rect, m_buttonSize), icon, pressed);
}

void ZelManagerPackageDelegate::paintTexts(
    QPainter *painter, const QStyleOptionViewItem &option, const QRect &rect, const ZelManagerPackage &package) const
{
    const bool selected = option.state & QStyle::State_Selected;
    const QPalette::ColorGroup group = (option.state & QStyle::State_Enabled) ? QPalette::Normal : QPalette::Disabled;
    painter->save();
    painter->setPen(option.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text));
    const int half = rect.height() / 2;
    QFont bold = option.font;
    bold.setBold(true);
    const QFontMetrics boldMetrics(bold);
    const QString version = package.isInstalled() ? package.installedVersion() : package.availableVersion();
    const QString title = version.isEmpty() ? package.name() : package.name() + QStringLiteral(" ") + version;
    painter->setFont(bold);
    painter->drawText(QRect(rect.left(), rect.top(), rect.width(), half), Qt::AlignLeft | Qt::AlignBottom,
        boldMetrics.elidedText(title, Qt::ElideRight, rect.width()));
    painter->setFont(option.font);
    const QString description = package.description().simplified();
    painter->drawText(QRect(rect.left(), rect.top() + half, rect.width(), rect.height() - half),
        Qt::AlignLeft | Qt::AlignTop, option.fontMetrics.elidedText(description, Qt::ElideRight, rect.width()));
    painter->restore();
}

void ZelManagerPackageDelegate::paintButtonFace(
    QPainter *painter, const QStyleOptionViewItem &option, const QRect &rect, const QString &icon, bool pressed) const
{
    const QWidget *widget = option.widget;
    QStyle *style = widget ? widget->style() : QApplication::style();
    QStyleOption face;
    face.initFrom(widget);
    face.rect = rect;
    face.state = QStyle::State_Enabled | QStyle::State_AutoRaise;
    face.state |= pressed ? QStyle::State_Sunken : QStyle::State_Raised;
    if (pressed || (option.state & QStyle::State_MouseOver))
        style->drawPrimitive(QStyle::PE_PanelButtonTool, &face, painter, widget);
    const QRect iconRect(
        rect.center().x() - FaceIconSize / 2 + 1, rect.center().y() - FaceIconSize / 2 + 1, FaceIconSize, FaceIconSize);
    painter->drawPixmap(iconRect, cachedPixmap(icon, FaceIconSize, painter->device()->devicePixelRatioF()));
}

bool ZelManagerPackageDelegate::helpEvent(
    QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option, const QModelIndex &index)
{
    if (!event || !view || event->type() != QEvent::ToolTip)
        return ZelManagerPanelDelegate::helpEvent(event, view, option, index);
    const ZelManagerPackage package = packageOf(index);
    QString icon;
    QString toolTip;
    if (bookmarkRect(option.rect, m_buttonSize).contains(event->pos()))
        package.bookmarkIcon(icon, toolTip);
    else if (operationRect(option.rect, m_buttonSize).contains(event->pos()))
        package.statusIcon(icon, toolTip);
    else
        toolTip = package.description();
    QToolTip::showText(event->globalPos(), toolTip, view);
    return true;
}
