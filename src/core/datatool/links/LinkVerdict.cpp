#include "datatool/links/LinkVerdict.h"

#include <QStringList>

namespace links {

QString verdictName(Verdict verdict)
{
    switch (verdict) {
    case Verdict::Ok:
        return QStringLiteral("ok");
    case Verdict::Moved:
        return QStringLiteral("moved");
    case Verdict::Redirected:
        return QStringLiteral("redirected");
    case Verdict::Broken:
        return QStringLiteral("broken");
    case Verdict::Unreachable:
        return QStringLiteral("unreachable");
    case Verdict::Refused:
        return QStringLiteral("refused");
    }
    return QString();
}

bool isFailure(Verdict verdict)
{
    return verdict == Verdict::Broken || verdict == Verdict::Unreachable || verdict == Verdict::Refused;
}

bool isRedirect(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

bool isPermanentRedirect(int status)
{
    return status == 301 || status == 308;
}

LinkResult classify(const Chain& chain)
{
    LinkResult result;
    if (chain.hops.empty()) {
        result.verdict = Verdict::Unreachable;
        result.reason = chain.failure;
        return result;
    }
    const Hop& last = chain.hops.back();
    result.status = last.status;
    result.finalUrl = last.url;

    QStringList steps;
    int lastPermanent = -1;
    for (size_t i = 0; i + 1 < chain.hops.size(); ++i) {
        const Hop& hop = chain.hops[i];
        steps << QStringLiteral("%1 to %2").arg(hop.status).arg(chain.hops[i + 1].url);
        if (isPermanentRedirect(hop.status))
            lastPermanent = static_cast<int>(i);
    }

    if (!chain.failure.isEmpty()) {
        result.verdict = Verdict::Unreachable;
        steps << chain.failure;
    } else if (last.status >= 200 && last.status <= 299) {
        if (lastPermanent >= 0) {
            result.verdict = Verdict::Moved;
            result.finalUrl = chain.hops[static_cast<size_t>(lastPermanent) + 1].url;
        } else {
            result.verdict = steps.isEmpty() ? Verdict::Ok : Verdict::Redirected;
        }
    } else {
        // 4xx and 5xx, and anything else that is not a page: 1xx, or a 3xx that is no redirect.
        result.verdict = Verdict::Broken;
        steps << (last.phrase.isEmpty() ? QString::number(last.status)
                                        : QStringLiteral("%1 %2").arg(last.status).arg(last.phrase));
    }
    result.reason = steps.join(QLatin1String(", then "));
    return result;
}

LinkResult refused(const QString& stored)
{
    LinkResult result;
    result.verdict = Verdict::Refused;
    result.reason = stored.trimmed().isEmpty() ? QStringLiteral("no address") : QStringLiteral("not a web address");
    return result;
}

} // namespace links
