#include "ui/ZelManagerCategoryDelegate.h"

#include <QApplication>
#include <QIcon>
#include <QPainter>

namespace {

const int IconSize = 16;
const int ArrowWidth = 20;
const int Margin = 6;
const QString SubLevelMark = QStringLiteral(" >");

} // namespace

ZelManagerCategoryDelegate::ZelManagerCategoryDelegate(QObject *parent)
    : QStyledItemDelegate(parent)
{
}

QSize ZelManagerCategoryDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &) const
{
    const QWidget *widget = option.widget;
    const QStyle *style = widget ? widget->style() : QApplication::style();
    const int margin = style->pixelMetric(QStyle::PM_ButtonMargin, &option, widget) + 8;
    return QSize(0, std::max(IconSize, option.fontMetrics.height()) + margin);
}

void ZelManagerCategoryDelegate::paint(
    QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    const QWidget *widget = option.widget;
    QStyle *style = widget ? widget->style() : QApplication::style();
    QStyleOptionToolButton button;
    button.initFrom(widget);
    button.rect = option.rect;
    button.font = option.font;
    button.state = QStyle::State_Enabled | QStyle::State_AutoRaise;
    if (option.state & (QStyle::State_MouseOver | QStyle::State_Selected))
        button.state |= QStyle::State_MouseOver | QStyle::State_Raised;
    button.toolButtonStyle = Qt::ToolButtonTextBesideIcon;
    button.iconSize = QSize(IconSize, IconSize);
    button.subControls = QStyle::SC_ToolButton;

    const QString stored = index.data(Qt::EditRole).toString();
    QString text = index.data(Qt::DisplayRole).toString();
    const bool goBack = stored.isEmpty();
    const bool deeper = !goBack && stored.endsWith(SubLevelMark);
    if (goBack) {
        text = tr("Go Back");
        button.icon = QIcon(QStringLiteral(":/images/") + QStringLiteral("go-previous.svg"));
    } else if (deeper && text.endsWith(SubLevelMark)) {
        text.chop(SubLevelMark.size());
    }
    button.text = text;
    if (deeper)
        button.rect.setRight(button.rect.right() - ArrowWidth);

    // The cell is painted as a whole button, its icon and text from the left;
    // the arrow sits at the right end.
    QStyleOptionToolButton frame = button;
    frame.rect = option.rect;
    frame.text.clear();
    frame.icon = QIcon();
    style->drawComplexControl(QStyle::CC_ToolButton, &frame, painter, widget);
    QRect content = button.rect.adjusted(Margin, 0, -Margin, 0);
    if (!button.icon.isNull()) {
        const QRect iconRect(content.left(), content.top() + (content.height() - IconSize) / 2, IconSize, IconSize);
        button.icon.paint(painter, iconRect);
        content.setLeft(iconRect.right() + 1 + Margin);
    }
    painter->save();
    painter->setFont(option.font);
    painter->setPen(option.palette.color(QPalette::ButtonText));
    painter->drawText(content, Qt::AlignLeft | Qt::AlignVCenter,
        option.fontMetrics.elidedText(text, Qt::ElideRight, content.width()));
    painter->restore();
    if (deeper) {
        QStyleOption arrow;
        arrow.initFrom(widget);
        arrow.rect = QRect(option.rect.right() - ArrowWidth + 1, option.rect.top(), ArrowWidth, option.rect.height());
        arrow.state = QStyle::State_Enabled;
        style->drawPrimitive(QStyle::PE_IndicatorArrowRight, &arrow, painter, widget);
    }
}
