// Rows read on a helper thread ahead of the writer that takes them.
#ifndef VARNEL_RUN_READ_AHEAD_H_
#define VARNEL_RUN_READ_AHEAD_H_

#include <cstddef>

#include "storage/aligned_writers.h"

// A source giving the rows 0 .. count - 1 of `source`, which a helper thread
// reads in order ahead of the taker, a few thousand rows at most, so that
// reading them (from the spill, say) overlaps the taker's own work. The
// taker asks for each row once, in order, on one thread, and with the same
// with_shape as given here. A failure of `source` is thrown to the taker at
// the row that failed. Destroying the last copy of the returned source stops
// the helper and waits for it, whether or not every row was taken.
Aligned_Row_Source Read_Ahead(Aligned_Row_Source source, std::size_t count, bool with_shape);

#endif  // VARNEL_RUN_READ_AHEAD_H_
