// The one stream of groups every export format takes: the samples, the next
// group, the drift correction's curves and the run record. One
// implementation reads an .aligndb (Result_File_Groups, here), another the
// merged shards of a cohort in seed order (cohort/merged_groups.h).
#ifndef VARNEL_EXPORT_GROUP_STREAM_H_
#define VARNEL_EXPORT_GROUP_STREAM_H_

#include <optional>
#include <string>
#include <vector>

#include "storage/aligned_result.h"
#include "storage/rt_shift_curves.h"
#include "storage/run_record.h"

class Group_Stream {
 public:
  virtual ~Group_Stream() = default;

  // The result as a file name: mzTab-M's id is made from it.
  virtual std::string Result_Name() const = 0;
  // Every sample in ascending SAMPLE_ID, as Aligned_Result::Samples() gives
  // them for the result.
  virtual const std::vector<Result_Sample>& Samples() const = 0;
  // The next group of Align_ID 1 or more in Align_ID order (group.records
  // reused); false after the last. Rows of a group in the result's order.
  virtual bool Next(Result_Group& group) = 0;
  // The drift correction's curves, null without one.
  virtual const Rt_Shift_Curves* Correction() const = 0;
  virtual std::optional<Run_Record> Record() = 0;
};

// The stream over an aligned result: opened read-only, the columns of
// `columns` filled. Throws std::runtime_error naming the file for a file that
// is not an aligned result or holds no aligned peaks.
class Result_File_Groups : public Group_Stream {
 public:
  Result_File_Groups(const std::string& path, Result_Columns columns);

  std::string Result_Name() const override { return result_.Path(); }
  const std::vector<Result_Sample>& Samples() const override { return samples_; }
  bool Next(Result_Group& group) override { return groups_.Next(group); }
  const Rt_Shift_Curves* Correction() const override {
    return correction_ ? &*correction_ : nullptr;
  }
  std::optional<Run_Record> Record() override { return result_.Read_Run_Record(); }

 private:
  Aligned_Result result_;
  Result_Groups groups_;
  std::vector<Result_Sample> samples_;
  std::optional<Rt_Shift_Curves> correction_;
};

#endif  // VARNEL_EXPORT_GROUP_STREAM_H_
