#include "directory/Collation.h"

#include "errors/AppError.h"

#include <memory>
#include <unicode/ucol.h>
#include <unicode/ustring.h>
#include <vector>

namespace Collation {

namespace {

struct CloseCollator
{
    void operator()(UCollator* collator) const { ucol_close(collator); }
};
using CollatorPtr = std::unique_ptr<UCollator, CloseCollator>;

const UCollator* root()
{
    static const CollatorPtr collator = [] {
        UErrorCode status = U_ZERO_ERROR;
        CollatorPtr opened(ucol_open("", &status));
        if (U_FAILURE(status))
            throw AppError(QStringLiteral("Cannot load the collation: %1").arg(QLatin1String(u_errorName(status))));
        return opened;
    }();
    return collator.get();
}

// A collator is not to be used by two threads at once: each thread keys with its own
// copy, and keeps its conversion buffers.
struct ThreadState
{
    CollatorPtr collator;
    std::vector<UChar> text;
    std::vector<uint8_t> key;

    ThreadState()
    {
        UErrorCode status = U_ZERO_ERROR;
        collator.reset(ucol_clone(root(), &status));
        if (U_FAILURE(status))
            throw AppError(QStringLiteral("Cannot load the collation: %1").arg(QLatin1String(u_errorName(status))));
        text.resize(256);
        key.resize(512);
    }
};

ThreadState& state()
{
    thread_local ThreadState local;
    return local;
}

} // namespace

void appendKey(std::string_view utf8, std::string& out)
{
    ThreadState& s = state();
    // UTF-8 never takes fewer bytes than UTF-16 code units, so this always fits.
    if (s.text.size() < utf8.size() + 1)
        s.text.resize(utf8.size() + 1);
    int32_t length = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strFromUTF8WithSub(s.text.data(), static_cast<int32_t>(s.text.size()), &length, utf8.data(),
                         static_cast<int32_t>(utf8.size()), 0xFFFD, nullptr, &status);
    if (U_FAILURE(status))
        length = 0;
    int32_t size =
        ucol_getSortKey(s.collator.get(), s.text.data(), length, s.key.data(), static_cast<int32_t>(s.key.size()));
    if (size > static_cast<int32_t>(s.key.size())) {
        s.key.resize(static_cast<size_t>(size));
        size =
            ucol_getSortKey(s.collator.get(), s.text.data(), length, s.key.data(), static_cast<int32_t>(s.key.size()));
    }
    // The key ends in a zero byte, which is left out.
    if (size > 1)
        out.append(reinterpret_cast<const char*>(s.key.data()), static_cast<size_t>(size - 1));
}

QByteArray version()
{
    UVersionInfo info;
    ucol_getVersion(root(), info);
    char text[U_MAX_VERSION_STRING_LENGTH];
    u_versionToString(info, text);
    return QByteArray("icu-root-") + text;
}

} // namespace Collation
