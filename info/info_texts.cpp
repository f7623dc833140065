#include "info/info_texts.h"

namespace info {

const std::string_view kLicenseTerms =
    "Tarnwick - terms of use\n"
    "\n"
    "Tarnwick is free to use. You may run it on as many machines as you like, at home, at work, "
    "in education and in government, and you may copy it and pass it on unchanged, without paying "
    "anything.\n"
    "\n"
    "NO WARRANTY\n"
    "Tarnwick is provided \"as is\", without warranty of any kind, express or implied, including "
    "but not limited to the warranties of merchantability, fitness for a particular purpose and "
    "non-infringement. It reads and writes storage devices below the file system: a wrong "
    "selection, a failing device or an error in the program can destroy the data on any disk of "
    "the machine. You use it at your own risk. Keep backups, check every selection before you "
    "agree to overwrite it, and try a new procedure on a spare disk or an image file first.\n"
    "\n"
    "In no event shall the authors be liable for any claim, damages or other liability, "
    "including loss of data, loss of time or interruption of business, whether in an action of "
    "contract, tort or otherwise, arising from, out of or in connection with the program or its "
    "use.\n"
    "\n"
    "Tarnwick uses libraries of other projects, each under its own licence: see Credits in the "
    "About menu, and the file \"copyright\" in the program's documentation folder.\n";

const std::vector<LicenseRow>& licenseRows() {
    static const std::vector<LicenseRow> rows{
        {"Private use", "Free"},
        {"Educational use", "Free"},
        {"Commercial use", "Free"},
        {"Government use", "Free"},
        {"Passing on unchanged copies", "Free"},
        {"Support and custom work", "*"},
    };
    return rows;
}

const std::vector<Credit>& credits() {
    static const std::vector<Credit> all{
        {"Qt 6, by The Qt Company and the Qt Project: the windows and dialogs",
         "* GNU LGPL version 3, used as shared libraries"},
        {"zlib, by Jean-loup Gailly and Mark Adler: compressed disk images and zip export",
         "* zlib license: free for any purpose"},
#ifdef TARNWICK_ISAL_VERSION
        {"ISA-L, by Intel: fast deflate and inflate for compressed disk images", "* BSD 3-clause license"},
#endif
        {"OpenSSL libcrypto, by the OpenSSL Project: the MD5 and SHA-1 checksums", "* Apache License 2.0"},
        {"Zydis, by zyantific: x86 decoding in the disassembler library", "* MIT license"},
        {"libudev, by the systemd project: notice of drives being added and removed",
         "* GNU LGPL version 2.1 or later"},
        {"libblkid, by the util-linux project: volume labels and serial numbers",
         "* GNU LGPL version 2.1 or later"},
        {"GoogleTest, by Google: the test suite (not part of the installed program)",
         "* BSD 3-clause license"},
    };
    return all;
}

const std::vector<LinkGroup>& linkGroups() {
    static const std::vector<LinkGroup> groups{
        {"Partitions and volumes",
         "How a disk is divided into partitions, and how a partition becomes a volume with a file "
         "system that the operating system mounts.",
         {"https://en.wikipedia.org/wiki/Disk_partitioning",
          "https://en.wikipedia.org/wiki/Volume_(computing)"}},
        {"8086 assembler, disassembler and emulator",
         "The processor that boot code is still written for: its registers, segments and "
         "instructions. Boot records run in its real mode on every PC.",
         {"https://en.wikipedia.org/wiki/Intel_8086"}},
        {"32-bit disassembler",
         "What a disassembler does, how it decodes variable-length x86 instructions, and where it "
         "can go wrong (data taken for code).",
         {"https://en.wikipedia.org/wiki/Disassembler"}},
        {"Disassembler library for linux",
         "Zydis, the x86 and x86-64 decoding library inside Tarnwick's disassembler plugin; its "
         "documentation explains the formatter and the decoder modes.",
         {"https://zydis.re/"}},
        {"Hard Disk Logical Structures and File Systems",
         "From the low-level format of a disk through partitioning to the high-level format that "
         "writes a file system.",
         {"https://en.wikipedia.org/wiki/Disk_formatting"}},
        {"BIOS boot specification",
         "How the firmware chooses a boot device, loads its first sector to 0000:7C00 and starts "
         "it, step by step.",
         {"https://wiki.osdev.org/Boot_Sequence"}},
        {"The Master Boot Record (MBR)",
         "The layout of the first sector of a disk: boot code, disk signature, the four partition "
         "entries and the 55h AAh signature, with the variants of several systems.",
         {"https://en.wikipedia.org/wiki/Master_boot_record"}},
        {"BIOS data area",
         "The real-mode memory map of a PC: interrupt vectors, the BIOS data area at 0040:0000, "
         "the extended BIOS data area and the video and ROM areas.",
         {"https://wiki.osdev.org/Memory_Map_(x86)"}},
        {"Partition types",
         "The partition type bytes of the MBR and the systems that use them, with the GUID types "
         "of GPT disks.",
         {"https://en.wikipedia.org/wiki/Partition_type"}},
        {"The ISO 9660 File System",
         "The file system of CD-ROMs and of most .iso image files: volume descriptors from sector "
         "16, path tables and directory records.",
         {"https://en.wikipedia.org/wiki/ISO_9660"}},
        {"DOS and BIOS interrupt services",
         "The software interrupts that boot code calls: INT 10h for the screen, INT 13h for the "
         "disks, INT 16h for the keyboard, INT 19h to restart the boot.",
         {"https://en.wikipedia.org/wiki/BIOS_interrupt_call"}},
        {"FAT32 and file sytem guide",
         "The FAT file systems (FAT12, FAT16, FAT32, exFAT): boot sector and parameter block, the "
         "allocation tables and directory entries.",
         {"https://en.wikipedia.org/wiki/File_Allocation_Table"}},
    };
    return groups;
}

const std::vector<std::string_view>& toDoItems() {
    static const std::vector<std::string_view> items{
        "* sector size fixed to 512 byte",
        "- Generally true, but some exotic devices may have other sector sizes.",
        "* No support for extended partitions yet",
        "* zlib compression and decompression of dumped / imported partitions",
        "- (Almost) empty partitions take uneccesary space when dumped as file",
        "* The hex viewer could use some improvements",
    };
    return items;
}

const std::string_view kKnownIssues =
    "- Sector-based computations count 512-byte sectors, whatever sector size the device "
    "reports: the master boot record and its extended chain, the adjust actions (\"Skip 512 "
    "bytes\" ...), the blocks of the hex viewer and the pixels of the byte map. On a disk with "
    "4096-byte logical sectors and an MBR table the partition list shows partitions at an "
    "eighth of their real offset and size. GUID partition tables are read in the drive's own "
    "sector size.\n"
    "- A GUID partition table is read only behind a protective entry (type EE) in the master "
    "boot record; a disk whose first sector lacks that entry shows no GPT partitions.\n"
    "- Only extended partitions of type 05 are followed. Extended partitions of type 0F "
    "(written by Windows) and 85 are listed, but the logical partitions inside them are not.\n"
    "- The physical drive list ends at the first drive that cannot be opened. Without "
    "administrator rights that is usually the first drive: start the program as root (it "
    "offers to restart itself through pkexec) to see every drive.\n"
    "- Restarted through pkexec the program reaches the display through X11 (on a Wayland "
    "desktop through Xwayland): pkexec passes on DISPLAY and XAUTHORITY only.\n"
    "- The window program is built for Linux only. The platform layer has a Windows backend "
    "that is compiled and checked, but the windows are not built for Windows yet.\n"
    "- Drive letters of volumes are made up by the program (C: is /, then D:, E: ... in "
    "mount point order); they change when file systems are mounted or unmounted.\n"
    "- Drive geometry on Linux is made up the way Windows reports modern disks (255 heads, "
    "63 sectors per track): disks have no real geometry to report.\n"
    "- A volume label can be changed only on ext2/3/4, FAT, exFAT and NTFS, through "
    "e2label, fatlabel, exfatlabel and ntfslabel, which must be installed.\n"
    "- A device or partition with a mounted file system cannot be written: writing opens a "
    "block device exclusively. Unmount it first.\n"
    "- The menu items \"Virus scan\" and \"Edit partition table\" do nothing: partition "
    "tables can be read and saved, not edited.\n"
    "- \"Save as zip\" writes classic zip archives without 64-bit extensions: at most "
    "2147483647 bytes per entry.\n"
    "- The disassembly needs the disassembler library (libDisasm.so); without it the command "
    "is not offered.\n"
    "- Nothing is kept between runs: no settings, no list of recent files.\n";

} // namespace info
