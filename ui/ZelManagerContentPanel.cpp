#include "ui/ZelManagerContentPanel.h"

#include <QAbstractButton>
#include <QMouseEvent>

ZelManagerContentPanel::ZelManagerContentPanel(QWidget *parent)
    : QWidget(parent)
{
}

QWidget *ZelManagerContentPanel::watchedWidget() const
{
    return nullptr;
}

QList<QAbstractButton *> ZelManagerContentPanel::overlayButtons() const
{
    return {};
}

QList<QAction *> ZelManagerContentPanel::panelActions() const
{
    return {};
}

bool ZelManagerContentPanel::eventFilter(QObject *watched, QEvent *event)
{
    const bool press = event->type() == QEvent::MouseButtonPress;
    const bool release = event->type() == QEvent::MouseButtonRelease;
    if (watched != watchedWidget() || (!press && !release))
        return QWidget::eventFilter(watched, event);
    auto *mouse = static_cast<QMouseEvent *>(event);
    if (mouse->button() != Qt::LeftButton || mouse->modifiers() != Qt::NoModifier)
        return QWidget::eventFilter(watched, event);
    if (QAbstractButton *button = overlayButtonAt(mouse->pos())) {
        if (press)
            button->setDown(true);
        else if (button->isDown())
            button->animateClick(100);
    }
    // The view still handles the event, so the click also selects the row.
    return QWidget::eventFilter(watched, event);
}

QAbstractButton *ZelManagerContentPanel::overlayButtonAt(const QPoint &position) const
{
    const QList<QAbstractButton *> buttons = overlayButtons();
    for (QAbstractButton *button : buttons) {
        if (button && button->geometry().contains(position))
            return button;
    }
    return nullptr;
}
