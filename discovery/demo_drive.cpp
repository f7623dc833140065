#include "discovery/demo_drive.h"

#include "core/byte_order.h"
#include "platform/image_drives.h"
#include "platform/utf8_path.h"

#include <array>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <stdexcept>
#include <vector>

namespace demo {
namespace fs = std::filesystem;

namespace {

// The master boot record's code, linked for 0:0600 (GNU as, .code16, Intel syntax):
//
//     cli / xor ax,ax / mov ss,ax / mov sp,7C00h / mov es,ax / mov ds,ax / sti / cld
//     mov si,7C00h / mov di,0600h / mov cx,0100h / rep movsw   ; copy ourselves to 0:0600
//     jmp 0:061Eh                                              ; and go on there
//     mov si,07BEh / mov cx,4                                  ; the four partition slots
// find: cmp byte [si],80h / je found / add si,16 / loop find
//     mov si,msg_invalid / jmp print
// found: mov bp,si / mov di,5                                  ; five tries
// read: mov dx,[bp] / mov cx,[bp+2] / mov bx,7C00h / mov ax,0201h / int 13h / jnc loaded
//     xor ax,ax / int 13h / dec di / jnz read                  ; reset the disk, try again
//     mov si,msg_error / jmp print
// loaded: cmp word [7DFEh],0AA55h / jne missing
//     mov si,bp / jmp 0:7C00h                                  ; DS:SI = the active slot
// missing: mov si,msg_missing
// print: lodsb / test al,al / jz halt / mov ah,0Eh / mov bx,7 / int 10h / jmp print
// halt: hlt / jmp halt
// followed by the three zero-terminated messages.
constexpr std::array<uint8_t, 199> kMbrCode{
    0xfa, 0x31, 0xc0, 0x8e, 0xd0, 0xbc, 0x00, 0x7c, 0x8e, 0xc0, 0x8e, 0xd8, 0xfb, 0xfc, 0xbe, 0x00, 0x7c,
    0xbf, 0x00, 0x06, 0xb9, 0x00, 0x01, 0xf3, 0xa5, 0xea, 0x1e, 0x06, 0x00, 0x00, 0xbe, 0xbe, 0x07, 0xb9,
    0x04, 0x00, 0x80, 0x3c, 0x80, 0x74, 0x0a, 0x83, 0xc6, 0x10, 0xe2, 0xf6, 0xbe, 0x77, 0x06, 0xeb, 0x33,
    0x89, 0xf5, 0xbf, 0x05, 0x00, 0x8b, 0x56, 0x00, 0x8b, 0x4e, 0x02, 0xbb, 0x00, 0x7c, 0xb8, 0x01, 0x02,
    0xcd, 0x13, 0x73, 0x0c, 0x31, 0xc0, 0xcd, 0x13, 0x4f, 0x75, 0xe9, 0xbe, 0x8f, 0x06, 0xeb, 0x12, 0x81,
    0x3e, 0xfe, 0x7d, 0x55, 0xaa, 0x75, 0x07, 0x89, 0xee, 0xea, 0x00, 0x7c, 0x00, 0x00, 0xbe, 0xae, 0x06,
    0xac, 0x84, 0xc0, 0x74, 0x09, 0xb4, 0x0e, 0xbb, 0x07, 0x00, 0xcd, 0x10, 0xeb, 0xf2, 0xf4, 0xeb, 0xfd,
    // "Invalid partition table", "Error loading operating system", "Missing operating system"
    0x49, 0x6e, 0x76, 0x61, 0x6c, 0x69, 0x64, 0x20, 0x70, 0x61, 0x72, 0x74, 0x69, 0x74, 0x69, 0x6f, 0x6e,
    0x20, 0x74, 0x61, 0x62, 0x6c, 0x65, 0x00, 0x45, 0x72, 0x72, 0x6f, 0x72, 0x20, 0x6c, 0x6f, 0x61, 0x64,
    0x69, 0x6e, 0x67, 0x20, 0x6f, 0x70, 0x65, 0x72, 0x61, 0x74, 0x69, 0x6e, 0x67, 0x20, 0x73, 0x79, 0x73,
    0x74, 0x65, 0x6d, 0x00, 0x4d, 0x69, 0x73, 0x73, 0x69, 0x6e, 0x67, 0x20, 0x6f, 0x70, 0x65, 0x72, 0x61,
    0x74, 0x69, 0x6e, 0x67, 0x20, 0x73, 0x79, 0x73, 0x74, 0x65, 0x6d, 0x00};

// The FAT32 volume's boot code at offset 5Ah of its boot sector, linked for 0:7C5A:
//     cli / xor ax,ax / mov ds,ax / mov ss,ax / mov sp,7C00h / sti / cld / mov si,message
// print: lodsb / test al,al / jz wait / mov ah,0Eh / mov bx,7 / int 10h / jmp print
// wait: xor ax,ax / int 16h / int 19h                          ; a key, then reboot
// message: "This is the demo volume of Tarnwick. It is not bootable.\r\nPress a key to restart.\r\n"
constexpr std::array<uint8_t, 35> kVolumeBootCode{0xfa, 0x31, 0xc0, 0x8e, 0xd8, 0x8e, 0xd0, 0xbc, 0x00,
                                                  0x7c, 0xfb, 0xfc, 0xbe, 0x7d, 0x7c, 0xac, 0x84, 0xc0,
                                                  0x74, 0x09, 0xb4, 0x0e, 0xbb, 0x07, 0x00, 0xcd, 0x10,
                                                  0xeb, 0xf2, 0x31, 0xc0, 0xcd, 0x16, 0xcd, 0x19};
constexpr char kVolumeBootMessage[] =
    "This is the demo volume of Tarnwick. It is not bootable.\r\nPress a key to restart.\r\n";

constexpr uint32_t kDiskSignature = 0x4E524154; // "TARN"

using le::put16;
using le::put32;

// CHS bytes (head, sector with cylinder bits 8-9, cylinder) for a 255-head, 63-sector geometry;
// beyond cylinder 1023 the usual 1023/254/63.
void putChs(uint8_t* p, uint32_t lba) {
    uint32_t c = lba / (255 * 63), h = (lba / 63) % 255, s = lba % 63 + 1;
    if (c > 1023) {
        c = 1023;
        h = 254;
        s = 63;
    }
    p[0] = uint8_t(h);
    p[1] = uint8_t((s & 0x3F) | ((c >> 2) & 0xC0));
    p[2] = uint8_t(c);
}

// One slot: first sector relative to `base` (the table's own sector for partitions, the
// extended partition's start for links), CHS from the absolute sectors.
void putSlot(uint8_t* sector, int slot, bool boot, uint8_t type, uint32_t base, uint32_t first,
             uint32_t count) {
    uint8_t* e = sector + 446 + 16 * slot;
    e[0] = boot ? 0x80 : 0x00;
    putChs(e + 1, base + first);
    e[4] = type;
    putChs(e + 5, base + first + count - 1);
    put32(e + 8, first);
    put32(e + 12, count);
}

void sign(uint8_t* sector) {
    sector[510] = 0x55;
    sector[511] = 0xAA;
}

void writeAt(std::ostream& out, int64_t offset, const void* data, size_t size) {
    out.seekp(offset);
    out.write(static_cast<const char*>(data), std::streamsize(size));
    if (!out) throw std::runtime_error("cannot write the demo drive image");
}

// An 8.3 name as the directory stores it: "README.TXT" -> "README  TXT".
std::array<char, 11> shortName(const std::string& name) {
    std::array<char, 11> out;
    out.fill(' ');
    const size_t dot = name.find('.');
    const std::string base = name.substr(0, dot), ext = dot == std::string::npos ? "" : name.substr(dot + 1);
    for (size_t i = 0; i < base.size() && i < 8; ++i)
        out[i] = char(std::toupper(static_cast<unsigned char>(base[i])));
    for (size_t i = 0; i < ext.size() && i < 3; ++i)
        out[8 + i] = char(std::toupper(static_cast<unsigned char>(ext[i])));
    return out;
}

std::string textRegion(size_t size) {
    static const char* const sentences[] = {
        "Tarnwick works on storage devices below the file system.",
        "This logical partition holds plain text, so the byte map shows it as text.",
        "Select a range, look at it in the hex viewer, or save it to a raw image file.",
        "The partition before this one is a FAT32 volume; the one after it holds binary data.",
    };
    std::string text;
    text.reserve(size + 200);
    for (int line = 1; text.size() < size; ++line) {
        char number[16];
        std::snprintf(number, sizeof number, "%06d", line);
        text += "Line ";
        text += number;
        text += ": ";
        text += sentences[line % 4];
        text += "\r\n";
    }
    text.resize(size);
    return text;
}

std::vector<uint8_t> binaryRegion(size_t size) {
    std::vector<uint8_t> bytes(size);
    uint64_t x = 0x9E3779B97F4A7C15ull; // xorshift64: the same bytes every time
    for (size_t i = 0; i < size; i += 8) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        for (size_t k = 0; k < 8 && i + k < size; ++k)
            bytes[i + k] = uint8_t(x >> (8 * k));
    }
    return bytes;
}

} // namespace

const std::string& readmeText() {
    static const std::string text =
        "Tarnwick demo drive\r\n"
        "===================\r\n"
        "\r\n"
        "This FAT32 volume is the first partition of a 64 MiB disk image that Tarnwick\r\n"
        "writes into a temporary folder when it starts with --demo, and removes when it ends.\r\n"
        "The disk has a master boot record with boot code, this bootable FAT32 partition\r\n"
        "at sector 63, and an extended partition with two logical partitions: one full\r\n"
        "of text and one full of binary data. The space between them is empty.\r\n";
    return text;
}

void writeFat32(std::ostream& image, int64_t offset, uint32_t sectors, uint32_t hiddenSectors,
                const std::string& label, uint32_t volumeId, const std::string& fileName,
                const std::string& contents) {
    constexpr uint32_t reserved = 32, fats = 2, rootCluster = 2;
    // The FAT size rule of the FAT32 format description, for one sector per cluster.
    const uint32_t fatSectors = (sectors - reserved + (256 + fats) / 2 - 1) / ((256 + fats) / 2);
    const uint32_t dataStart = reserved + fats * fatSectors;
    if (sectors <= dataStart) throw std::runtime_error("too small for FAT32");
    const uint32_t clusters = sectors - dataStart;
    if (clusters < 65525) throw std::runtime_error("too small for FAT32");

    std::array<char, 11> labelField;
    labelField.fill(' ');
    for (size_t i = 0; i < label.size() && i < 11; ++i)
        labelField[i] = char(std::toupper(static_cast<unsigned char>(label[i])));

    // Boot sector, kept again at sector 6.
    std::array<uint8_t, 512> boot{};
    boot[0] = 0xEB, boot[1] = 0x58, boot[2] = 0x90; // jump over the parameter block to 5Ah
    std::memcpy(&boot[3], "TARNWICK", 8);
    put16(&boot[11], 512);
    boot[13] = 1; // sectors per cluster
    put16(&boot[14], reserved);
    boot[16] = fats;
    boot[21] = 0xF8; // fixed disk
    put16(&boot[24], 63);
    put16(&boot[26], 255);
    put32(&boot[28], hiddenSectors);
    put32(&boot[32], sectors);
    put32(&boot[36], fatSectors);
    put32(&boot[44], rootCluster);
    put16(&boot[48], 1); // FSInfo sector
    put16(&boot[50], 6); // backup boot sector
    boot[64] = 0x80;
    boot[66] = 0x29; // the next three fields are valid
    put32(&boot[67], volumeId);
    std::memcpy(&boot[71], labelField.data(), 11);
    std::memcpy(&boot[82], "FAT32   ", 8);
    std::memcpy(&boot[0x5A], kVolumeBootCode.data(), kVolumeBootCode.size());
    std::memcpy(&boot[0x5A + kVolumeBootCode.size()], kVolumeBootMessage, sizeof kVolumeBootMessage);
    sign(boot.data());

    const uint32_t fileClusters = uint32_t((contents.size() + 511) / 512);
    const uint32_t firstFileCluster = rootCluster + 1;

    std::array<uint8_t, 512> info{};
    put32(&info[0], 0x41615252);
    put32(&info[484], 0x61417272);
    put32(&info[488], clusters - 1 - fileClusters);     // free clusters
    put32(&info[492], firstFileCluster + fileClusters); // next free
    put32(&info[508], 0xAA550000);

    for (uint32_t copy : {0u, 6u}) {
        writeAt(image, offset + int64_t(copy) * 512, boot.data(), boot.size());
        writeAt(image, offset + int64_t(copy + 1) * 512, info.data(), info.size());
    }

    // The allocation table: media and end marks, the root folder's one cluster, the file's chain.
    std::vector<uint8_t> fat(size_t(fatSectors) * 512, 0);
    put32(&fat[0], 0x0FFFFFF8);
    put32(&fat[4], 0x0FFFFFFF);
    put32(&fat[4 * rootCluster], 0x0FFFFFFF);
    for (uint32_t i = 0; i < fileClusters; ++i) {
        const uint32_t c = firstFileCluster + i;
        put32(&fat[4 * size_t(c)], i + 1 == fileClusters ? 0x0FFFFFFF : c + 1);
    }
    for (uint32_t n = 0; n < fats; ++n)
        writeAt(image, offset + int64_t(reserved + n * fatSectors) * 512, fat.data(), fat.size());

    // The root folder: the volume label, then the file. Times are fixed: 2024-01-01 12:00.
    constexpr uint16_t date = ((2024 - 1980) << 9) | (1 << 5) | 1, time = 12 << 11;
    std::array<uint8_t, 512> root{};
    std::memcpy(&root[0], labelField.data(), 11);
    root[11] = 0x08;
    put16(&root[22], time);
    put16(&root[24], date);
    uint8_t* file = &root[32];
    const auto name = shortName(fileName);
    std::memcpy(file, name.data(), 11);
    file[11] = 0x20; // archive
    put16(file + 14, time);
    put16(file + 16, date);
    put16(file + 18, date);
    put16(file + 20, fileClusters ? firstFileCluster >> 16 : 0);
    put16(file + 22, time);
    put16(file + 24, date);
    put16(file + 26, fileClusters ? firstFileCluster & 0xFFFF : 0);
    put32(file + 28, uint32_t(contents.size()));
    const int64_t data = offset + int64_t(dataStart) * 512;
    writeAt(image, data + int64_t(rootCluster - 2) * 512, root.data(), root.size());
    if (!contents.empty())
        writeAt(image, data + int64_t(firstFileCluster - 2) * 512, contents.data(), contents.size());
}

void writeDemoImage(const std::string& path) {
    const fs::path file = platform::pathFromUtf8(path);
    {
        std::ofstream create(file, std::ios::binary | std::ios::trunc);
        if (!create) throw std::runtime_error("cannot create the demo drive image " + path);
    }
    std::error_code ec;
    fs::resize_file(file, uint64_t(kImageSize), ec); // sparse: the empty regions cost nothing
    if (ec) throw std::runtime_error("cannot size the demo drive image " + path + ": " + ec.message());
    std::fstream image(file, std::ios::in | std::ios::out | std::ios::binary);
    if (!image) throw std::runtime_error("cannot open the demo drive image " + path);

    std::array<uint8_t, 512> mbr{};
    std::memcpy(mbr.data(), kMbrCode.data(), kMbrCode.size());
    put32(&mbr[440], kDiskSignature);
    putSlot(mbr.data(), 0, true, 0x0C, 0, kFatStart, kFatSectors);
    putSlot(mbr.data(), 1, false, 0x05, 0, kExtendedStart, kExtendedSectors);
    sign(mbr.data());
    writeAt(image, 0, mbr.data(), mbr.size());

    writeFat32(image, int64_t(kFatStart) * kSectorSize, kFatSectors, kFatStart, kFatLabel, kFatVolumeId,
               kReadmeName, readmeText());

    // The chain: each record's partition counts from the record, each link from the extended start.
    std::array<uint8_t, 512> ebr{};
    putSlot(ebr.data(), 0, false, 0x83, kExtendedStart, kLogicalOffset, kLogicalSectors);
    putSlot(ebr.data(), 1, false, 0x05, kExtendedStart, kLogicalSpan, kLogicalSpan);
    sign(ebr.data());
    writeAt(image, int64_t(kExtendedStart) * kSectorSize, ebr.data(), ebr.size());
    ebr = {};
    putSlot(ebr.data(), 0, false, 0x82, kExtendedStart + kLogicalSpan, kLogicalOffset, kLogicalSectors);
    sign(ebr.data());
    writeAt(image, int64_t(kExtendedStart + kLogicalSpan) * kSectorSize, ebr.data(), ebr.size());

    const size_t logicalBytes = size_t(kLogicalSectors) * kSectorSize;
    const std::string text = textRegion(logicalBytes);
    writeAt(image, int64_t(kTextStart) * kSectorSize, text.data(), text.size());
    const auto binary = binaryRegion(logicalBytes);
    writeAt(image, int64_t(kBinaryStart) * kSectorSize, binary.data(), binary.size());

    image.flush();
    if (!image) throw std::runtime_error("cannot write the demo drive image " + path);
}

DemoDrive::DemoDrive(platform::Backend& system) {
    std::random_device random;
    for (int attempt = 0;; ++attempt) {
        folder_ = fs::temp_directory_path() / ("tarnwick-demo-" + std::to_string(random()));
        std::error_code ec;
        if (fs::create_directory(folder_, ec)) break;
        if (attempt == 100)
            throw std::runtime_error("cannot create a folder for the demo drive in " +
                                     platform::utf8Name(fs::temp_directory_path()));
    }
    fs::permissions(folder_, fs::perms::owner_all, fs::perm_options::replace);
    image_ = platform::utf8Name(folder_ / "demo-drive.img");
    try {
        writeDemoImage(image_);
    } catch (...) {
        std::error_code ec;
        fs::remove_all(folder_, ec);
        throw;
    }
    auto backend = std::make_unique<platform::ImageDrives>(system);
    backend->addDrive(platform::ImageDrive(image_));
    backend_ = std::move(backend);
}

DemoDrive::~DemoDrive() {
    backend_.reset();
    std::error_code ec;
    fs::remove_all(folder_, ec);
}

platform::Backend& DemoDrive::backend() {
    return *backend_;
}

} // namespace demo
