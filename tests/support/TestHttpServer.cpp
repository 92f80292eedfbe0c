#include "tests/support/TestHttpServer.h"

#include <QTcpSocket>

namespace {

const int StartTimeoutMs = 15000;
const int ControlTimeoutMs = 10000;

const char *modeName(TestHttpServer::Behaviour behaviour)
{
    switch (behaviour) {
    case TestHttpServer::NotFound:
        return "notfound";
    case TestHttpServer::DropAfter:
        return "drop";
    case TestHttpServer::Trickle:
        return "trickle";
    case TestHttpServer::WrongLength:
        return "wronglength";
    case TestHttpServer::Stall:
        return "stall";
    case TestHttpServer::Normal:
        break;
    }
    return "normal";
}

QString serverScript()
{
    return QStringLiteral(ZEL_TESTS_SOURCE_DIR "/httpserver.py");
}

} // namespace

TestHttpServer::TestHttpServer()
{
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    m_process.setReadChannel(QProcess::StandardOutput);
}

TestHttpServer::~TestHttpServer()
{
    stop();
}

bool TestHttpServer::start(const QString &folder)
{
    stop();
    m_process.start(QStringLiteral("python3"), { serverScript(), folder });
    if (!m_process.waitForStarted(StartTimeoutMs))
        return false;
    while (!m_process.canReadLine()) {
        if (!m_process.waitForReadyRead(StartTimeoutMs)) {
            qWarning("test HTTP server did not start: %s", m_process.readAllStandardError().constData());
            stop();
            return false;
        }
    }
    bool ok = false;
    const uint port = m_process.readLine().trimmed().toUInt(&ok);
    if (!ok || port == 0 || port > 65535) {
        stop();
        return false;
    }
    m_port = quint16(port);
    return true;
}

void TestHttpServer::stop()
{
    if (m_process.state() != QProcess::NotRunning) {
        // Closing stdin is the server's signal to end.
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
    m_port = 0;
}

bool TestHttpServer::isRunning() const
{
    return m_port != 0 && m_process.state() == QProcess::Running;
}

QUrl TestHttpServer::url() const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(m_port));
}

bool TestHttpServer::setBehaviour(const QString &path, Behaviour behaviour, qint64 value, int intervalMs)
{
    bool ok = false;
    control(QStringLiteral("behaviour"),
        { { QStringLiteral("path"), path }, { QStringLiteral("mode"), QLatin1String(modeName(behaviour)) },
            { QStringLiteral("value"), QString::number(value) },
            { QStringLiteral("interval"), QString::number(intervalMs) } },
        &ok);
    return ok;
}

int TestHttpServer::requestCount(const QString &path)
{
    bool ok = false;
    const QByteArray body = control(QStringLiteral("count"), { { QStringLiteral("path"), path } }, &ok);
    return ok ? body.trimmed().toInt() : -1;
}

bool TestHttpServer::reset()
{
    bool ok = false;
    control(QStringLiteral("reset"), {}, &ok);
    return ok;
}

// A plain blocking HTTP/1.0 exchange: the tests' own network access manager
// and event loop stay untouched.
QByteArray TestHttpServer::control(const QString &command, const QList<QPair<QString, QString>> &query, bool *ok)
{
    *ok = false;
    if (!isRunning())
        return QByteArray();
    QByteArray target = "/__control/" + command.toLatin1();
    for (int n = 0; n < query.size(); ++n)
        target += (n ? '&' : '?') + query.at(n).first.toLatin1() + '=' + QUrl::toPercentEncoding(query.at(n).second);

    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), m_port);
    if (!socket.waitForConnected(ControlTimeoutMs))
        return QByteArray();
    socket.write("GET " + target + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
    socket.waitForBytesWritten(ControlTimeoutMs);
    QByteArray response;
    while (socket.state() == QAbstractSocket::ConnectedState && socket.waitForReadyRead(ControlTimeoutMs))
        response += socket.readAll();
    response += socket.readAll();
    const int bodyStart = response.indexOf("\r\n\r\n");
    if (bodyStart < 0)
        return QByteArray();
    *ok = response.startsWith("HTTP/1.0 200") || response.startsWith("HTTP/1.1 200");
    return response.mid(bodyStart + 4);
}
