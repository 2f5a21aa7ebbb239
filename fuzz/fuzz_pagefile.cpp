// The report page file's reader on arbitrary bytes: it must refuse or read,
// never crash, never read out of bounds, never allocate without limit; and
// whatever it reads must come back the same after saving it again.
#include "report/pagefile.h"

#include <cstdint>
#include <cstdlib>

namespace {

void check(const QByteArray &bytes)
{
    const report::DecodedPages decoded = report::decodePages(bytes);
    if (!decoded.error.isEmpty()) {
        if (!decoded.pages.empty())
            std::abort(); // a refused file yields no pages
        return;
    }
    const report::DecodedPages again = report::decodePages(report::encodePages(decoded.pages));
    if (!again.error.isEmpty() || !(again.pages == decoded.pages))
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    check(bytes);
    // The same bytes as the payload behind a valid header and checksum, so
    // the search reaches the page reader instead of stopping at the checksum.
    check(report::wrapPayload(bytes));
    return 0;
}
