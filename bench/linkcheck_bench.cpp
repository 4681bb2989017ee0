// Measures kestrove-db check-links: wall time and peak memory of the tool checking a
// table whose addresses are spread over many loopback hosts (127.0.0.2 and up), against
// servers in a thread of this program that answer every request after a fixed delay.
//
// The tool runs as a child process, so its peak memory is its own and its event loop
// does not share a thread with the servers.
// Usage: kestrove-linkbench [--records 10000] [--hosts 100] [--delay-ms 50] [--jobs 16]

#include "datatool/Csv.h"
#include "datatool/DbTool.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSemaphore>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <memory>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

// One server per loopback address, all on one thread; keep-alive, one request at a time
// per connection (the checker does not pipeline).
class Servers : public QThread
{
public:
    Servers(int hosts, int delayMs)
        : m_hosts(hosts)
        , m_delayMs(delayMs)
    {
    }

    // Starts the thread and returns once every server listens; empty ports on failure.
    std::vector<quint16> begin()
    {
        start();
        m_ready.acquire();
        return m_ports;
    }
    long served() const { return m_served; }

protected:
    void run() override
    {
        std::vector<std::unique_ptr<QTcpServer>> servers;
        for (int i = 0; i < m_hosts; ++i) {
            auto server = std::make_unique<QTcpServer>();
            if (!server->listen(QHostAddress(QStringLiteral("127.0.0.%1").arg(i + 2)))) {
                std::fprintf(stderr, "cannot listen on 127.0.0.%d: %s\n", i + 2, qPrintable(server->errorString()));
                m_ports.clear();
                m_ready.release();
                return;
            }
            QTcpServer* raw = server.get();
            QObject::connect(raw, &QTcpServer::newConnection, raw, [this, raw] {
                while (QTcpSocket* socket = raw->nextPendingConnection())
                    accept(socket);
            });
            m_ports.push_back(raw->serverPort());
            servers.push_back(std::move(server));
        }
        m_ready.release();
        exec();
    }

private:
    void accept(QTcpSocket* socket)
    {
        auto buffer = std::make_shared<QByteArray>();
        QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, buffer] {
            *buffer += socket->readAll();
            qsizetype end;
            while ((end = buffer->indexOf("\r\n\r\n")) >= 0) {
                buffer->remove(0, end + 4);
                QTimer::singleShot(m_delayMs, Qt::PreciseTimer, socket, [this, socket] {
                    socket->write("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
                    ++m_served;
                });
            }
        });
    }

    int m_hosts;
    int m_delayMs;
    std::vector<quint16> m_ports;
    QSemaphore m_ready;
    std::atomic<long> m_served{0};
};

int intOption(const QStringList& args, const char* name, int fallback)
{
    const qsizetype at = args.indexOf(QLatin1String(name));
    return at >= 0 && at + 1 < args.size() ? args[at + 1].toInt() : fallback;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int records = intOption(args, "--records", 10000);
    const int hosts = intOption(args, "--hosts", 100);
    const int delayMs = intOption(args, "--delay-ms", 50);
    const int jobs = intOption(args, "--jobs", 16);
    if (records < 1 || hosts < 1 || hosts > 250 || delayMs < 0 || jobs < 1) {
        std::fprintf(stderr, "usage: kestrove-linkbench [--records N] [--hosts 1-250] [--delay-ms MS] [--jobs N]\n");
        return 2;
    }

    Servers servers(hosts, delayMs);
    const std::vector<quint16> ports = servers.begin();
    if (ports.empty())
        return 1;

    QTemporaryDir dir;
    const QString csvPath = dir.filePath(QStringLiteral("links.csv"));
    const QString db = dir.filePath(QStringLiteral("links.db"));
    const QString report = dir.filePath(QStringLiteral("report.csv"));
    {
        QByteArray csv = Csv::formatRecord({"No", "Name", "Url", "Country", "State", "City", "Category"});
        for (int i = 0; i < records; ++i) {
            const int host = i % hosts;
            const QString url = QStringLiteral("http://127.0.0.%1:%2/paper/%3").arg(host + 2).arg(ports[host]).arg(i);
            csv += Csv::formatRecord({QString::number(i + 1), QStringLiteral("Paper %1").arg(i), url, "", "", "", ""});
        }
        QFile file(csvPath);
        if (!file.open(QIODevice::WriteOnly) || file.write(csv) != csv.size())
            return 1;
    }
    DbTool::create(db);
    DbTool::importCsv(db, csvPath);

    const QByteArray tool = QByteArrayLiteral(KESTROVE_DB);
    const QByteArray dbArg = QFile::encodeName(db);
    const QByteArray reportArg = QFile::encodeName(report);
    const QByteArray jobsArg = QByteArray::number(jobs);
    QElapsedTimer clock;
    clock.start();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execl(tool.constData(), tool.constData(), "check-links", dbArg.constData(), "--jobs", jobsArg.constData(),
                "--report", reportArg.constData(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    if (pid < 0 || ::wait4(pid, &status, 0, &usage) != pid)
        return 1;
    const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;

    int ok = 0;
    QFile reportFile(report);
    if (reportFile.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : reportFile.readAll().split('\n'))
            ok += line.contains(",ok,200,");
    }
    servers.quit();
    servers.wait();

    const double floor = static_cast<double>(records) * delayMs / 1000.0 / jobs;
    std::printf("records %d, hosts %d, answer delay %d ms, --jobs %d\n", records, hosts, delayMs, jobs);
    std::printf("wall time          %.2f s (floor %.2f s)\n", seconds, floor);
    std::printf("peak memory (RSS)  %.1f MB\n", static_cast<double>(usage.ru_maxrss) / 1024.0);
    std::printf("requests served    %ld\n", servers.served());
    std::printf("ok in the report   %d of %d\n", ok, records);
    std::printf("exit status        %d\n", WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 && ok == records ? 0 : 1;
}
