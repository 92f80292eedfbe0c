#include "style/ZelManagerImageIconEngine.h"

#include <QPainter>
#include <QSvgRenderer>

ZelManagerImageIconEngine::ZelManagerImageIconEngine(const QString &mainFile, const QMap<int, QString> &sizedFiles)
    : m_mainFile(mainFile)
    , m_sizedFiles(sizedFiles)
{
}

QString ZelManagerImageIconEngine::fileFor(const QSize &size) const
{
    if (size.width() == size.height())
        return m_sizedFiles.value(size.width(), m_mainFile);
    return m_mainFile;
}

QPixmap ZelManagerImageIconEngine::pixmap(const QSize &size, QIcon::Mode mode, QIcon::State)
{
    if (size.isEmpty())
        return QPixmap();
    const QString cacheKey = QStringLiteral("%1x%2/%3").arg(size.width()).arg(size.height()).arg(int(mode));
    auto it = m_pixmaps.constFind(cacheKey);
    if (it != m_pixmaps.constEnd())
        return *it;
    QPixmap result(size);
    result.fill(Qt::transparent);
    QSvgRenderer renderer(fileFor(size));
    if (renderer.isValid()) {
        QPainter painter(&result);
        // A disabled icon is the same drawing, faded.
        if (mode == QIcon::Disabled)
            painter.setOpacity(0.4);
        renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(size)));
    }
    m_pixmaps.insert(cacheKey, result);
    return result;
}

void ZelManagerImageIconEngine::paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State state)
{
    const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
    QPixmap drawn = pixmap(rect.size() * ratio, mode, state);
    drawn.setDevicePixelRatio(ratio);
    painter->drawPixmap(rect, drawn);
}

QIconEngine *ZelManagerImageIconEngine::clone() const
{
    return new ZelManagerImageIconEngine(m_mainFile, m_sizedFiles);
}

QString ZelManagerImageIconEngine::key() const
{
    return QStringLiteral("ZelManagerImageIconEngine");
}
