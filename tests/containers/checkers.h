#pragma once
// Other programs' verdicts on what we write: unzip, 7z and python3's zipfile and zlib. A Windows
// test cannot run them: there unzip and 7z fail as missing, and python3's reading is done by this
// kit's own, through zlib.

#include <string>
#include <vector>

namespace checkers {

struct Verdict {
    int status = -1;
    std::string output; // standard output and standard error
};

Verdict unzipTest(const std::string& archive);
Verdict sevenZipTest(const std::string& archive);
// python3's zipfile: every entry read (its CRC checked) and written to <folder>/<index>; the
// output lists "name<TAB>size" per entry.
Verdict extractEntries(const std::string& archive, const std::string& folder);
// python3's zlib: the image's body from byte 512 inflated into `out`; fails unless one whole zlib
// stream is followed by the footer (four or more zero bytes to a multiple of 4, then "FOOT").
Verdict inflateBody(const std::string& image, const std::string& out);

// Why a checker cannot run here, or empty when it can.
std::string missing(const std::string& tool);

} // namespace checkers
