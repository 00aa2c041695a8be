// The robust spread of values too many to hold at once, exactly as the
// alignment takes it of values in memory: 1.4826 times the median absolute
// deviation from the median, NaN and infinite values left out. The values
// are read again in passes (a radix selection of 16 bits of each value's
// order per pass), so memory stays at a few histograms whatever their count:
// a pass to count, 4 for the median, 4 for the median absolute deviation.
#ifndef VARNEL_COHORT_POOLED_SPREADS_H_
#define VARNEL_COHORT_POOLED_SPREADS_H_

#include <cstdint>
#include <functional>
#include <vector>

// Gives every value once to the callback, in any order, the same values
// every time it is called.
using Value_Pass = std::function<void(const std::function<void(double)>&)>;

// The values of the given ranks (0 = smallest; -0.0 before 0.0) among the
// values of `pass`. REQUIRES: no NaN, every rank below their count.
std::vector<double> Order_Statistics(const Value_Pass& pass,
                                     const std::vector<std::uint64_t>& ranks);

// 1.4826 x the median of |v - median| over the finite values v of `pass`,
// each median the middle value or the mean of the two middle ones; NaN
// when there are none.
double Pooled_Robust_Spread(const Value_Pass& pass);

#endif  // VARNEL_COHORT_POOLED_SPREADS_H_
