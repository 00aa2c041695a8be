#include "run/result_writers.h"

#include "storage/side_tables.h"

const std::vector<Result_Writer>& Result_Writers() {
  static const std::vector<Result_Writer> writers = {
      {kAlignedCsvName, Run_Stage::kWritingCsv,
       [](std::size_t count, const Aligned_Row_Source& rows, const std::string& folder,
          const char* name, const Row_Progress& progress, const Extra_Tables&) {
         return Write_Pending_Aligned_Csv(count, rows, folder, name, progress);
       }},
      {kAlignedDbName, Run_Stage::kWritingDatabase,
       [](std::size_t count, const Aligned_Row_Source& rows, const std::string& folder,
          const char* name, const Row_Progress& progress, const Extra_Tables& extra_tables) {
         return Write_Pending_Aligned_Database(count, rows, folder, name, progress, extra_tables);
       }},
  };
  return writers;
}

void Write_Rt_Correction_Tables(CppSQLite3DB& db, const Rt_Correction& correction) {
  std::vector<Rt_Shift_Point> curves;
  for (const Rt_Correction_Row& row : Rt_Correction_Rows(correction)) {
    curves.push_back({row.sample, row.rt, row.shift});
  }
  Write_Rt_Correction(db, curves);
  std::vector<Rt_Shift_Point> anchors;
  for (const Rt_Sample_Curve& c : correction.samples) {
    if (!c.corrected) continue;
    for (std::size_t i = 0; i < c.anchor_rt.size() && i < c.anchor_shift.size(); ++i) {
      anchors.push_back({c.sample, c.anchor_rt[i], c.anchor_shift[i]});
    }
  }
  Write_Rt_Anchors(db, anchors);
  // Only when a gross shift was turned down, so other results stay as they were.
  std::vector<std::int64_t> not_applied;
  for (const Rt_Sample_Curve& c : correction.samples) {
    if (c.gross_shift_rejected) not_applied.push_back(c.sample);
  }
  if (!not_applied.empty()) Write_Gross_Shift_Not_Applied(db, not_applied);
}

Member_Choice_Record Member_Choice_Record_Of(Member_Pick pick, const Pick_Spreads& spreads,
                                             bool join_splits, std::uint32_t joins) {
  Member_Choice_Record record;
  record.pick = Member_Pick_Name(pick);
  record.join_splits = join_splits;
  if (pick == Member_Pick::kScored) {
    record.spread_rt = spreads.rt;
    record.spread_mass = spreads.mass;
    record.spread_mass_ppm = spreads.ppm;
    record.spread_log_intensity = spreads.log_intensity;
    record.spread_groups = spreads.groups;
  }
  record.joins = joins;
  return record;
}
