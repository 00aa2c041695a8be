// What the exports compute from a group's rows: each sample's quantity and the
// group's mass, retention times and adducts.
//
// A sample's quantity in a group (NaN when it has no row there):
//   compound  the Compound_Intensity of its compound in the group; should the
//             alignment have put two of its compounds in one group, the larger
//   area      the sum of Peak_Area over its rows in the group
//   height    the largest Apex_Intensity among its rows in the group
// NULL values (NaN) are skipped; a sample whose values are all NULL gets NaN.
#ifndef VARNEL_EXPORT_QUANTITIES_H_
#define VARNEL_EXPORT_QUANTITIES_H_

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/peak.h"
#include "storage/aligned_result.h"
#include "storage/rt_shift_curves.h"

enum class Export_Quantity { kCompound, kArea, kHeight };

// "compound", "area", "height": the names of Export_Quantity in order.
inline constexpr const char* kExportQuantityNames[] = {"compound", "area", "height"};
// nullopt for any other text.
std::optional<Export_Quantity> Parse_Export_Quantity(std::string_view text);

// The columns Quantities and Summarize read.
inline constexpr Result_Columns kGroupColumns = {
    "SAMPLE_ID",          "Compound_ID", "Compound_MolecularMass", "Compound_Retention_Time",
    "Compound_Intensity", "Peak_Area",   "Apex_Intensity",         "Align_RT",
    "Adduct_Annotation"};

using Group_Row = Chromatogram_Peak_Group_Compound_Align;
// A group's rows as the exports walk them: pointers into the group's records,
// in stored order until Summarize sorts them (pointers move faster than rows).
using Group_Rows = std::vector<const Group_Row*>;

inline constexpr double kNoValue = std::numeric_limits<double>::quiet_NaN();

// Larger, smaller and sum of two values where NaN means "none".
inline double Max_Of(double a, double b) { return std::isnan(a) || b > a ? b : a; }
inline double Min_Of(double a, double b) { return std::isnan(a) || b < a ? b : a; }
inline double Sum_Of(double a, double b) {
  if (std::isnan(b)) return a;
  return std::isnan(a) ? b : a + b;
}
// Median of values (sorted in place); NaN for none. The median of an even
// count is the midpoint of the middle two: for values read from six-decimal
// text (below 1e8 in magnitude) the double nearest the exact decimal midpoint,
// whose text ends in 5 at the seventh decimal when the two differ by an odd
// last digit (Append_Number then rounds it half to even); (a + b) / 2 for
// other values.
double Median_In_Place(std::vector<double>& values);
double Midpoint(double a, double b);

// Column of each sample: samples in ascending SAMPLE_ID.
class Sample_Columns {
 public:
  explicit Sample_Columns(const std::vector<Result_Sample>& samples);
  std::size_t size() const { return ids_.size(); }
  // REQUIRES: id is the SAMPLE_ID of a sample.
  std::size_t Of(std::uint32_t id) const {
    return static_cast<std::size_t>(std::lower_bound(ids_.begin(), ids_.end(), id) - ids_.begin());
  }

 private:
  std::vector<std::uint32_t> ids_;
};

// Fills values (one per sample, NaN when absent) with each sample's quantity
// over the rows for which keep(row) is true, in row order; returns how many
// samples have a row at all.
template <typename Keep>
std::size_t Quantities(const Group_Rows& rows, Export_Quantity quantity,
                       const Sample_Columns& columns, std::vector<double>& values,
                       std::vector<char>& present, Keep keep) {
  values.assign(columns.size(), kNoValue);
  present.assign(columns.size(), 0);
  std::size_t count = 0;
  for (const Group_Row* row : rows) {
    const Group_Row& r = *row;
    if (!keep(r)) continue;
    const std::size_t c = columns.Of(r.SAMPLE_ID);
    if (!present[c]) {
      present[c] = 1;
      ++count;
    }
    double& v = values[c];
    switch (quantity) {
      case Export_Quantity::kCompound:
        v = Max_Of(v, r.Compound_Intensity);
        break;
      case Export_Quantity::kArea:
        v = Sum_Of(v, r.Peak_Area);
        break;
      case Export_Quantity::kHeight:
        v = Max_Of(v, r.Apex_Intensity);
        break;
    }
  }
  return count;
}

struct Group_Summary {
  double mass = kNoValue;      // median Compound_MolecularMass, one per (sample, compound)
  double align_rt = kNoValue;  // the group's Align_RT
  double rt_min = kNoValue;    // of the rows' Compound_Retention_Time
  double rt_max = kNoValue;
  // Of the rows' corrected Compound_Retention_Time, when Summarize is given
  // the result's drift correction (Align_RT is on that scale then).
  double rt_min_corrected = kNoValue;
  double rt_max_corrected = kNoValue;
  std::vector<std::string> adducts;  // distinct Adduct_Annotation texts, sorted
};

// Sorts rows by (SAMPLE_ID, Compound_ID) (not stably) and summarizes them;
// the mass of a compound is that of its first row after the sort. With a
// correction the corrected time range is filled too.
Group_Summary Summarize(Group_Rows& rows, const Rt_Shift_Curves* correction = nullptr);

#endif  // VARNEL_EXPORT_QUANTITIES_H_
