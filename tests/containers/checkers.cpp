#include "checkers.h"

#include "support/fixtures.h"

namespace checkers {
namespace {

std::string quoted(const std::string& s) {
    return "'" + s + "'";
}

Verdict run(const std::string& command) {
    Verdict v;
    v.status = fixtures::shell(command + " 2>&1", &v.output);
    return v;
}

} // namespace

std::string missing(const std::string& tool) {
    if (fixtures::shell("command -v " + tool + " >/dev/null") == 0) return {};
    return tool + " is not installed (scripts/install-deps.sh installs it)";
}

Verdict unzipTest(const std::string& archive) {
    return run("unzip -t " + quoted(archive));
}

Verdict sevenZipTest(const std::string& archive) {
    return run("7z t " + quoted(archive));
}

Verdict pythonExtract(const std::string& archive, const std::string& folder) {
    return run("python3 -c '\n"
               "import sys, zipfile\n"
               "z = zipfile.ZipFile(sys.argv[1])\n"
               "for i, info in enumerate(z.infolist()):\n"
               "    open(sys.argv[2] + \"/\" + str(i), \"wb\").write(z.read(info))\n"
               "    print(info.filename + \"\\t\" + str(info.file_size))\n"
               "' " +
               quoted(archive) + " " + quoted(folder));
}

Verdict pythonInflateBody(const std::string& image, const std::string& out) {
    return run("python3 -c '\n"
               "import sys, zlib\n"
               "data = open(sys.argv[1], \"rb\").read()\n"
               "d = zlib.decompressobj()\n"
               "body = d.decompress(data[512:]) + d.flush()\n"
               "assert d.eof, \"the zlib stream does not end\"\n"
               "foot = d.unused_data\n"
               "assert foot[-4:] == b\"FOOT\" and len(foot) >= 8 and not any(foot[:-4]), foot\n"
               "assert len(data) % 4 == 0 and len(foot) <= 11, len(data)\n"
               "open(sys.argv[2], \"wb\").write(body)\n"
               "' " +
               quoted(image) + " " + quoted(out));
}

} // namespace checkers
