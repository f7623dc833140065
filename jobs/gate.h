#pragma once
// The overwrite gate in front of every write to a device or file in place: its rule, its
// question and its texts. Front ends only show the window and hand back what was typed.

#include "core/job.h"
#include "platform/platform.h"

#include <string>
#include <vector>

namespace gate {

// The typed text unlocks the gate when, with blanks and control characters trimmed from both
// ends and A-Z lowered, it is exactly "i agree".
bool agreementAccepted(const std::string& typed);

struct Notice {
    std::string tab;                // the tab caption, for example "&English"
    std::vector<std::string> lines; // one line of the text box each
};
// The notices in tab order; the dialog opens on the last one ("USA").
const std::vector<Notice>& notices();
inline constexpr const char* kTranslatorsText =
    "Translations: Dutch, French, Italian, Spanish, Portuguese and German by the Tarnwick team";

// The question asked after the typed agreement; only Yes lets the overwrite go on.
std::string secondQuestion(const std::string& description);
// Its id, so that a flag can answer it on the command line.
inline constexpr const char* kQuestionId = "gate";

// The line that names the disk about to be written, for the last look before the write:
// "Disk: /dev/sdb  SanDisk Ultra  4C530001230405117281  32.0 GB" (what the disk does not report
// is left out; the size in GB, or in MB below 1 GB, with the user's decimal separator).
std::string diskLine(const platform::DriveIdentity& disk, char decimalSeparator = '.');

// The gate for a range about to be overwritten: the window with its typed agreement and the disk
// line of the device the target's name leads to as the gate asks, then the question (Yes, No,
// Cancel). True only after the agreement and Yes; false means nothing may be written.
[[nodiscard]] bool ConfirmOverwrite(platform::Backend& backend, Dialogs& dialogs, const TFileInfo& target);

} // namespace gate
