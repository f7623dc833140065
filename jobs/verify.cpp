#include "jobs/verify.h"

#include "core/aligned_buffer.h"
#include "jobs/range_job.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace verify {
namespace {

constexpr int64_t kBlock = 1 << 20;

} // namespace

Result compare(platform::RawStream& expected, platform::RawStream& actual, int64_t size, JobControl& job) {
    Result r;
    // Page-aligned, as a device read past the cache wants its buffers.
    const auto a = aligned::allocate(4096, kBlock);
    const auto b = aligned::allocate(4096, kBlock);
    const char separator = platform::decimalSeparator();
    while (r.compared < size) {
        const int64_t want = std::min(kBlock, size - r.compared);
        const auto na = expected.read(a.get(), want);
        const auto nb = actual.read(b.get(), want);
        if (!na || !nb) {
            r.error = !na ? na.error() : nb.error();
            r.sourceFailed = !na;
            break;
        }
        const int64_t n = std::min(*na, *nb);
        // Equal blocks, the usual case, are passed by memcmp; only a differing one is counted byte by byte.
        for (int64_t i = std::memcmp(a.get(), b.get(), size_t(n)) == 0 ? n : 0; i < n; ++i) {
            if (a.get()[i] == b.get()[i]) continue;
            if (!r.first) r.first = r.compared + i;
            ++r.differing;
        }
        r.compared += n;
        job.progress({r.compared, size, jobs::percentOf(r.compared, size),
                      "Verifying: " + jobs::percentDoneText(r.compared, size, separator)});
        job.pump();
        if (n < want) {
            // One side ended early: what the other still holds cannot be the same.
            r.error = platform::errnoError(EIO);
            r.error->text = "it ended after " + std::to_string(r.compared) + " bytes";
            r.sourceFailed = *na < want;
            break;
        }
        if (job.stopRequested()) {
            r.stopped = true;
            break;
        }
    }
    return r;
}

std::string report(const Result& r, int64_t size, const std::string& target, int64_t offset) {
    const std::string n = std::to_string(size);
    if (r.differing > 0)
        return "Verification failed: " + std::to_string(r.differing) + " of the " +
               std::to_string(r.compared) + " bytes compared differ on " + target + ", the first at byte " +
               std::to_string(*r.first) + " of the range (byte " + std::to_string(offset + *r.first) +
               " of the device).";
    if (r.error && r.sourceFailed)
        return "Verification failed: the source could not be read again after " + std::to_string(r.compared) +
               " of " + n + " bytes (" + r.error->text + "), so " + target + " was not compared past that.";
    if (r.error)
        return "Verification failed: " + target + " could not be read back after " +
               std::to_string(r.compared) + " of " + n + " bytes (" + r.error->text + ").";
    if (r.stopped)
        return "Verification stopped after " + std::to_string(r.compared) + " of " + n +
               " bytes; no difference so far.";
    return "Verified: all " + n + " bytes on " + target + " read back as they were written.";
}

} // namespace verify
