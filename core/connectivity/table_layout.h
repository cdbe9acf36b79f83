// The layout change that lets the table builders fill a table row by row in the memory of
// the column-major output.
#ifndef TULM_CORE_CONNECTIVITY_TABLE_LAYOUT_H
#define TULM_CORE_CONNECTIVITY_TABLE_LAYOUT_H

#include <cstdint>

namespace tulm {

// Rearranges a numRows x K int32 table held row by row (entry k of row v at v*K + k) into the
// column-major layout (at v + k*numRows), in place. A row's entries share a cache line while
// the table is built; the rearranging reads and writes the table about three times over,
// sequentially or in large tiles, with scratch of a few hundred KiB at most.
void rows_to_columns_in_place(int32_t* table, int32_t numRows, int32_t K);

}  // namespace tulm

#endif  // TULM_CORE_CONNECTIVITY_TABLE_LAYOUT_H
