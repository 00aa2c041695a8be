// The shard step: one shard aligned from its parts, its folder written.
#include <algorithm>
#include <filesystem>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "align/compound_align.h"
#include "align/rt_correction.h"
#include "cohort/shard_files.h"
#include "cohort/shard_steps.h"
#include "cohort/shard_tables.h"
#include "run/result_pair.h"
#include "run/result_writers.h"
#include "run/row_spill.h"
#include "storage/aligned_writers.h"
#include "storage/annotated_reader.h"
#include "storage/path.h"
#include "storage/row_file.h"
#include "storage/run_record.h"
#include "storage/side_tables.h"
#include "storage/sqlite/cppsqlite3.h"

namespace fs = std::filesystem;

namespace {

// The peak of a row, taking over its annotation.
Chromatogram_Peak_Group_Compound Peak_Of(Chromatogram_Peak_Group_Compound_Align& r) {
  Chromatogram_Peak_Group_Compound p;
  Copy_Peak_Scalars(r, p);
  p.Adduct_Annotation = std::move(r.Adduct_Annotation);
  return p;
}

}  // namespace

Shard_Summary Align_Shard(const std::string& plan_folder, std::uint32_t shard) {
  const Study_Plan plan = Read_Plan_File(plan_folder);
  if (shard >= plan.shards.size()) {
    throw std::runtime_error(Plan_Path(plan_folder) + ": no shard " + std::to_string(shard) +
                             " (the plan has shards 0 to " +
                             std::to_string(plan.shards.size() - 1) + ")");
  }
  // A member choice beyond the closest-in-time rule weighs with the study's
  // spreads, pooled from every shard's first round.
  std::optional<Pick_Spreads> spreads;
  if (Needs_Study_Spreads(plan.options)) spreads = Read_Study_Spreads(plan_folder, plan);
  Shard_Summary summary;
  const std::string target = Shard_Folder(plan_folder, shard);
  if (fs::is_directory(target) && Check_Shard(plan_folder, plan, shard).empty()) {
    const Shard_Info info = Read_Shard_Info(Join_Path(target, kAlignedDbName));
    summary.already_done = true;
    summary.rows = info.rows;
    summary.groups = info.groups;
    return summary;
  }
  for (std::uint32_t s = 0; s < plan.inputs.size(); ++s) {
    if (!fs::exists(Join_Path(Part_Folder(plan_folder, shard), Part_Name(s)))) {
      throw std::runtime_error(Input_Path(plan.inputs[s]) + ": not split for this plan yet (no " +
                               Join_Path(Part_Folder(plan_folder, shard), Part_Name(s)) +
                               "); run varnel-align --plan " + plan_folder + " --split on it");
    }
  }
  const std::string work = Join_Path(plan_folder, ".shard-" + std::to_string(shard) + ".work");
  std::error_code error;
  fs::remove_all(work, error);  // what a stopped run of this shard left
  Make_Folder(work);

  // Read: keys in memory, the rest of each row in the spill.
  std::vector<Align_Key> keys;
  std::vector<std::uint32_t> input_rows;  // by spill row
  std::vector<std::size_t> first_row;     // first spill row of each sample
  std::optional<Row_Spill> spill(std::in_place, work);
  {
    Annotated_Batch batch;
    Stored_Row row;
    for (std::uint32_t s = 0; s < plan.inputs.size(); ++s) {
      const std::string path = Join_Path(Part_Folder(plan_folder, shard), Part_Name(s));
      Row_File_Reader part(path);
      if (part.Header().kind != Row_File_Kind::kPart || part.Header().plan_id != plan.id ||
          part.Header().owner != s) {
        throw std::runtime_error(path + ": made for another plan; split " +
                                 Input_Path(plan.inputs[s]) + " again");
      }
      first_row.push_back(spill->Rows());
      batch.clear();
      while (part.Next(row)) {
        Align_Key& key = keys.emplace_back();
        key.row = static_cast<std::uint32_t>(spill->Rows() + batch.peaks.size());
        key.Compound_ID = row.record.Compound_ID;
        key.Compound_MolecularMass = row.record.Compound_MolecularMass;
        key.Compound_Retention_Time = row.record.Compound_Retention_Time;
        key.Compound_Intensity = row.record.Compound_Intensity;
        key.SAMPLE_ID = s;
        input_rows.push_back(row.input_row);
        batch.peaks.push_back(Peak_Of(row.record));
        batch.shapes += row.shape;
        batch.shape_end.push_back(batch.shapes.size());
      }
      spill->Append(batch);
    }
    spill->Flush();
  }

  // Align, on the plan's corrected times when it has a correction.
  std::vector<std::uint32_t> seed_positions;
  std::optional<Member_Choice_Record> choice_record;
  {
    std::vector<double> times;
    if (plan.correction) times = Corrected_Times(keys, *plan.correction);
    std::ostream quiet(nullptr);
    if (spreads) {
      // A join never crosses a cut: joined groups lie within one mass
      // tolerance of each other, a cut's gap is wider than two.
      Member_Choice choice;
      choice.pick = plan.options.pick;
      choice.join_splits = plan.options.join_splits;
      choice.samples = plan.inputs.size();
      choice.spreads = &*spreads;
      const Member_Choice_Outcome outcome =
          compound_align(plan.options.mode, plan.options.Mass_Tol, plan.options.Align_Window1,
                         plan.options.Align_Window2, keys, plan.correction ? &times : nullptr,
                         choice, &seed_positions, quiet);
      choice_record = Shard_Choice_Record(plan, *spreads, outcome.joins);
    } else {
      compound_align(plan.options.mode, plan.options.Mass_Tol, plan.options.Align_Window1,
                     plan.options.Align_Window2, keys, plan.correction ? &times : nullptr,
                     seed_positions, quiet);
    }
  }
  Row_Spill::Reader reader(*spill);
  Chromatogram_Peak_Group_Compound_Align record;
  std::vector<Group_Seed> seeds;
  seeds.reserve(seed_positions.size());
  for (std::uint32_t position : seed_positions) {  // a key's position is its spill row
    reader.Read(position, false, record);
    const auto sample = static_cast<std::uint32_t>(
        std::upper_bound(first_row.begin(), first_row.end(), position) - first_row.begin() - 1);
    seeds.push_back({record.Compound_Intensity, sample, input_rows[position]});
  }
  Shard_Info info;
  info.plan_id = plan.id;
  info.shard = shard;
  info.rows = keys.size();
  info.groups = seeds.size();
  for (const Align_Key& key : keys) info.unaligned += key.Align_ID == 0 ? 1 : 0;

  // Write the result and the exact rows in one pass over the rows.
  Row_File_Writer rows_out(work, kShardRowsName, Row_File_Kind::kShardRows, plan.id, shard);
  const Aligned_Row_Source source = [&](std::size_t i, bool) -> Aligned_Row {
    const Align_Key& key = keys[i];
    const std::string_view shape = reader.Read(key.row, true, record);
    record.SAMPLE_ID = key.SAMPLE_ID;
    record.SAMPLE_NAME = plan.inputs[key.SAMPLE_ID].sample_name;
    record.Align_ID = key.Align_ID;
    record.Align_RT = key.Align_RT;
    rows_out.Append(record, input_rows[key.row], shape);
    return {&record, shape};
  };
  // The shard's own run record lists the study's samples as one run's result
  // holds them (every input with a record, else those with peaks), so that
  // an export of the shard has the study's sample columns.
  Run_Record run_record = Study_Run_Record(plan, info.rows, info.groups, info.unaligned);
  if (!plan.options.record_run) {
    std::erase_if(run_record.inputs, [](const Run_Input& in) { return in.peaks_read == 0; });
  }
  run_record.member_choice = choice_record;
  Pending_Result_File database = Write_Pending_Aligned_Database(
      keys.size(), source, work, kAlignedDbName, {}, [&](CppSQLite3DB& db) {
        // Every row is written by now: the rows file is whole, and its
        // digest goes into the shard's own record.
        info.rows_xxh3_128 = rows_out.Finish();
        Write_Shard_Tables(db, info, seeds);
        Write_Run_Record(db, run_record);
        // The shard's own choice and joins: the merge checks and adds them.
        if (choice_record) Write_Member_Choice(db, *choice_record);
      });
  rows_out.Commit();
  database.Commit();
  spill.reset();

  fs::remove_all(target, error);  // a broken or foreign shard of that number
  fs::rename(work, target, error);
  if (error)
    throw std::runtime_error(target + ": cannot put the shard in place: " + error.message());
  summary.rows = info.rows;
  summary.groups = info.groups;
  return summary;
}
