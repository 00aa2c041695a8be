// Rows read on a helper thread ahead of the writers that take them.
#ifndef VARNEL_RUN_READ_AHEAD_H_
#define VARNEL_RUN_READ_AHEAD_H_

#include <cstddef>
#include <vector>

#include "storage/aligned_writers.h"

// `takers` sources, each giving the rows 0 .. count - 1 of `source`, which
// one helper thread reads once, in order, ahead of the takers (a few thousand
// rows at most), so that reading them (from the spill, say) overlaps the
// takers' own work and is not repeated for each. Each taker asks for each row
// once, in order, on one thread, and with_shape only when with_shape is given
// here. The helper keeps at most that many rows ahead of the slowest taker
// still there: a taker that goes (its source destroyed) holds no one up. A
// failure of `source` is thrown to every taker at the row that failed.
// Destroying every returned source stops the helper and waits for it, whether
// or not every row was taken.
std::vector<Aligned_Row_Source> Read_Ahead(Aligned_Row_Source source, std::size_t count,
                                           bool with_shape, std::size_t takers);

#endif  // VARNEL_RUN_READ_AHEAD_H_
