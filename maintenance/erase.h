#pragma once
// Erase: every byte of a selection overwritten with one byte value or with pseudo-random data,
// behind the overwrite gate, in 2048-byte blocks written back to back. The fill methods and the
// rules of the fill character's edit live here too. Plain C++, no Qt.

#include "core/fileinfo.h"
#include "core/job.h"
#include "core/report.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {
class Backend;
}

namespace wipe {

inline constexpr int64_t kBlock = 2048;

inline constexpr const char* kCaption = "Erase data on selected area";
inline constexpr const char* kMethodsCaption = "Select wipe character / method";
inline constexpr const char* kCharGroupCaption = "Selected character (hexadecimal)";

// The fill methods in the order of the radio group; items 0 to 4 fill with one byte value.
enum Method { Zero = 0, Ones = 1, OddOnes = 2, EvenOnes = 3, Custom = 4, Random = 5 };
const std::vector<std::string>& methodCaptions();
// The fill character's text when the method is picked; nothing leaves the text as it is.
std::optional<std::string> charTextFor(int method);
// Only a custom character can be typed.
bool charEditable(int method);

// Keys the fill character's edit lets through: backspace, Enter, 0-9, A-F, a-f.
bool charKeyAllowed(char32_t key);
// The edit's text cut to its first two characters (UTF-8 text, cut between characters).
std::string cutCharText(const std::string& text);
// The text read as a hexadecimal number; empty, invalid or out-of-range text counts as 0.
uint8_t charValue(const std::string& text);

struct Fill {
    bool random = false;
    uint8_t value = 0;
    bool operator==(const Fill&) const = default;
};
// The fill that the method and the character's text give when Erase is pressed.
Fill fillFor(int method, const std::string& charText);

// NotStarted: the gate or the range was refused. Failed: the selection could not be opened,
// reached or written whole, or the final flush failed. Incomplete: Stop, after the blocks up to
// the one in progress. `bytes` counts the bytes written.
using Outcome = ::Outcome;
using Report = ::Report;

struct Options {
    // Block devices are written past the system's cache (direct I/O); files always use the cache.
    bool direct = true;
    // Bytes per write of the block engine, and buffers in flight (filled ahead on a second
    // thread when more than one); 0 chooses by measurement: random data is made on a second
    // thread while the previous buffer is written, a fixed value on this one (filling a buffer
    // with it costs nothing next to writing it).
    int64_t buffer = 1 << 20;
    int buffers = 0;
};

// "Device " + description + " erased."
std::string erasedMessage(const std::string& description);

// Overwrites the selection with the fill after the overwrite gate. Random data is new for every
// block, from a generator seeded from the job's clock. A block that cannot be written whole ends
// the erase with a message naming the bytes written; the device is flushed before the completion
// message, which also follows Stop.
Report eraseSelection(platform::Backend& backend, Dialogs& dialogs, JobControl& job, TFileInfo selection,
                      Fill fill, const Options& options = {});

} // namespace wipe
