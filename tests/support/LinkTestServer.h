#pragma once

// A small HTTP server on the loopback interface for the link checker's tests: each path
// answers in its own way (/ok, /moved, /missing, /slow ...). It serves from the thread
// that made it, so that thread must run its event loop while a check runs.

#include <QHash>
#include <QHostAddress>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <sys/socket.h>

// Answers by path, counts requests and the most it held unanswered at once.
class TestServer : public QObject
{
public:
    explicit TestServer(const QString& address = QStringLiteral("127.0.0.1"))
    {
        listening = server.listen(QHostAddress(address));
        base = QStringLiteral("http://%1:%2").arg(address).arg(server.serverPort());
        connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = server.nextPendingConnection())
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(socket); });
        });
    }
    QString url(const QString& path) const { return base + path; }

    QTcpServer server;
    bool listening = false;
    QString base;
    QStringList requests; // "HEAD /ok"
    QByteArray userAgent;
    int inFlight = 0;
    int maxInFlight = 0;
    int* sharedInFlight = nullptr; // across servers
    int* sharedMax = nullptr;
    std::function<void(const QString& path)> onRequest;

private:
    void read(QTcpSocket* socket)
    {
        QByteArray& buffer = m_buffers[socket];
        buffer += socket->readAll();
        if (buffer.startsWith('\x16')) { // a TLS hello on a plain port
            socket->write("HTTP/1.1 400 Bad Request\r\n\r\n");
            socket->disconnectFromHost();
            return;
        }
        qsizetype end;
        while ((end = buffer.indexOf("\r\n\r\n")) >= 0) {
            const QList<QByteArray> lines = buffer.left(end).split('\n');
            buffer.remove(0, end + 4);
            const QList<QByteArray> words = lines.first().split(' ');
            for (const QByteArray& line : lines) {
                if (line.toLower().startsWith("user-agent:"))
                    userAgent = line.mid(11).trimmed();
            }
            answer(socket, QString::fromLatin1(words.value(0)), QString::fromLatin1(words.value(1)));
        }
    }

    void answer(QTcpSocket* socket, const QString& method, const QString& path)
    {
        requests << method + QLatin1Char(' ') + path;
        if (onRequest)
            onRequest(path);
        count(+1);
        auto send = [this, socket](int status, const char* phrase,
                                   const QByteArray& headers = "Content-Length: 0\r\n") {
            socket->write("HTTP/1.1 " + QByteArray::number(status) + ' ' + phrase + "\r\n" + headers + "\r\n");
            count(-1);
        };
        auto redirect = [&](int status, const QString& to) {
            send(status, "Redirect", "Content-Length: 0\r\nLocation: " + to.toUtf8() + "\r\n");
        };
        const QString chain = QStringLiteral("/chain/");
        if (path == QLatin1String("/ok") || path.startsWith(QLatin1String("/ok?")))
            send(200, "OK");
        else if (path == QLatin1String("/moved") || path == QLatin1String("/raced"))
            redirect(301, QStringLiteral("/ok"));
        else if (path == QLatin1String("/found"))
            redirect(302, url(QStringLiteral("/ok")));
        else if (path == QLatin1String("/permanent"))
            redirect(308, QStringLiteral("/ok"));
        else if (path == QLatin1String("/mixed"))
            redirect(301, QStringLiteral("/temp"));
        else if (path == QLatin1String("/temp"))
            redirect(302, QStringLiteral("/ok?lang=en"));
        else if (path == QLatin1String("/dir/relative"))
            redirect(301, QStringLiteral("../ok"));
        else if (path == QLatin1String("/loop-a") || path == QLatin1String("/loop-b"))
            redirect(302, path == QLatin1String("/loop-a") ? QStringLiteral("/loop-b") : QStringLiteral("/loop-a"));
        else if (path.startsWith(chain) && path.mid(chain.size()).toInt() < 6)
            redirect(301, chain + QString::number(path.mid(chain.size()).toInt() + 1));
        else if (path.startsWith(chain))
            send(200, "OK");
        else if (path == QLatin1String("/to-mail"))
            redirect(301, QStringLiteral("mailto:desk@example.com"));
        else if (path == QLatin1String("/error"))
            send(500, "Internal Server Error");
        else if (path == QLatin1String("/no-head") && method == QLatin1String("HEAD"))
            send(405, "Method Not Allowed");
        else if (path == QLatin1String("/no-head")) // a body far too large to wait for
            send(200, "OK", "Content-Length: 100000000\r\n\r\n" + QByteArray(1000, 'x'));
        else if (path.startsWith(QLatin1String("/held/")))
            QTimer::singleShot(100, socket, [send] { send(200, "OK"); });
        else if (path == QLatin1String("/slow"))
            return; // never answered
        else if (path == QLatin1String("/reset")) {
            const linger hard = {1, 0};
            ::setsockopt(static_cast<int>(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
            socket->abort();
            count(-1);
        } else
            send(404, "Not Found");
    }

    void count(int change)
    {
        inFlight += change;
        maxInFlight = std::max(maxInFlight, inFlight);
        if (sharedInFlight) {
            *sharedInFlight += change;
            *sharedMax = std::max(*sharedMax, *sharedInFlight);
        }
    }

    QHash<QTcpSocket*, QByteArray> m_buffers;
};

// A port on the loopback interface where nothing listens.
inline int closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}
