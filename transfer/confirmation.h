#pragma once
// The overwrite gate's rules and texts: what must be typed, and the notices in each language.

#include <string>
#include <vector>

namespace transfer {

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

} // namespace transfer
