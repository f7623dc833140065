#pragma once
// "Save as zip": the selection's bytes as one deflated entry of a new zip archive or one appended
// to, with a progress window that stays on top and has its own Stop. Plain C++, no Qt: the window
// is made through a factory and seen only as the JobControl it carries.

#include "containers/report.h"
#include "core/fileinfo.h"
#include "core/job.h"
#include "jobs/byte_observer.h"

#include <functional>
#include <memory>
#include <string>

namespace platform {
class Backend;
}

namespace containers {

inline constexpr const char* kZipFilter = "Zip archives|*.zip|Any file|*.*";
// The question asked when the chosen archive exists, so the command line can answer it.
inline constexpr const char* kZipExistsId = "zip-existing";

// The progress window of one export: shown and given the focus when made, closed and destroyed
// when released.
class ZipProgressWindow {
public:
    virtual ~ZipProgressWindow() = default;
    // Its bar, its event pump and its stop flag (set by its Stop button or by closing it).
    virtual JobControl& job() = 0;
};
using ZipWindowFactory = std::function<std::unique_ptr<ZipProgressWindow>()>;

// The Stop button's question: true only for Yes.
bool ConfirmZipStop(Dialogs& dialogs);

// The menu command: asks for the archive (proposing the selection's DefaultName + ".zip" the first
// time, the last chosen name after that, kept in `lastArchive`), then runs SaveSelectionAsZip.
Report SaveAsZipCommand(platform::Backend& backend, Dialogs& dialogs, const ZipWindowFactory& window,
                        const TFileInfo& selection, std::string& lastArchive,
                        jobs::ByteObserver* digests = nullptr);

// The whole export into `archive`: the overwrite-or-append question when it exists, the window,
// the entry (named after the selection's DefaultName), the directory. Returns once the archive is
// closed and the window gone. `digests` sees the entry's bytes as they are read; a complete entry
// ends with a message holding its summary.
Report SaveSelectionAsZip(platform::Backend& backend, Dialogs& dialogs, const ZipWindowFactory& window,
                          const std::string& archive, const TFileInfo& selection,
                          jobs::ByteObserver* digests = nullptr);

} // namespace containers
