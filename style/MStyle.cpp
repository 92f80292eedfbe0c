#include "style/MStyle.h"

#include "style/MResourceManager.h"

#include <QStyleFactory>

MStyle::MStyle()
    : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion")))
{
    setObjectName(QStringLiteral("mstyle"));
}

QPalette MStyle::standardPalette() const
{
    QPalette palette(QColor(0xef, 0xf0, 0xf1), QColor(0xfc, 0xfc, 0xfc));
    palette.setColor(QPalette::WindowText, QColor(0x23, 0x26, 0x29));
    palette.setColor(QPalette::Text, QColor(0x23, 0x26, 0x29));
    palette.setColor(QPalette::ButtonText, QColor(0x23, 0x26, 0x29));
    palette.setColor(QPalette::Button, QColor(0xef, 0xf0, 0xf1));
    palette.setColor(QPalette::Highlight, QColor(0x3d, 0xae, 0xe9));
    palette.setColor(QPalette::HighlightedText, QColor(0xfc, 0xfc, 0xfc));
    palette.setColor(QPalette::AlternateBase, QColor(0xf7, 0xf7, 0xf7));
    palette.setColor(QPalette::ToolTipBase, QColor(0x23, 0x26, 0x29));
    palette.setColor(QPalette::ToolTipText, QColor(0xfc, 0xfc, 0xfc));
    palette.setColor(QPalette::Link, QColor(0x29, 0x80, 0xb9));
    palette.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0xa0, 0xa2, 0xa4));
    palette.setColor(QPalette::Disabled, QPalette::Text, QColor(0xa0, 0xa2, 0xa4));
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0xa0, 0xa2, 0xa4));
    return palette;
}

QString MStyle::standardIconName(StandardPixmap standardIcon)
{
    switch (standardIcon) {
    case SP_DialogOkButton:
    case SP_DialogApplyButton:
        return QStringLiteral("dialog-ok-apply");
    case SP_DialogCancelButton:
    case SP_DialogCloseButton:
        return QStringLiteral("dialog-cancel");
    case SP_MessageBoxInformation:
        return QStringLiteral("dialog-information");
    case SP_MessageBoxWarning:
        return QStringLiteral("dialog-warning");
    case SP_MessageBoxCritical:
        return QStringLiteral("dialog-error");
    case SP_MessageBoxQuestion:
        return QStringLiteral("dialog-question");
    case SP_BrowserReload:
        return QStringLiteral("view-refresh");
    case SP_BrowserStop:
        return QStringLiteral("process-stop");
    case SP_DirOpenIcon:
    case SP_DialogOpenButton:
        return QStringLiteral("document-open");
    case SP_TrashIcon:
        return QStringLiteral("edit-delete");
    default:
        return QString();
    }
}

QIcon MStyle::standardIcon(StandardPixmap standardIcon, const QStyleOption *option, const QWidget *widget) const
{
    const QString name = standardIconName(standardIcon);
    if (!name.isEmpty()) {
        QIcon icon = MResourceManager::icon(name);
        if (!icon.isNull())
            return icon;
    }
    return QProxyStyle::standardIcon(standardIcon, option, widget);
}
