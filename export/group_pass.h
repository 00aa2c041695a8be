// The pass over a result's groups that every format makes: each group's
// rows, each sample's quantity in it and its summary, read the same way for
// all of them.
#ifndef VARNEL_EXPORT_GROUP_PASS_H_
#define VARNEL_EXPORT_GROUP_PASS_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "export/export_job.h"
#include "export/quantities.h"

// A group as the formats write it.
struct Export_Group {
  std::uint32_t align_id = 0;
  // The group's rows, sorted by (SAMPLE_ID, Compound_ID) by Summarize.
  Group_Rows rows;
  // Each sample's quantity (Export_Options::quantity) over all the rows, in
  // sample-column order, NaN where the sample has none; taken in stored row
  // order, before the sort.
  std::vector<double> values;
  // With a QC correction (Export_Job::signal): each sample's multiplier, by
  // which values were corrected, for quantities over part of the rows;
  // empty without one.
  std::vector<double> factors;
  std::size_t samples_present = 0;  // samples with a row in the group
  // With the corrected time range when the result holds a drift correction.
  Group_Summary summary;
};

// Reads job.stream one group at a time. Memory: one group's rows.
class Group_Pass {
 public:
  explicit Group_Pass(Export_Job& job);

  // Steps to the next group (past those a filter of the QC correction
  // drops); false after the last.
  bool Next();
  // The group stepped to, valid until the next call of Next().
  const Export_Group& group() const { return group_; }
  // The samples' columns, for quantities over part of a group's rows.
  const Sample_Columns& columns() const { return columns_; }

 private:
  Export_Job& job_;
  const Sample_Columns columns_;
  Result_Group records_;
  std::vector<char> present_;
  Export_Group group_;
};

#endif  // VARNEL_EXPORT_GROUP_PASS_H_
