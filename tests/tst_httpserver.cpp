#include "tests/support/TestHttpServer.h"
#include "tests/support/TestSandbox.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTcpSocket>
#include <QtTest>

namespace {

struct Fetched
{
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    QByteArray body;
    qint64 announced = -1;
    int readyReads = 0;

    // A dropped connection shows as an error or, through a race in Qt's
    // HTTP layer, as a "successful" body shorter than announced.
    bool cutShort() const { return error != QNetworkReply::NoError || body.size() < announced; }
};

} // namespace

class TestHttpServerTest : public QObject
{
    Q_OBJECT

private:
    Fetched fetch(const QString &path, int abortAfterMs = -1)
    {
        QNetworkReply *reply = m_network.get(QNetworkRequest(QUrl(m_server.url().toString() + path)));
        Fetched result;
        connect(reply, &QNetworkReply::readyRead, this, [&]() {
            result.body += reply->readAll();
            ++result.readyReads;
        });
        QEventLoop loop;
        connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(abortAfterMs >= 0 ? abortAfterMs : 60000, reply, &QNetworkReply::abort);
        loop.exec();
        result.body += reply->readAll();
        result.error = reply->error();
        if (reply->header(QNetworkRequest::ContentLengthHeader).isValid())
            result.announced = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
        delete reply;
        return result;
    }

    QByteArray rawRequest(const QByteArray &target)
    {
        QTcpSocket socket;
        socket.connectToHost(QStringLiteral("127.0.0.1"), m_server.port());
        if (!socket.waitForConnected(5000))
            return QByteArray();
        socket.write("GET " + target + " HTTP/1.0\r\n\r\n");
        QByteArray response;
        while (socket.waitForReadyRead(5000))
            response += socket.readAll();
        return response;
    }

private slots:
    void init()
    {
        m_sandbox.reset(new TestSandbox);
        m_root = m_sandbox->path() + QStringLiteral("/served");
        m_data.resize(300000);
        for (int i = 0; i < m_data.size(); ++i)
            m_data[i] = char(i * 7 % 251);
        QVERIFY(TestSandbox::writeFile(m_root + QStringLiteral("/repo/x.vtrpkg"), m_data));
        QVERIFY(TestSandbox::writeFile(m_sandbox->path() + QStringLiteral("/secret.txt"), "secret"));
        QVERIFY(m_server.start(m_root));
    }

    void cleanup()
    {
        m_server.stop();
        m_sandbox.reset();
    }

    void servesFilesAndCountsRequests()
    {
        const QString x = QStringLiteral("/repo/x.vtrpkg");
        QVERIFY(fetch(x).body == m_data);
        fetch(x + QStringLiteral("?ignored=1"));
        QCOMPARE(m_server.requestCount(x), 2);
        QCOMPARE(fetch(QStringLiteral("/repo/missing.vtrpkg")).error, QNetworkReply::ContentNotFoundError);
        QCOMPARE(m_server.requestCount(QStringLiteral("/repo/other.vtrpkg")), 0);

        QVERIFY(m_server.setBehaviour(x, TestHttpServer::NotFound));
        QCOMPARE(fetch(x).error, QNetworkReply::ContentNotFoundError);
        QVERIFY(m_server.reset());
        QCOMPARE(m_server.requestCount(x), 0);
        QVERIFY(fetch(x).body == m_data);
    }

    void misbehaviours()
    {
        const QString x = QStringLiteral("/repo/x.vtrpkg");
        QVERIFY(m_server.setBehaviour(x, TestHttpServer::DropAfter, 1000));
        Fetched result = fetch(x);
        QVERIFY(result.cutShort() && result.body.size() <= 1000 && m_data.startsWith(result.body));

        QVERIFY(m_server.setBehaviour(x, TestHttpServer::WrongLength, 100));
        QVERIFY(fetch(x).body == m_data.left(100));
        QVERIFY(m_server.setBehaviour(x, TestHttpServer::WrongLength, m_data.size() + 5000));
        result = fetch(x);
        QVERIFY(result.cutShort() && m_data.startsWith(result.body));

        QVERIFY(m_server.setBehaviour(x, TestHttpServer::Stall, 5000));
        QCOMPARE(fetch(x, 200).error, QNetworkReply::OperationCanceledError);

        const QByteArray small = m_data.left(6000);
        QVERIFY(TestSandbox::writeFile(m_root + QStringLiteral("/slow.bin"), small));
        QVERIFY(m_server.setBehaviour(QStringLiteral("/slow.bin"), TestHttpServer::Trickle, 1000, 100));
        result = fetch(QStringLiteral("/slow.bin"));
        QVERIFY(result.body == small);
        QVERIFY2(result.readyReads >= 2, qPrintable(QString::number(result.readyReads)));
    }

    void pathsWithSpecialCharacters()
    {
        const QString path = QStringLiteral("/repo/libstdc++_1.0 x&y.vtrpkg");
        QVERIFY(TestSandbox::writeFile(m_root + path, "plus"));
        QVERIFY(m_server.setBehaviour(path, TestHttpServer::NotFound));
        const QString encoded = QString::fromLatin1(QUrl::toPercentEncoding(path, "/"));
        QCOMPARE(fetch(encoded).error, QNetworkReply::ContentNotFoundError);
        QCOMPARE(m_server.requestCount(path), 1);
        QVERIFY(m_server.setBehaviour(path, TestHttpServer::Normal));
        QCOMPARE(fetch(encoded).body, QByteArray("plus"));
    }

    void neverServesOutsideItsFolder()
    {
        for (const QByteArray &target :
            { QByteArray("/../secret.txt"), QByteArray("/%2e%2e/secret.txt"), QByteArray("/repo/../../secret.txt") }) {
            const QByteArray response = rawRequest(target);
            QVERIFY2(response.contains(" 404 "), target.constData());
            QVERIFY(!response.contains("secret\n") && !response.endsWith("secret"));
        }
    }

    void stopEndsTheServer()
    {
        const quint16 port = m_server.port();
        m_server.stop();
        QVERIFY(!m_server.isRunning());
        QTcpSocket socket;
        socket.connectToHost(QStringLiteral("127.0.0.1"), port);
        QVERIFY(!socket.waitForConnected(2000));
        QCOMPARE(m_server.requestCount(QStringLiteral("/repo/x.vtrpkg")), -1);
    }

private:
    QScopedPointer<TestSandbox> m_sandbox;
    TestHttpServer m_server;
    QNetworkAccessManager m_network;
    QString m_root;
    QByteArray m_data;
};

QTEST_GUILESS_MAIN(TestHttpServerTest)
#include "tst_httpserver.moc"
