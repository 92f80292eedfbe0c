#ifndef TESTHTTPSERVER_H
#define TESTHTTPSERVER_H

#include <QProcess>
#include <QString>
#include <QUrl>

// A real HTTP server on 127.0.0.1 for tests: tests/httpserver.py (Python 3,
// standard library only) serving one folder on a free port.
//
//     TestHttpServer server;
//     QVERIFY(server.start(folder));           // folder must exist
//     QUrl base = server.url();                // http://127.0.0.1:<port>
//     QUrl index(base.toString() + "/repo/packages.xml");
//
// Files are read on every request, so a test may change the folder while the
// server runs. Paths below are URL paths with a leading "/" ("/repo/x.vtrpkg",
// without the query string); they name what the client asks for, whether the
// file exists or not.
//
// Misbehaviour for one path, until changed or reset():
//
//     server.setBehaviour("/repo/x.vtrpkg", TestHttpServer::NotFound);
//     server.setBehaviour("/repo/x.vtrpkg", TestHttpServer::DropAfter, 1000);
//     server.setBehaviour("/repo/x.vtrpkg", TestHttpServer::Trickle, 512, 50);
//     server.setBehaviour("/repo/x.vtrpkg", TestHttpServer::WrongLength, 10);
//     server.setBehaviour("/repo/x.vtrpkg", TestHttpServer::Stall, 2000);
//     server.setBehaviour("/repo/x.vtrpkg", TestHttpServer::Normal);
//
//   Normal       serve the file (404 when it does not exist)
//   NotFound     404 even when the file exists
//   DropAfter    correct headers, then <value> body bytes, then the server
//                closes the connection
//   Trickle      <value> bytes every <intervalMs> milliseconds
//   WrongLength  announce Content-Length <value>, send the whole file and
//                close: a smaller value truncates the body the client
//                accepts, a larger one ends the body early
//   Stall        wait <value> milliseconds before answering
//
// Beware: when a connection ends before the announced Content-Length
// (DropAfter, WrongLength with a larger value), QNetworkReply usually
// reports RemoteHostClosedError, but now and then (a race in Qt's HTTP layer,
// roughly one run in ten here) it finishes with NoError and the short body,
// having sent the request a second time (requestCount then reads 2).
// Code under test must treat a body shorter than the reply's
// ContentLengthHeader as a failure (or catch it by its MD5 sum), and tests
// must accept both ways of failing.
//
// requestCount(path) tells how many requests (GET or HEAD) the server has
// received for a path since start or reset(); QCOMPARE(..., 0) proves that a
// cache hit made no network request. reset() forgets behaviours and counts.
//
// Control calls are blocking and do not run the event loop. The destructor
// (or stop()) ends the server process; the server also ends by itself when
// the test process dies.
class TestHttpServer
{
public:
    enum Behaviour { Normal, NotFound, DropAfter, Trickle, WrongLength, Stall };

    TestHttpServer();
    ~TestHttpServer();

    bool start(const QString &folder);
    void stop();
    bool isRunning() const;

    QUrl url() const;
    quint16 port() const { return m_port; }

    bool setBehaviour(const QString &path, Behaviour behaviour, qint64 value = 0, int intervalMs = 0);
    int requestCount(const QString &path);
    bool reset();

private:
    QByteArray control(const QString &command, const QList<QPair<QString, QString>> &query, bool *ok);

    QProcess m_process;
    quint16 m_port = 0;
};

#endif // TESTHTTPSERVER_H
