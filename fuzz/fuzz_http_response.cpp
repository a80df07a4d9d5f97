// Any bytes as the answer of a web server: the parser must end in a result without crashing,
// hanging or holding more than the caller's limit, and must read the answer alike whether it
// arrives at once or in pieces.
#include "core/update/HttpMessage.h"

#include <algorithm>

namespace {

constexpr qint64 kMaxBody = 4096;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size)
{
    const QByteArrayView all(reinterpret_cast<const char*>(data), qsizetype(size));

    HttpResponseParser whole(kMaxBody);
    whole.feed(all);
    whole.finish();
    if (whole.isDone() == whole.hasFailed())
        __builtin_trap();
    if (whole.body().size() > kMaxBody)
        __builtin_trap();

    // The same bytes in pieces of varying length, as a slow connection delivers them.
    HttpResponseParser pieces(kMaxBody);
    qsizetype at = 0;
    for (qsizetype step = 1; at < all.size(); step = step % 7 + 1) {
        const qsizetype n = std::min(step, all.size() - at);
        pieces.feed(all.sliced(at, n));
        at += n;
    }
    pieces.finish();
    if (pieces.isDone() != whole.isDone() || pieces.failure() != whole.failure() ||
        pieces.statusCode() != whole.statusCode() ||
        (whole.isDone() && pieces.body() != whole.body()))
        __builtin_trap();
    return 0;
}
