// Filling the statistics window's tree from a statistics block.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velkor {

class TStatisticForm;

// Replaces whatever an earlier fill added with the nodes of this block: the five header lines
// above the groups, then the samples and denomination labels under every counter. Call it after
// a good answer (txOk) whose block passes IsStatisticsBlockValid. Nodes are added collapsed.
void FillStatisticsTree(TStatisticForm& form, const std::uint8_t* block, std::size_t size);

}  // namespace velkor
