#include "checkers.h"

#include "support/fixtures.h"

#ifdef _WIN32
#include <zlib.h>

#include <stdexcept>
#endif

namespace checkers {
namespace {

#ifdef _WIN32
using Bytes = std::vector<uint8_t>;

uint32_t le(const Bytes& b, size_t at, int size) {
    if (at + size_t(size) > b.size())
        throw std::runtime_error("a field at byte " + std::to_string(at) + " lies past the end");
    uint32_t v = 0;
    for (int i = size - 1; i >= 0; --i)
        v = v << 8 | b[at + size_t(i)];
    return v;
}

// Raw deflate data that must inflate to exactly `size` bytes.
Bytes inflateRaw(const Bytes& in, size_t at, size_t packed, size_t size) {
    z_stream z{};
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK) throw std::runtime_error("inflateInit2 failed");
    Bytes out(size + 1);
    z.next_in = const_cast<Bytes::value_type*>(in.data() + at);
    z.avail_in = uInt(packed);
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    const int rc = inflate(&z, Z_FINISH);
    const size_t made = out.size() - z.avail_out;
    inflateEnd(&z);
    if (rc != Z_STREAM_END)
        throw std::runtime_error("the deflate stream does not end (zlib " + std::to_string(rc) + ")");
    if (made != size)
        throw std::runtime_error("inflates to " + std::to_string(made) + " bytes, not " +
                                 std::to_string(size));
    out.resize(made);
    return out;
}
#else
std::string quoted(const std::string& s) {
    return "'" + s + "'";
}

Verdict run(const std::string& command) {
    Verdict v;
    v.status = fixtures::shell(command + " 2>&1", &v.output);
    return v;
}
#endif

} // namespace

#ifdef _WIN32
// A Windows test cannot start unzip, 7z or python3 (under Wine not even when the machine has them).
std::string missing(const std::string& tool) {
    return tool + " cannot be run from a Windows test";
}

Verdict unzipTest(const std::string&) {
    return {-1, missing("unzip")};
}

Verdict sevenZipTest(const std::string&) {
    return {-1, missing("7z")};
}

// The same reading python3's zipfile does: each directory entry's local header found and its name
// compared, the data inflated to the size the directory gives and its CRC-32 checked.
Verdict extractEntries(const std::string& archive, const std::string& folder) {
    Verdict v;
    try {
        const Bytes b = fixtures::readFile(archive);
        size_t end = b.size() < 22 ? std::string::npos : b.size() - 22;
        while (end != std::string::npos && le(b, end, 4) != 0x06054B50u)
            end = end == 0 || b.size() - end > 22 + 65535 ? std::string::npos : end - 1;
        if (end == std::string::npos) throw std::runtime_error("no end record");
        const uint32_t count = le(b, end + 10, 2);
        size_t at = le(b, end + 16, 4);
        for (uint32_t i = 0; i < count; ++i) {
            if (le(b, at, 4) != 0x02014B50u)
                throw std::runtime_error("directory entry " + std::to_string(i) + " is broken");
            const uint32_t method = le(b, at + 10, 2), crc = le(b, at + 16, 4), packed = le(b, at + 20, 4),
                           size = le(b, at + 24, 4), nameSize = le(b, at + 28, 2), local = le(b, at + 42, 4);
            const std::string name(b.begin() + long(at + 46), b.begin() + long(at + 46 + nameSize));
            if (le(b, local, 4) != 0x04034B50u) throw std::runtime_error(name + ": no local header");
            const uint32_t localName = le(b, local + 26, 2), localExtra = le(b, local + 28, 2);
            if (std::string(b.begin() + long(local + 30), b.begin() + long(local + 30 + localName)) != name)
                throw std::runtime_error(name + ": the local header names another file");
            const size_t data = local + 30 + localName + localExtra;
            if (data + packed > b.size()) throw std::runtime_error(name + ": the data runs past the end");
            Bytes bytes;
            if (method == 0 && packed == size)
                bytes.assign(b.begin() + long(data), b.begin() + long(data + packed));
            else if (method == 8)
                bytes = inflateRaw(b, data, packed, size);
            else
                throw std::runtime_error(name + ": compression method " + std::to_string(method));
            if (uint32_t(crc32(0, bytes.data(), uInt(bytes.size()))) != crc)
                throw std::runtime_error(name + ": bad CRC-32");
            fixtures::writeFile(folder + "/" + std::to_string(i), bytes);
            v.output += name + "\t" + std::to_string(size) + "\n";
            at += 46 + nameSize + le(b, at + 30, 2) + le(b, at + 32, 2);
        }
        v.status = 0;
    } catch (const std::exception& e) {
        v.status = 1;
        v.output += std::string(e.what()) + "\n";
    }
    return v;
}

// As python3's zlib reads the body: one whole zlib stream, then the footer.
Verdict inflateBody(const std::string& image, const std::string& out) {
    Verdict v;
    try {
        const Bytes b = fixtures::readFile(image);
        if (b.size() < 512) throw std::runtime_error("shorter than its header");
        // The body's size is not written down: inflate into a buffer that surely holds it.
        z_stream z{};
        if (inflateInit(&z) != Z_OK) throw std::runtime_error("inflateInit failed");
        Bytes body;
        Bytes chunk(1 << 20);
        z.next_in = const_cast<uint8_t*>(b.data() + 512);
        z.avail_in = uInt(b.size() - 512);
        int rc = Z_OK;
        while (rc == Z_OK) {
            z.next_out = chunk.data();
            z.avail_out = uInt(chunk.size());
            rc = inflate(&z, Z_NO_FLUSH);
            body.insert(body.end(), chunk.begin(), chunk.begin() + long(chunk.size() - z.avail_out));
            if (rc == Z_BUF_ERROR && z.avail_in > 0) rc = Z_OK;
        }
        const size_t left = z.avail_in;
        inflateEnd(&z);
        if (rc != Z_STREAM_END) throw std::runtime_error("the zlib stream does not end");
        const Bytes foot(b.end() - long(left), b.end());
        bool zeros = foot.size() >= 8;
        for (size_t i = 0; zeros && i + 4 < foot.size(); ++i)
            zeros = foot[i] == 0;
        if (!zeros || std::string(foot.end() - 4, foot.end()) != "FOOT")
            throw std::runtime_error("no footer after the stream");
        if (b.size() % 4 != 0 || foot.size() > 11)
            throw std::runtime_error("size " + std::to_string(b.size()));
        fixtures::writeFile(out, body);
        v.status = 0;
    } catch (const std::exception& e) {
        v.status = 1;
        v.output = e.what();
    }
    return v;
}
#else
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

Verdict extractEntries(const std::string& archive, const std::string& folder) {
    return run("python3 -c '\n"
               "import sys, zipfile\n"
               "z = zipfile.ZipFile(sys.argv[1])\n"
               "for i, info in enumerate(z.infolist()):\n"
               "    open(sys.argv[2] + \"/\" + str(i), \"wb\").write(z.read(info))\n"
               "    print(info.filename + \"\\t\" + str(info.file_size))\n"
               "' " +
               quoted(archive) + " " + quoted(folder));
}

Verdict inflateBody(const std::string& image, const std::string& out) {
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
#endif

} // namespace checkers
