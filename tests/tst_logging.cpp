#include "database/ZelManagerSql.h"
#include "database/ZelManagerSqlStatement.h"
#include "diagnostics/ZelManagerLogging.h"
#include "integration/ZelManagerTrigger.h"
#include "settings/ZelManagerSettings.h"
#include "tests/support/TestTriggerSandbox.h"

#include <QDir>
#include <QtTest>

#include <memory>

namespace {

struct Message
{
    QString category;
    QtMsgType type;
    QString text;
};

QList<Message> caught;

void catchMessage(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    caught.append({ QString::fromLatin1(context.category), type, text });
}

// Messages go to the list instead of the output while it lives.
struct MessageCatcher
{
    MessageCatcher()
        : previous(qInstallMessageHandler(catchMessage))
    {
        caught.clear();
    }
    ~MessageCatcher() { qInstallMessageHandler(previous); }

    QStringList warnings(const char *category) const
    {
        QStringList texts;
        for (const Message &message : qAsConst(caught)) {
            if (message.type == QtWarningMsg && message.category == QLatin1String(category))
                texts.append(message.text);
        }
        return texts;
    }

    QtMessageHandler previous;
};

} // namespace

// Real failures leave a warning in their category; tracing stays off unless
// asked for.
class TestLogging : public QObject
{
    Q_OBJECT

private slots:
    void init() { m_sandbox.reset(new TestTriggerSandbox); }
    void cleanup() { m_sandbox.reset(); }

    void warningsOnDebugOff()
    {
        if (qEnvironmentVariableIsSet("QT_LOGGING_RULES"))
            QSKIP("QT_LOGGING_RULES decides here");
        for (const QLoggingCategory *category : { &zelDatabase(), &zelEngine(), &zelTriggers(), &zelHost() }) {
            QVERIFY(QString::fromLatin1(category->categoryName()).startsWith(QLatin1String("zelmanager.")));
            QVERIFY(category->isWarningEnabled());
            QVERIFY(!category->isDebugEnabled());
        }
    }

    void failedStatementsAreLogged()
    {
        sqlite3 *db = ZelManagerSql::open(m_sandbox->path() + QStringLiteral("/log.db"));
        QVERIFY(db);
        MessageCatcher catcher;
        QCOMPARE(ZelManagerSql::exec(db, "CREATE TABLE t(x UNIQUE);"), 0);
        QVERIFY(catcher.warnings("zelmanager.database").isEmpty());

        QVERIFY(!ZelManagerSqlStatement(db, "SELECT x FROM missing;").isValid());
        ZelManagerSqlStatement insert(db, "INSERT INTO t VALUES(?);");
        QVERIFY(insert.bind(1, qint64(1)).exec());
        QVERIFY(!insert.bind(1, qint64(1)).exec());
        ZelManagerSql::close(db);

        const QStringList warnings = catcher.warnings("zelmanager.database");
        QCOMPARE(warnings.size(), 2);
        QVERIFY2(warnings.at(0).contains(QLatin1String("no such table: missing"))
                && warnings.at(0).contains(QLatin1String("SELECT x FROM missing;")),
            qPrintable(warnings.at(0)));
        QVERIFY2(warnings.at(1).contains(QLatin1String("UNIQUE constraint failed"))
                && warnings.at(1).contains(QLatin1String("INSERT INTO t VALUES(?);")),
            qPrintable(warnings.at(1)));
    }

    // A folder where the trigger's file goes: the trigger goes on silently
    // for the user, but the log tells.
    void triggerThatCannotWriteIsLogged()
    {
        const QString target = ZelManagerSettings::instance()->targetPath();
        QVERIFY(TestSandbox::writeFile(target + QStringLiteral("/share/alternatives/a.desktop"),
            "[Desktop Entry]\nType=Alternative\nName=Editor\nPriority=5\nValue=a.exe\n"));
        QVERIFY(QDir().mkpath(target + QStringLiteral("/share/alternatives/editor.config")));

        MessageCatcher catcher;
        beginTriggers();
        triggerForType(TriggerType::Alternative)->installFile(QStringLiteral("share/alternatives/a.desktop"));
        finishTriggers();

        const QStringList warnings = catcher.warnings("zelmanager.triggers");
        QCOMPARE(warnings.size(), 1);
        QVERIFY2(warnings.first().contains(QLatin1String("editor.config")), qPrintable(warnings.first()));
    }

private:
    std::unique_ptr<TestTriggerSandbox> m_sandbox;
};

QTEST_MAIN(TestLogging)
#include "tst_logging.moc"
