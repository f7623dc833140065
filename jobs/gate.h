#pragma once
// The overwrite gate in front of every write to a device or file in place: its rule, its
// question and its texts. Front ends only show the window and hand back what was typed.

#include "core/job.h"

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

// The gate for a range about to be overwritten: the window with its typed agreement, then the
// question (Yes, No, Cancel). True only after the agreement and Yes; false means nothing may be
// written.
[[nodiscard]] bool ConfirmOverwrite(Dialogs& dialogs, const TFileInfo& target);

} // namespace gate
