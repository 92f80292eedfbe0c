#ifndef ZELMANAGERIMAGEICONENGINE_H
#define ZELMANAGERIMAGEICONENGINE_H

#include <QHash>
#include <QIconEngine>
#include <QMap>
#include <QPixmap>
#include <QString>

// An icon drawn from SVG images: the image made for a size when there is
// one (icon themes draw their small sizes pixel-aligned), else the main
// image scaled. Pixmaps are kept once drawn, since delegates ask for the
// same few sizes on every paint.
class ZelManagerImageIconEngine : public QIconEngine
{
public:
    ZelManagerImageIconEngine(const QString &mainFile, const QMap<int, QString> &sizedFiles);

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State state) override;
    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override;
    QIconEngine *clone() const override;
    QString key() const override;

    // The file drawn at that size.
    QString fileFor(const QSize &size) const;

private:
    QString m_mainFile;
    QMap<int, QString> m_sizedFiles;
    QHash<QString, QPixmap> m_pixmaps;
};

#endif // ZELMANAGERIMAGEICONENGINE_H
