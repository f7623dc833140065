#include "info/reference_texts.h"

#include "info/reference_texts_data.h"

namespace info {

std::string_view referenceText(ReferenceText which) {
    switch (which) {
    case ReferenceText::PartitionTypes:
        return {kPartitionTypesText, sizeof kPartitionTypesText};
    case ReferenceText::PartitionTable:
        return {kPartitionTableText, sizeof kPartitionTableText};
    case ReferenceText::MasterBootRecord:
        return {kMbrText, sizeof kMbrText};
    }
    return {};
}

} // namespace info
