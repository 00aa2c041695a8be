// The merge step: the shards' rows in the one-process run's order, written
// by the run's own writers, or the groups as a stream for any export format.
#include <exception>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <utility>

#include "cohort/shard_files.h"
#include "cohort/shard_steps.h"
#include "cohort/shard_tables.h"
#include "export/export_result.h"
#include "export/group_stream.h"
#include "run/result_pair.h"
#include "run/result_writers.h"
#include "storage/aligned_writers.h"
#include "storage/path.h"
#include "storage/replacement_file.h"
#include "storage/row_file.h"
#include "storage/run_record.h"
#include "storage/side_tables.h"
#include "storage/sqlite/cppsqlite3.h"

namespace fs = std::filesystem;

namespace {

// The study's rows in the order of the one-process result, from the shards'
// rows: first every unaligned row in (SAMPLE_ID, input row) order, then the
// groups in seed order, each group's rows as its shard wrote them.
class Merged_Rows {
 public:
  Merged_Rows(const std::string& plan_folder, const std::vector<std::vector<Group_Seed>>& seeds,
              const std::vector<Shard_Info>& infos)
      : seeds_(seeds) {
    for (std::uint32_t k = 0; k < infos.size(); ++k) {
      Cursor c;
      c.reader = std::make_unique<Row_File_Reader>(
          Join_Path(Shard_Folder(plan_folder, k), kShardRowsName));
      c.unaligned = infos[k].unaligned;
      cursors_.push_back(std::move(c));
    }
  }

  // The next row, with its study-wide Align_ID; valid until the next call.
  Stored_Row& Next(bool with_shape) {
    for (Cursor& c : cursors_) {
      if (!c.started) {
        c.has = c.reader->Next(c.row, with_shape);
        c.started = true;
      }
    }
    Cursor* from = nullptr;
    for (Cursor& c : cursors_) {  // an unaligned row first, the lowest place
      if (c.unaligned == 0) continue;
      if (from == nullptr || std::make_pair(c.row.record.SAMPLE_ID, c.row.input_row) <
                                 std::make_pair(from->row.record.SAMPLE_ID, from->row.input_row)) {
        from = &c;
      }
    }
    if (from != nullptr) {
      --from->unaligned;
      return Take(*from, 0, with_shape);
    }
    if (current_ == nullptr || !current_->has || current_->row.record.Align_ID != current_->group) {
      current_ = nullptr;  // the next group: the shard whose next seed comes first
      for (std::size_t k = 0; k < cursors_.size(); ++k) {
        Cursor& c = cursors_[k];
        if (c.group >= seeds_[k].size()) continue;
        if (current_ == nullptr ||
            Seeds_Before(seeds_[k][c.group], seeds_[current_ - cursors_.data()][current_->group])) {
          current_ = &c;
        }
      }
      if (current_ == nullptr) throw std::runtime_error("the shards hold fewer rows than they say");
      ++current_->group;
      ++align_id_;
    }
    return Take(*current_, align_id_, with_shape);
  }

 private:
  struct Cursor {
    std::unique_ptr<Row_File_Reader> reader;
    Stored_Row row;
    bool started = false;
    bool has = false;
    std::uint64_t unaligned = 0;
    std::uint32_t group = 0;  // the shard's Align_ID being taken; groups done before it
  };

  Stored_Row& Take(Cursor& c, std::uint32_t align_id, bool with_shape) {
    const std::uint32_t expected = align_id == 0 ? 0 : c.group;
    if (!c.has || c.row.record.Align_ID != expected) {
      throw std::runtime_error(c.reader->Path() + ": rows out of order (damaged shard)");
    }
    std::swap(out_, c.row);
    out_.record.Align_ID = align_id;
    c.has = c.reader->Next(c.row, with_shape);
    return out_;
  }

  const std::vector<std::vector<Group_Seed>>& seeds_;
  std::vector<Cursor> cursors_;
  Cursor* current_ = nullptr;
  std::uint32_t align_id_ = 0;
  Stored_Row out_;
};

// Reads every shard's Shard_Info and seeds and sums their counts.
void Read_Shard_Tables(const std::string& plan_folder, const Study_Plan& plan,
                       Merge_Summary& summary, std::vector<Shard_Info>& infos,
                       std::vector<std::vector<Group_Seed>>& seeds) {
  summary.samples = plan.inputs.size();
  for (std::uint32_t k = 0; k < plan.shards.size(); ++k) {
    const std::string database = Join_Path(Shard_Folder(plan_folder, k), kAlignedDbName);
    infos.push_back(Read_Shard_Info(database));
    seeds.push_back(Read_Group_Seeds(database));
    if (seeds.back().size() != infos.back().groups) {
      throw std::runtime_error(database + ": Shard_Group_Seed does not hold every group");
    }
    summary.peaks += infos.back().rows;
    summary.groups += infos.back().groups;
    summary.unaligned += infos.back().unaligned;
  }
}

// The study's groups straight from the shards, as the merged result holds
// them: the stream every export format takes.
class Merged_Groups : public Group_Stream {
 public:
  Merged_Groups(const std::string& plan_folder, const Study_Plan& plan,
                const Merge_Summary& summary, const std::vector<Shard_Info>& infos,
                const std::vector<std::vector<Group_Seed>>& seeds)
      : plan_(plan), rows_(plan_folder, seeds, infos), left_(summary.peaks) {
    // The merged result's samples: those with rows, and with a run record
    // every input.
    std::map<std::uint32_t, std::string> names;
    for (std::uint32_t s = 0; s < plan.inputs.size(); ++s) {
      if (plan.inputs[s].peaks > 0 || plan.options.record_run) {
        names[s] = plan.inputs[s].sample_name;
      }
    }
    samples_ = Shown_Samples(names);
    if (plan.options.record_run) {
      record_ = Study_Run_Record(plan, summary.peaks, summary.groups, summary.unaligned);
      record_->member_choice = Study_Member_Choice(plan_folder, plan);
    }
    if (plan.correction) {
      std::vector<Rt_Shift_Point> points;
      for (const Rt_Correction_Row& row : Rt_Correction_Rows(*plan.correction)) {
        points.push_back({row.sample, row.rt, row.shift});
      }
      correction_.emplace(std::move(points));
    }
    for (std::uint64_t i = 0; i < summary.unaligned; ++i) Take();  // not exported
    pending_ = false;
  }

  std::string Result_Name() const override { return kAlignedDbName; }
  const std::vector<Result_Sample>& Samples() const override { return samples_; }
  const Rt_Shift_Curves* Correction() const override {
    return correction_ ? &*correction_ : nullptr;
  }
  std::optional<Run_Record> Record() override { return record_; }

  bool Next(Result_Group& group) override {
    group.records.clear();
    if (!pending_) {
      if (left_ == 0) return false;
      Take();
    }
    group.align_id = next_.Align_ID;
    while (pending_ && next_.Align_ID == group.align_id) {
      group.records.push_back(std::move(next_));
      pending_ = false;
      if (left_ > 0) Take();
    }
    return true;
  }

 private:
  void Take() {
    Stored_Row& row = rows_.Next(false);
    --left_;
    next_ = std::move(row.record);
    next_.SAMPLE_NAME = plan_.inputs.at(next_.SAMPLE_ID).sample_name;
    To_Stored_Values(next_);  // what the merged result would give back
    pending_ = true;
  }

  const Study_Plan& plan_;
  Merged_Rows rows_;
  std::uint64_t left_;
  bool pending_ = false;
  Chromatogram_Peak_Group_Compound_Align next_;
  std::vector<Result_Sample> samples_;
  std::optional<Run_Record> record_;
  std::optional<Rt_Shift_Curves> correction_;
};

}  // namespace

Merge_Summary Merge_Shards(const std::string& plan_folder, const std::string& result_folder) {
  const Result_Folder_Writer writer(result_folder);  // one writer per result folder
  const Study_Plan plan = Read_Plan_File(plan_folder);
  // A replacement of the result pair left unfinished by a killed program is
  // completed, and its temporary files removed, before the new pair is made.
  Recover_Result_Folder(result_folder);
  Check_Every_Shard(plan_folder, plan);

  Merge_Summary summary;
  std::vector<Shard_Info> infos;
  std::vector<std::vector<Group_Seed>> seeds;
  Read_Shard_Tables(plan_folder, plan, summary, infos, seeds);

  const std::optional<Member_Choice_Record> choice = Study_Member_Choice(plan_folder, plan);
  Run_Record record = Study_Run_Record(plan, summary.peaks, summary.groups, summary.unaligned);
  record.member_choice = choice;
  const Extra_Tables extra_tables = [&](CppSQLite3DB& db) {
    if (plan.options.record_run) Write_Run_Record(db, record);
    if (plan.correction) Write_Rt_Correction_Tables(db, *plan.correction);
    if (choice) Write_Member_Choice(db, *choice);
  };

  // Each writer reads the shards on its own, side by side.
  const std::vector<Result_Writer>& writers = Result_Writers();
  std::vector<Pending_Result_File> files(writers.size());
  std::vector<std::exception_ptr> errors(writers.size());
  auto write = [&](std::size_t j) {
    try {
      auto rows = std::make_shared<Merged_Rows>(plan_folder, seeds, infos);
      auto holder = std::make_shared<Chromatogram_Peak_Group_Compound_Align>();
      std::size_t next = 0;
      const Aligned_Row_Source source = [&, rows, holder](std::size_t i,
                                                          bool with_shape) -> Aligned_Row {
        if (i != next++) throw std::logic_error("merged rows asked for out of order");
        Stored_Row& row = rows->Next(with_shape);
        row.record.SAMPLE_NAME = plan.inputs.at(row.record.SAMPLE_ID).sample_name;
        return {&row.record, row.shape};
      };
      files[j] = writers[j].write(summary.peaks, source, result_folder, writers[j].file_name, {},
                                  extra_tables);
    } catch (...) {
      errors[j] = std::current_exception();
    }
  };
  std::vector<std::thread> threads;
  for (std::size_t j = 1; j < writers.size(); ++j) threads.emplace_back(write, j);
  write(0);
  for (std::thread& t : threads) t.join();
  for (const std::exception_ptr& e : errors) {
    if (e) std::rethrow_exception(e);
  }
  Replace_Together(files);
  return summary;
}

std::vector<std::string> Merge_Export(const std::string& plan_folder, const Export_Options& options,
                                      const std::string& out_path) {
  Check_Export_Options(options, out_path, Plan_Path(plan_folder));
  const Study_Plan plan = Read_Plan_File(plan_folder);
  Check_Every_Shard(plan_folder, plan);
  Merge_Summary summary;
  std::vector<Shard_Info> infos;
  std::vector<std::vector<Group_Seed>> seeds;
  Read_Shard_Tables(plan_folder, plan, summary, infos, seeds);
  if (summary.groups == 0) {
    throw std::runtime_error(Plan_Path(plan_folder) +
                             ": the study holds no aligned peaks (Align_ID 1 or more)");
  }
  Merged_Groups groups(plan_folder, plan, summary, infos, seeds);
  return Export_Groups(groups, options, out_path, [&] {
    return std::make_unique<Merged_Groups>(plan_folder, plan, summary, infos, seeds);
  });
}
