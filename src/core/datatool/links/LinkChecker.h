#pragma once

#include "datatool/links/LinkVerdict.h"

#include <QHash>
#include <QNetworkAccessManager>
#include <QObject>
#include <QUrl>
#include <deque>
#include <optional>
#include <vector>

class QNetworkReply;
class QTimer;

namespace links {

// A record's address as stored.
struct LinkTarget
{
    qint64 no = 0;
    QString name;
    QString url;
};

struct CheckOptions
{
    int jobs = 16;         // requests at once
    int timeoutMs = 10000; // per request, from sending it to its headers
    QByteArray userAgent;  // empty: the data tool's own
};

// Checks addresses over HTTP: HEAD first (GET, read no further than the headers, where a
// server refuses HEAD), following up to MaxRedirects redirects itself so it can tell
// permanent ones from temporary ones. At most `jobs` requests are under way at once and
// never more than PerHostLimit to one host and port; the rest wait in a queue per host,
// taken round robin so one big site does not hold up the others.
class LinkChecker : public QObject
{
    Q_OBJECT

public:
    static constexpr int PerHostLimit = 2;
    static constexpr int MaxRedirects = 5;

    LinkChecker(std::vector<LinkTarget> targets, CheckOptions options, QObject* parent = nullptr);
    ~LinkChecker() override;

    // Starts checking; finished() follows, always through the event loop.
    void start();
    // Starts and returns once every address is checked or stop() was called.
    void run();
    // Sends nothing more and drops the requests under way: their records stay unchecked.
    void stop();

    bool wasStopped() const { return m_stopped; }
    const std::vector<LinkTarget>& targets() const { return m_targets; }
    // By position in targets(); empty for a record not checked (after stop()).
    const std::optional<LinkResult>& result(size_t index) const { return m_results[index]; }
    int doneCount() const { return m_done; }
    int count(Verdict verdict) const { return m_counts[static_cast<size_t>(verdict)]; }

    static QByteArray defaultUserAgent();

signals:
    void checked(int index);
    void finished();

private:
    struct Pending
    {
        int record;
        QUrl url;
    };
    struct Host
    {
        std::deque<Pending> waiting;
        int active = 0;
        bool ready = false; // in m_ready
    };
    struct Request
    {
        int record;
        QString host;
        QUrl url;
        bool get;
        QTimer* timer;
        bool timedOut = false;
    };
    struct Progress
    {
        Chain chain;
        bool useGet = false; // this record's server refused HEAD once
    };

    void enqueue(int record, const QUrl& url, bool first);
    void markReady(const QString& host);
    void pump();
    void send(const Pending& pending, const QString& host);
    void answered(QNetworkReply* reply);
    void timedOut(QNetworkReply* reply);
    void complete(int record, const LinkResult& result);
    void finishIfDone();

    QNetworkAccessManager m_manager;
    std::vector<LinkTarget> m_targets;
    CheckOptions m_options;
    std::vector<std::optional<LinkResult>> m_results;
    std::array<int, VerdictCount> m_counts{};
    int m_done = 0;

    QHash<QString, Host> m_hosts;
    std::deque<QString> m_ready; // hosts with waiting requests and a free slot
    qsizetype m_waiting = 0;
    QHash<QNetworkReply*, Request> m_inFlight;
    QHash<int, Progress> m_progress; // records between requests or with one under way
    bool m_started = false;
    bool m_stopped = false;
    bool m_finished = false;
};

} // namespace links
