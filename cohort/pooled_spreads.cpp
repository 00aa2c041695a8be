#include "cohort/pooled_spreads.h"

#include <bit>
#include <cmath>
#include <limits>

namespace {

constexpr double kMadToSigma = 1.4826;  // as the alignment's own spreads
constexpr int kDigitBits = 16;
constexpr std::size_t kDigits = std::size_t{1} << kDigitBits;
constexpr std::uint64_t kSign = std::uint64_t{1} << 63;

// A key whose unsigned order is the values' order (-0.0 just before 0.0).
std::uint64_t Order_Key(double value) {
  const auto bits = std::bit_cast<std::uint64_t>(value);
  return (bits & kSign) != 0 ? ~bits : bits | kSign;
}

double Value_Of_Key(std::uint64_t key) {
  return std::bit_cast<double>((key & kSign) != 0 ? key & ~kSign : ~key);
}

std::uint64_t Count(const Value_Pass& pass) {
  std::uint64_t count = 0;
  pass([&count](double) { ++count; });
  return count;
}

double Median_Of(const Value_Pass& pass, std::uint64_t count) {
  const std::uint64_t half = count / 2;
  if (count % 2 != 0) return Order_Statistics(pass, {half})[0];
  const std::vector<double> middle = Order_Statistics(pass, {half - 1, half});
  return (middle[0] + middle[1]) * 0.5;
}

}  // namespace

std::vector<double> Order_Statistics(const Value_Pass& pass,
                                     const std::vector<std::uint64_t>& ranks) {
  struct Search {
    std::uint64_t prefix = 0;  // the key's digits found so far
    std::uint64_t rank = 0;    // among the keys of that prefix
    std::vector<std::uint64_t> histogram = std::vector<std::uint64_t>(kDigits, 0);
  };
  std::vector<Search> searches(ranks.size());
  for (std::size_t i = 0; i < ranks.size(); ++i) searches[i].rank = ranks[i];
  for (int shift = 64 - kDigitBits; shift >= 0; shift -= kDigitBits) {
    for (Search& s : searches) std::fill(s.histogram.begin(), s.histogram.end(), 0);
    const int prefix_shift = shift + kDigitBits;
    pass([&](double v) {
      const std::uint64_t key = Order_Key(v);
      const std::uint64_t digit = (key >> shift) & (kDigits - 1);
      for (Search& s : searches) {
        if (prefix_shift == 64 || (key >> prefix_shift) == s.prefix) ++s.histogram[digit];
      }
    });
    for (Search& s : searches) {
      std::uint64_t digit = 0;
      while (digit + 1 < kDigits && s.histogram[digit] <= s.rank) s.rank -= s.histogram[digit++];
      s.prefix = (s.prefix << kDigitBits) | digit;
    }
  }
  std::vector<double> values;
  for (const Search& s : searches) values.push_back(Value_Of_Key(s.prefix));
  return values;
}

double Pooled_Robust_Spread(const Value_Pass& pass) {
  const Value_Pass finite = [&pass](const std::function<void(double)>& take) {
    pass([&take](double v) {
      if (std::isfinite(v)) take(v);
    });
  };
  const std::uint64_t count = Count(finite);
  if (count == 0) return std::numeric_limits<double>::quiet_NaN();
  const double centre = Median_Of(finite, count);
  // A deviation may overflow to infinity; it is counted as the alignment
  // counts it.
  const Value_Pass deviations = [&finite, centre](const std::function<void(double)>& take) {
    finite([&take, centre](double v) { take(std::fabs(v - centre)); });
  };
  return kMadToSigma * Median_Of(deviations, count);
}
