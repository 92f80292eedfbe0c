#include "app/ZelManagerMessageDlg.h"

#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

namespace {

QPushButton *button(const QDialog &dialog, const char *name)
{
    return dialog.findChild<QPushButton *>(QLatin1String(name));
}

// Runs the dialog modally and clicks the named button from inside its loop.
int execAndClick(ZelManagerMessageDlg &dialog, const char *name)
{
    QTimer::singleShot(0, &dialog, [&dialog, name] { button(dialog, name)->click(); });
    return dialog.exec();
}

} // namespace

class TestMessageDlg : public QObject
{
    Q_OBJECT

private slots:
    void buttonsFollowTheFlagsAndEndTheDialog_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<int>("flag");
        QTest::newRow("ok") << QByteArray("okButton") << int(QMessageBox::Ok);
        QTest::newRow("retry") << QByteArray("retryButton") << int(QMessageBox::Retry);
        QTest::newRow("close") << QByteArray("closeButton") << int(QMessageBox::Close);
        QTest::newRow("cancel") << QByteArray("cancelButton") << int(QMessageBox::Cancel);
        QTest::newRow("apply") << QByteArray("applyButton") << int(QMessageBox::Apply);
    }

    void buttonsFollowTheFlagsAndEndTheDialog()
    {
        QFETCH(QByteArray, name);
        QFETCH(int, flag);
        ZelManagerMessageDlg dialog;
        dialog.setButtons(flag | QMessageBox::Cancel);
        dialog.show();
        const char *const names[] = { "okButton", "retryButton", "closeButton", "cancelButton", "applyButton" };
        for (const char *other : names) {
            const bool shown = name == other || qstrcmp(other, "cancelButton") == 0;
            QCOMPARE(button(dialog, other)->isVisible(), shown);
        }
        QCOMPARE(execAndClick(dialog, name.constData()), flag);
    }

    void detailsFoldOutOnRequest()
    {
        ZelManagerMessageDlg dialog;
        dialog.setMessage(QStringLiteral("Totally 2 packages can not be installed!"));
        dialog.show();
        QPushButton *details = button(dialog, "detailButton");
        QVERIFY(!details->isVisible()); // nothing to show yet
        dialog.setDetailText(QStringLiteral("first\nsecond"));
        QVERIFY(details->isVisible());
        QCOMPARE(details->text(), QStringLiteral("Show &Details ..."));

        QWidget *frame = dialog.findChild<QWidget *>(QStringLiteral("detailFrame"));
        const int collapsed = dialog.height();
        details->click();
        QVERIFY(frame->isVisible());
        QCOMPARE(details->text(), QStringLiteral("Hide &Details ..."));
        QCOMPARE(dialog.height(), 300);
        details->click();
        QVERIFY(!frame->isVisible());
        QCOMPARE(details->text(), QStringLiteral("Show &Details ..."));
        QVERIFY(dialog.height() <= collapsed);
    }

    void widthFitsTheTextsUpToALimit()
    {
        ZelManagerMessageDlg dialog;
        dialog.setIcon(ZelManagerMessageDlg::Error);
        dialog.setMessage(QStringLiteral("short"));
        execAndClick(dialog, "okButton");
        QVERIFY(dialog.width() < 640);

        // A long detail line widens the dialog, but never beyond the limit.
        dialog.setDetailText(QString(400, QLatin1Char('x')));
        execAndClick(dialog, "okButton");
        QCOMPARE(dialog.width(), 640);
    }
};

QTEST_MAIN(TestMessageDlg)
#include "tst_messagedlg.moc"
