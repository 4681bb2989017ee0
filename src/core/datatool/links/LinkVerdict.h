#pragma once

#include <QString>
#include <array>
#include <vector>

// What a record's address check found, and the rule that turns the answers a check
// received into that finding. Kept free of any networking so the rule can be read and
// tested on its own.
namespace links {

enum class Verdict
{
    Ok,          // the address answers 2xx
    Moved,       // a permanent redirect (301, 308) leads to a page that answers 2xx
    Redirected,  // only temporary redirects (302, 303, 307) lead to a page that answers 2xx
    Broken,      // the last answer is an error (4xx, 5xx) or not a page at all
    Unreachable, // no answer: name not found, refused, reset, TLS, timeout, or a redirect not followed
    Refused      // the address rule refused the address, so it was never asked
};
constexpr int VerdictCount = 6;
constexpr std::array<Verdict, VerdictCount> AllVerdicts = {Verdict::Ok,     Verdict::Moved,       Verdict::Redirected,
                                                           Verdict::Broken, Verdict::Unreachable, Verdict::Refused};

// "ok", "moved", ...: the words of the report and the summary.
QString verdictName(Verdict verdict);
// Whether the verdict counts against the directory (exit status 1).
bool isFailure(Verdict verdict);

bool isRedirect(int status);          // 301, 302, 303, 307, 308
bool isPermanentRedirect(int status); // 301, 308

// One request of a check: the address asked and the answer's status (0: no answer).
struct Hop
{
    QString url;
    int status = 0;
    QString phrase; // the server's reason phrase, "Not Found"
};

// A finished check. Every hop but the last is a redirect that was followed to the next
// hop's address; `failure` says why the last hop gave no usable answer (a network error,
// or a redirect that was not followed), and is empty when its answer stands.
struct Chain
{
    std::vector<Hop> hops;
    QString failure;
};

struct LinkResult
{
    Verdict verdict = Verdict::Refused;
    int status = 0;   // the last answer's HTTP status; 0 when none came
    QString finalUrl; // for moved: the new address to keep; otherwise the last address asked
    QString reason;   // the redirects followed and what went wrong, for people
};

// The verdict of a finished chain. A chain ending in 2xx is moved when any of its
// redirects was permanent; its new address is where the last permanent redirect points,
// since the temporary ones after it (a language page, a login, a session address) are
// not meant to be kept. Otherwise it is redirected when it followed redirects, and ok
// when it did not.
LinkResult classify(const Chain& chain);

// A record whose address the address rule refused.
LinkResult refused(const QString& stored);

} // namespace links
