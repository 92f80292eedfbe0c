#ifndef ZELMANAGERCONTENTPANEL_H
#define ZELMANAGERCONTENTPANEL_H

#include <QList>
#include <QWidget>

class QAbstractButton;
class QAction;

// Base of every page of the main window's content stack. A page offers the
// window a title, an icon and actions for the title row, and may draw buttons
// over its item view: left-button presses and releases on the watched widget
// are forwarded to the button under the pointer, while the view still sees
// the event (so the click also selects the row).
class ZelManagerContentPanel : public QWidget
{
    Q_OBJECT

public:
    explicit ZelManagerContentPanel(QWidget *parent = nullptr);

    // The widget whose mouse events reach the overlay buttons; none by default.
    virtual QWidget *watchedWidget() const;
    // Buttons drawn over the watched widget, in the order they are hit-tested.
    virtual QList<QAbstractButton *> overlayButtons() const;
    // The actions the main window turns into the title row's buttons.
    virtual QList<QAction *> panelActions() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QAbstractButton *overlayButtonAt(const QPoint &position) const;
};

#endif // ZELMANAGERCONTENTPANEL_H
