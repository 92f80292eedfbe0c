#include "settings/ZelManagerSettings.h"
#include "style/MResourceManager.h"
#include "style/MStyle.h"
#include "tests/support/TestSandbox.h"

#include <QApplication>
#include <QtTest>

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

    void styleHasPaletteAndIcons()
    {
        MStyle style;
        QVERIFY(style.standardPalette().color(QPalette::Highlight).isValid());
        QVERIFY(!style.standardIcon(QStyle::SP_DialogOkButton).isNull());
    }
};

QTEST_MAIN(TestResources)
#include "tst_resources.moc"
