#ifndef MSTYLE_H
#define MSTYLE_H

#include <QProxyStyle>

// The program's own widget style: Fusion's painting from the application
// palette, with the standard icons taken from the icon theme.
class MStyle : public QProxyStyle
{
    Q_OBJECT

public:
    MStyle();

    QPalette standardPalette() const override;
    QIcon standardIcon(StandardPixmap standardIcon, const QStyleOption *option = nullptr,
        const QWidget *widget = nullptr) const override;

    // Icon-theme name of a standard icon; empty when it has none.
    static QString standardIconName(StandardPixmap standardIcon);
};

#endif // MSTYLE_H
