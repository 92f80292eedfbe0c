#include "settings/ZelManagerSettings.h"
#include "style/MResourceManager.h"
#include "style/MStyle.h"
#include "tests/support/TestSandbox.h"

#include <QApplication>
#include <QDir>
#include <QPainter>
#include <QSvgRenderer>
#include <QtTest>

namespace {

QString ownImagesFolder()
{
    return QStringLiteral(ZEL_TESTS_SOURCE_DIR "/../style/images");
}

bool breezeInstalled()
{
    return QFileInfo::exists(QStringLiteral(ZEL_BREEZE_DIR "/index.theme"));
}

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QImage rendered(const QString &svg, int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QSvgRenderer renderer(svg);
    QPainter painter(&image);
    renderer.render(&painter);
    return image;
}

// Whether a drawing shows something: some pixels drawn, not one colour over
// the whole square (a filled box), and not only in black, which is what an unresolved theme
// colour ("currentColor" without its colour scheme) comes out as.
QString visibilityProblem(const QImage &image)
{
    int drawn = 0;
    int black = 0;
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            if (qAlpha(pixel) < 64)
                continue;
            ++drawn;
            colours.insert(pixel);
            if ((pixel & 0xFFFFFF) == 0)
                ++black;
        }
    }
    const int all = image.width() * image.height();
    if (drawn == 0)
        return QStringLiteral("blank");
    if (drawn == all && colours.size() == 1)
        return QStringLiteral("a filled box");
    if (black == drawn)
        return QStringLiteral("black only");
    return QString();
}

} // namespace

class TestResources : public QObject
{
    Q_OBJECT

private slots:
    void themesFoundByIndexFile()
    {
        TestSandbox sandbox;
        const QString icons = sandbox.home() + QStringLiteral("/.vantor/share/icons");
        QVERIFY(TestSandbox::writeFile(
            icons + QStringLiteral("/mytheme/index.theme"), "[Icon Theme]\nName=Mine\nDirectories=apps\n"));
        QVERIFY(TestSandbox::writeFile(icons + QStringLiteral("/notatheme/readme"), "x"));
        ZelManagerSettings::setIconTheme(QStringLiteral("mytheme"));
        MResourceManager::initialize();
        QVERIFY(MResourceManager::themes().contains(QStringLiteral("mytheme")));
        QVERIFY(!MResourceManager::themes().contains(QStringLiteral("notatheme")));
        QCOMPARE(MResourceManager::currentTheme(), QStringLiteral("mytheme"));

        ZelManagerSettings::setIconTheme(QStringLiteral("missing"));
        MResourceManager::initialize();
        QCOMPARE(MResourceManager::currentTheme(), QStringLiteral("hicolor"));
    }

    void ownImagesAnswerUnknownNames()
    {
        QVERIFY(!MResourceManager::icon(QStringLiteral("package-install")).isNull());
        QCOMPARE(MResourceManager::pixmap(QStringLiteral("package-install"), 32).size(), QSize(32, 32));
        QVERIFY(!MResourceManager::icon(QStringLiteral(":/images/dialog-ok-apply.svg")).isNull());
        QVERIFY(MResourceManager::icon(QStringLiteral("no-such-icon-anywhere")).isNull());
    }

    // Every image the program names is in the resource; where the icon
    // theme has the name, the theme's drawing is, not the program's own.
    void imagesComeFromTheTheme()
    {
        const QStringList own = QDir(ownImagesFolder()).entryList(QDir::Files);
        QVERIFY(own.size() > 40);
        int fromTheme = 0;
        for (const QString &fileName : own) {
            const QString image = QStringLiteral(":/images/") + fileName;
            QVERIFY2(QFileInfo::exists(image), qPrintable(image));
            if (contents(image) != contents(ownImagesFolder() + QLatin1Char('/') + fileName))
                ++fromTheme;
        }
        if (!breezeInstalled())
            QSKIP("the Breeze icon theme is not installed; the program's own drawings are used");
        // Only the program icon and the two package images are the program's own.
        QCOMPARE(fromTheme, own.size() - 3);
        QCOMPARE(contents(QStringLiteral(":/images/vantor.png")), contents(ownImagesFolder() + "/vantor.png"));
        QVERIFY(QFileInfo::exists(QStringLiteral(":/images/16/go-home.svg")));
        QVERIFY(QFileInfo::exists(QStringLiteral(":/images/64/dialog-error.svg")));
    }

    void imagesDrawVisibly_data()
    {
        QTest::addColumn<QString>("name");
        for (const char *name : { "go-home", "view-list-details", "package-install", "package-upgrade", "dialog-cancel",
                 "flag-red", "dialog-error", "dialog-question", "update-none", "package_64x64" })
            QTest::newRow(name) << QString::fromLatin1(name);
    }

    void imagesDrawVisibly()
    {
        QFETCH(QString, name);
        for (int size : { 16, 22, 32, 64 }) {
            const QImage image = MResourceManager::pixmap(name, size).toImage();
            QCOMPARE(image.size(), QSize(size, size));
            const QString problem = visibilityProblem(image);
            QVERIFY2(problem.isEmpty(), qPrintable(QStringLiteral("%1 at %2: %3").arg(name).arg(size).arg(problem)));
        }
    }

    // A size the theme draws separately comes from its own file, pixel for
    // pixel; other sizes from the main image.
    void smallSizesUseTheirOwnDrawing()
    {
        if (!breezeInstalled())
            QSKIP("the Breeze icon theme is not installed");
        const QImage small = MResourceManager::pixmap(QStringLiteral("go-home"), 16).toImage();
        QCOMPARE(small.convertToFormat(QImage::Format_ARGB32_Premultiplied),
            rendered(QStringLiteral(":/images/16/go-home.svg"), 16));
        const QImage large = MResourceManager::pixmap(QStringLiteral("go-home"), 48).toImage();
        QCOMPARE(large.convertToFormat(QImage::Format_ARGB32_Premultiplied),
            rendered(QStringLiteral(":/images/go-home.svg"), 48));
        const QIcon icon = MResourceManager::icon(QStringLiteral(":/images/dialog-error.svg"));
        QVERIFY(!icon.pixmap(64, QIcon::Disabled).isNull());
    }

    void styleHasPaletteAndIcons()
    {
        MStyle style;
        QVERIFY(style.standardPalette().color(QPalette::Highlight).isValid());
        QVERIFY(!style.standardIcon(QStyle::SP_DialogOkButton).isNull());
    }
};

QTEST_MAIN(TestResources)
#include "tst_resources.moc"
