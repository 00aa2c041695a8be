// Rows read on a helper thread ahead of the writers that take them.
#ifndef VARNEL_RUN_READ_AHEAD_H_
#define VARNEL_RUN_READ_AHEAD_H_

#include <cstddef>
#include <functional>
#include <vector>

#include "storage/aligned_writers.h"

// `takers` sources, each giving the rows 0 .. count - 1 of a source, which
// `helpers` threads read once, in batches of 1024 rows, ahead of the takers,
// so that reading them (from the spill, say) overlaps the takers' own work
// and is not repeated for each; several helpers keep several reads under way
// when the rows must come from the disk. make_source is called once per
// helper, on the calling thread, for a source of the helper's own. Each taker
// asks for each row once, in order, on one thread, and with_shape only when
// with_shape is given here. The helpers keep at most a few batches per helper
// ahead of the slowest taker still there: a taker that goes (its source
// destroyed) holds no one up. A failure of a source is thrown to every taker
// at the row that failed. Destroying every returned source stops the helpers
// and waits for them, whether or not every row was taken.
std::vector<Aligned_Row_Source> Read_Ahead(const std::function<Aligned_Row_Source()>& make_source,
                                           std::size_t count, bool with_shape, std::size_t takers,
                                           std::size_t helpers = 1);

#endif  // VARNEL_RUN_READ_AHEAD_H_
