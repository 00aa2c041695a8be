// The steps of an alignment in shards, each one job that a workflow engine
// can schedule: scan the inputs, plan, split the inputs into parts per shard,
// align each shard, merge. The merged result is the one-process run's result.
// Each step is a file of its own (cohort/scan_step.cpp, plan_step.cpp,
// split_step.cpp, shard_step.cpp, merge_step.cpp); docs/cohort.md describes
// the files.
//
// Files, all under the plan's folder DIR:
//   DIR/plan.json                          the plan (cohort/study_plan.h)
//   DIR/parts/shard-K/sample-S.rows        input S's rows of shard K (storage/row_file.h)
//   DIR/parts/sample-S.done                written when all parts of input S are
//   DIR/shard-K/                           shard K's result: the usual .aligndb with
//                                          the tables of cohort/shard_tables.h, and
//                                          "rows" (its rows in result order, exact;
//                                          its XXH3-128 recorded in Shard_Info)
// Every file and the shard folder appear under their names only when
// complete; a step run again over finished work leaves it as it is.
#ifndef VARNEL_COHORT_SHARD_STEPS_H_
#define VARNEL_COHORT_SHARD_STEPS_H_

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "cohort/study_plan.h"
#include "export/export_result.h"
#include "run/alignment_request.h"
#include "storage/run_record.h"

inline constexpr const char* kShardRowsName = "rows";

std::string Part_Folder(const std::string& plan_folder, std::uint32_t shard);
std::string Part_Name(std::uint32_t sample);
std::string Split_Marker_Path(const std::string& plan_folder, std::uint32_t sample);
std::string Shard_Folder(const std::string& plan_folder, std::uint32_t shard);

// Reads options.files one at a time (their paths as given are kept in the
// scan), hashes them and writes their scans to out_path atomically. Throws what reading
// throws, naming the file.
void Scan_Inputs(const Alignment_Request& options, const std::string& out_path);

// Writes each input's parts. Every input given must be an input of the plan
// (matched by its path as given or the file it names) with the plan's size
// and hash: otherwise a std::runtime_error naming it, and nothing written.
void Split_Inputs(const std::string& plan_folder, const std::vector<std::string>& paths);

struct Shard_Summary {
  bool already_done = false;
  std::uint64_t rows = 0;
  std::uint64_t groups = 0;
};

// Aligns shard `shard` from its parts and writes its folder. Throws
// std::runtime_error naming a missing or foreign part.
Shard_Summary Align_Shard(const std::string& plan_folder, std::uint32_t shard);

// What is wrong with shard k's folder, or "" when it is complete, of this
// plan, and its rows file is byte for byte the one the shard wrote (its
// XXH3-128 as Shard_Info records it).
std::string Check_Shard(const std::string& plan_folder, const Study_Plan& plan, std::uint32_t k);

// The first round of a plan whose member choice needs the study's spreads
// (Needs_Study_Spreads), before any shard is aligned:
//   DIR/deviations/shard-K.deviations   shard K's deviations: those of the
//                                       groups the closest-in-time rule makes
//                                       of its masses (First_Pass_Deviations)
//   DIR/spreads.json                    the study's spreads, from them all
inline constexpr const char* kSpreadsFileName = "spreads.json";

std::string Deviations_Path(const std::string& plan_folder, std::uint32_t shard);
std::string Spreads_Path(const std::string& plan_folder);

struct Deviations_Summary {
  bool already_done = false;
  std::uint64_t groups = 0;      // groups that gave deviations
  std::uint64_t deviations = 0;  // of retention time
};

// Writes shard K's deviations from its parts. Throws std::runtime_error
// naming a missing or foreign part, or a plan that needs no spreads.
Deviations_Summary Shard_Deviations(const std::string& plan_folder, std::uint32_t shard);

// Checks every shard's deviations, pools them and writes the study's spreads:
// the spreads the one-process run takes (exact medians of every pooled value,
// found in passes over the files: cohort/pooled_spreads.h). Throws
// std::runtime_error listing every missing or broken file, writing nothing.
Pick_Spreads Pool_Spreads(const std::string& plan_folder);

// The spreads Pool_Spreads wrote for this plan. Throws std::runtime_error
// "<path>: ..." when they are missing, broken or of another plan.
Pick_Spreads Read_Study_Spreads(const std::string& plan_folder, const Study_Plan& plan);

// What a shard, and the merged result, record of the member choice (table
// Align_Member_Choice): the plan's rule, the study's spreads (for the scored
// choice) and the joins made.
Member_Choice_Record Shard_Choice_Record(const Study_Plan& plan, const Pick_Spreads& spreads,
                                         std::uint64_t joins);

struct Merge_Summary {
  std::uint64_t samples = 0;
  std::uint64_t peaks = 0;
  std::uint64_t groups = 0;
  std::uint64_t unaligned = 0;
};

// Checks every shard, then writes the usual two result files into
// result_folder (which must exist), replacing old ones only when both are
// complete. Throws std::runtime_error listing every missing or broken shard,
// writing nothing.
Merge_Summary Merge_Shards(const std::string& plan_folder, const std::string& result_folder);

// Writes an export of the study (any format of export/formats.h) to
// out_path straight from the shards, without the study's full peak list and
// without the merged result: the same file as exporting the merged result.
// Checks the shards as Merge_Shards does; refuses as Export_Result does.
std::vector<std::string> Merge_Export(const std::string& plan_folder, const Export_Options& options,
                                      const std::string& out_path);

#endif  // VARNEL_COHORT_SHARD_STEPS_H_
