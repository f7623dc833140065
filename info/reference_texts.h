#pragma once
// The three texts of the offline reference window, built into the program from info/texts/.

#include <string_view>

namespace info {

enum class ReferenceText {
    PartitionTypes,   // monospaced: the type list keeps its columns
    PartitionTable,   // proportional: running text
    MasterBootRecord, // monospaced: the dump and the listing keep their columns
};

std::string_view referenceText(ReferenceText which);

} // namespace info
