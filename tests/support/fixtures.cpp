#include "fixtures.h"

#include "platform/utf8_path.h"

#include <algorithm>
#include <fstream>
#include <stdexcept>

namespace fixtures {
namespace fs = std::filesystem;

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

uint8_t patternByte(int64_t position, uint8_t seed) {
    // Differs between neighbouring sectors, and repeats nowhere within a few GiB, so a block
    // written to the wrong place shows.
    return uint8_t((position * 131) ^ (position >> 9) ^ (position >> 17) ^ (position >> 25) ^ seed);
}

void writePatternFile(const std::string& path, int64_t size, uint8_t seed) {
    std::ofstream out(platform::pathFromUtf8(path), std::ios::binary | std::ios::trunc);
    std::vector<char> block(1 << 16);
    for (int64_t pos = 0; pos < size;) {
        const int64_t n = std::min<int64_t>(int64_t(block.size()), size - pos);
        for (int64_t i = 0; i < n; ++i)
            block[size_t(i)] = char(patternByte(pos + i, seed));
        out.write(block.data(), n);
        pos += n;
    }
    if (!out) throw std::runtime_error("cannot write " + path);
}

std::vector<uint8_t> readFile(const std::string& path) {
    std::ifstream in(platform::pathFromUtf8(path), std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> namesIn(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(platform::utf8Name(entry.path().filename()));
    std::sort(names.begin(), names.end());
    return names;
}

void writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(platform::pathFromUtf8(path), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

void writeMbr(const std::string& image, const std::vector<Slot>& slots) {
    std::vector<uint8_t> sector(512, 0);
    for (size_t i = 0; i < slots.size() && i < 4; ++i) {
        uint8_t* slot = sector.data() + 446 + 16 * i;
        slot[0] = slots[i].boot ? 0x80 : 0;
        slot[4] = slots[i].type;
        for (int b = 0; b < 4; ++b) {
            slot[8 + b] = uint8_t(slots[i].first >> (8 * b));
            slot[12 + b] = uint8_t(slots[i].count >> (8 * b));
        }
    }
    sector[510] = 0x55;
    sector[511] = 0xAA;
    std::fstream f(platform::pathFromUtf8(image), std::ios::in | std::ios::out | std::ios::binary);
    f.write(reinterpret_cast<const char*>(sector.data()), 512);
    if (!f) throw std::runtime_error("cannot write a boot record into " + image);
}

} // namespace fixtures
