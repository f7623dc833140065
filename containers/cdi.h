#pragma once
// Saving a selection as a compressed disk image (".cdi") and writing one back onto a selection.
// Each runs as one call that asks through Dialogs and is driven through JobControl; the bytes
// move through the block engine. Plain C++, no Qt.

#include "containers/report.h"
#include "containers/zlib_stream.h"
#include "core/fileinfo.h"
#include "core/job.h"
#include "jobs/byte_observer.h"

namespace platform {
class Backend;
class RawStream;
} // namespace platform

namespace containers {

inline constexpr const char* kCdiFilter = "Compressed Disk Image|*.cdi|Any file|*.*";

struct CdiOptions {
    Codec codec = defaultCodec();
    // Block devices are read and written past the system's cache, as the raw transfers do.
    bool direct = true;
    // Sees the selection's bytes as a save reads them (the digests computed while imaging); its
    // summary ends the completion message. Not owned.
    jobs::ByteObserver* digests = nullptr;
};

// Saves the selection's bytes into an image file chosen through the save dialog. Stoppable: a
// stopped save still ends the stream and writes the footer.
Report SaveAsCompressed(platform::Backend& backend, Dialogs& dialogs, JobControl& job,
                        const TFileInfo& selection, const CdiOptions& options = {});

// Writes an image file chosen through the open dialog onto the selection, at the selection's
// offset, behind the overwrite gate. Never writes outside the selection's range.
Report LoadFromCompressed(platform::Backend& backend, Dialogs& dialogs, JobControl& job,
                          const TFileInfo& selection, const CdiOptions& options = {});

// The same into a stream that cannot be replaced or taken back (standard output); name stands for
// it in messages.
Report SaveCompressedToStream(platform::Backend& backend, Dialogs& dialogs, JobControl& job,
                              const TFileInfo& selection, platform::RawStream& out, const std::string& name,
                              const CdiOptions& options = {});

// The same from a stream (standard input), read as it comes: the header's checks first, the body's
// checksum and length at its end. What was written before a fault stays written, as with a file.
Report LoadCompressedFromStream(platform::Backend& backend, Dialogs& dialogs, JobControl& job,
                                const TFileInfo& selection, platform::RawStream& image,
                                const std::string& name, const CdiOptions& options = {});

} // namespace containers
