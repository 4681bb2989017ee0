#include "datatool/links/LinkChecker.h"

#include "lists/WebAddress.h"

#include <QEventLoop>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <algorithm>

namespace links {

namespace {

// Statuses with which servers turn HEAD away while they serve GET: 405 and 501 say so
// outright; 400 and 403 come from servers and filters that never expect HEAD. A GET
// costs no more than its headers, so asking again is cheap.
bool refusesHead(int status)
{
    return status == 405 || status == 501 || status == 400 || status == 403;
}

QString hostKey(const QUrl& url)
{
    const int port = url.port(url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0 ? 443 : 80);
    return url.host() + QLatin1Char(':') + QString::number(port);
}

QString text(const QUrl& url)
{
    return url.toString(QUrl::FullyEncoded);
}

bool isWeb(const QUrl& url)
{
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https")) &&
           !url.host().isEmpty();
}

QString describe(QNetworkReply::NetworkError error, const QString& message)
{
    switch (error) {
    case QNetworkReply::HostNotFoundError:
        return QStringLiteral("host not found");
    case QNetworkReply::ConnectionRefusedError:
        return QStringLiteral("connection refused");
    case QNetworkReply::RemoteHostClosedError:
        return QStringLiteral("connection closed by the server");
    case QNetworkReply::TimeoutError:
        return QStringLiteral("connection timed out");
    case QNetworkReply::SslHandshakeFailedError:
        return QStringLiteral("TLS handshake failed: %1").arg(message);
    default:
        return message;
    }
}

} // namespace

LinkChecker::LinkChecker(std::vector<LinkTarget> targets, CheckOptions options, QObject* parent)
    : QObject(parent)
    , m_targets(std::move(targets))
    , m_options(std::move(options))
    , m_results(m_targets.size())
{
    if (m_options.jobs < 1)
        m_options.jobs = 1;
    if (m_options.userAgent.isEmpty())
        m_options.userAgent = defaultUserAgent();
    // A check tells whether this machine reaches a site itself; a proxy picked up from the
    // environment would answer for it instead, and differently from one machine to the next.
    m_manager.setProxy(QNetworkProxy::NoProxy);
    m_manager.setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
}

LinkChecker::~LinkChecker()
{
    stop();
}

QByteArray LinkChecker::defaultUserAgent()
{
    return QByteArrayLiteral("kestrove-db/" KESTROVE_VERSION " (Kestrove Online Newspaper link checker)");
}

void LinkChecker::start()
{
    if (m_started)
        return;
    m_started = true;
    for (size_t i = 0; i < m_targets.size(); ++i) {
        const std::optional<QString> address = WebAddress::forBrowser(m_targets[i].url);
        if (address)
            enqueue(static_cast<int>(i), QUrl(*address), false);
        else
            complete(static_cast<int>(i), refused(m_targets[i].url));
    }
    pump();
    finishIfDone();
}

void LinkChecker::run()
{
    QEventLoop loop;
    connect(this, &LinkChecker::finished, &loop, &QEventLoop::quit);
    start();
    loop.exec();
}

void LinkChecker::stop()
{
    if (m_stopped || m_finished)
        return;
    m_stopped = true;
    m_hosts.clear();
    m_ready.clear();
    m_waiting = 0;
    const auto replies = m_inFlight.keys();
    m_inFlight.clear();
    for (QNetworkReply* reply : replies) {
        disconnect(reply, nullptr, this, nullptr);
        reply->abort();
        reply->deleteLater();
    }
    m_progress.clear();
    finishIfDone();
}

void LinkChecker::enqueue(int record, const QUrl& url, bool first)
{
    const QString key = hostKey(url);
    Host& host = m_hosts[key];
    if (first)
        host.waiting.push_front({record, url});
    else
        host.waiting.push_back({record, url});
    ++m_waiting;
    markReady(key);
}

void LinkChecker::markReady(const QString& key)
{
    Host& host = m_hosts[key];
    if (!host.ready && !host.waiting.empty() && host.active < PerHostLimit) {
        host.ready = true;
        m_ready.push_back(key);
    }
}

void LinkChecker::pump()
{
    while (!m_stopped && m_inFlight.size() < m_options.jobs && !m_ready.empty()) {
        const QString key = m_ready.front();
        m_ready.pop_front();
        Host& host = m_hosts[key];
        host.ready = false;
        if (host.waiting.empty() || host.active >= PerHostLimit)
            continue;
        const Pending pending = host.waiting.front();
        host.waiting.pop_front();
        --m_waiting;
        send(pending, key);
        markReady(key);
    }
}

void LinkChecker::send(const Pending& pending, const QString& key)
{
    QNetworkRequest request(pending.url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setHeader(QNetworkRequest::UserAgentHeader, m_options.userAgent);
    const bool get = m_progress[pending.record].useGet;
    QNetworkReply* reply = get ? m_manager.get(request) : m_manager.head(request);
    ++m_hosts[key].active;

    auto* timer = new QTimer(reply);
    timer->setSingleShot(true);
    timer->setInterval(m_options.timeoutMs);
    connect(timer, &QTimer::timeout, this, [this, reply] { timedOut(reply); });
    m_inFlight.insert(reply, Request{pending.record, key, pending.url, get, timer});

    connect(reply, &QNetworkReply::finished, this, [this, reply] { answered(reply); });
    if (get) {
        // The headers are all a check needs; the body may be large or endless.
        connect(reply, &QNetworkReply::metaDataChanged, this, [this, reply] {
            if (reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid())
                answered(reply);
        });
    }
    timer->start();
}

void LinkChecker::timedOut(QNetworkReply* reply)
{
    const auto it = m_inFlight.find(reply);
    if (it == m_inFlight.end())
        return;
    it->timedOut = true;
    reply->abort(); // finishes the reply, which answered() then reports
}

void LinkChecker::answered(QNetworkReply* reply)
{
    const auto it = m_inFlight.find(reply);
    if (it == m_inFlight.end())
        return;
    const Request request = *it;
    m_inFlight.erase(it);
    request.timer->stop();
    disconnect(reply, nullptr, this, nullptr);

    const QVariant statusAttribute = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const int status = statusAttribute.isValid() && !request.timedOut ? statusAttribute.toInt() : 0;
    const QNetworkReply::NetworkError error = reply->error();
    const QString errorText = reply->errorString();
    const QString phrase = reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
    const QByteArray location = reply->rawHeader("Location");
    if (!reply->isFinished())
        reply->abort(); // a GET with its headers in
    reply->deleteLater();

    Host& host = m_hosts[request.host];
    --host.active;
    markReady(request.host);

    Progress& progress = m_progress[request.record];
    Chain& chain = progress.chain;
    bool asked = false; // a next request for this record is queued
    if (status > 0 && !request.get && refusesHead(status)) {
        progress.useGet = true;
        enqueue(request.record, request.url, true);
        asked = true;
    } else if (status > 0) {
        chain.hops.push_back({text(request.url), status, phrase});
        if (isRedirect(status) && location.isEmpty()) {
            chain.failure = QStringLiteral("redirect without a Location");
        } else if (isRedirect(status)) {
            const QUrl next = request.url.resolved(QUrl(QString::fromUtf8(location))).adjusted(QUrl::RemoveFragment);
            if (!isWeb(next)) {
                chain.failure = QStringLiteral("redirect to a non-web address %1").arg(text(next));
            } else if (static_cast<int>(chain.hops.size()) > MaxRedirects) {
                const bool loop = std::any_of(chain.hops.begin(), chain.hops.end(),
                                              [&](const Hop& hop) { return hop.url == text(next); });
                chain.failure =
                    loop ? QStringLiteral("redirect loop") : QStringLiteral("more than %1 redirects").arg(MaxRedirects);
            } else {
                enqueue(request.record, next, true);
                asked = true;
            }
        }
    } else {
        chain.hops.push_back({text(request.url), 0, QString()});
        chain.failure = request.timedOut ? QStringLiteral("no answer within %1 s").arg(m_options.timeoutMs / 1000.0)
                                         : describe(error, errorText);
    }
    if (!asked)
        complete(request.record, classify(chain));
    pump();
    finishIfDone();
}

void LinkChecker::complete(int record, const LinkResult& result)
{
    m_results[static_cast<size_t>(record)] = result;
    ++m_counts[static_cast<size_t>(result.verdict)];
    ++m_done;
    m_progress.remove(record);
    emit checked(record);
}

void LinkChecker::finishIfDone()
{
    if (m_finished || !m_started || !m_inFlight.isEmpty() || m_waiting > 0)
        return;
    m_finished = true;
    QMetaObject::invokeMethod(this, &LinkChecker::finished, Qt::QueuedConnection);
}

} // namespace links
