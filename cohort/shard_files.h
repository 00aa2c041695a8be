// What the shard steps share: the plan folder's helpers, the study's run
// record and the check of a shard's folder.
#ifndef VARNEL_COHORT_SHARD_FILES_H_
#define VARNEL_COHORT_SHARD_FILES_H_

#include <cstdint>
#include <optional>
#include <string>

#include "cohort/study_plan.h"
#include "storage/run_record.h"

std::string Input_Path(const Plan_Input& in);
std::string Plan_Path(const std::string& plan_folder);

// Creates folder and its parents. Throws std::runtime_error naming it.
void Make_Folder(const std::string& folder);

// A small text file written under a temporary name and renamed (not synced:
// it marks files that are not synced either).
void Write_Small_File(const std::string& path, const std::string& text);

// The record of a run over the plan's inputs with these counts.
Run_Record Study_Run_Record(const Study_Plan& plan, std::uint64_t peaks, std::uint64_t groups,
                            std::uint64_t unaligned);

// The member choice of the merged result: none for a plan of the
// closest-in-time rule; else the plan's rule, the study's spreads and the
// joins of every shard added up. Throws std::runtime_error naming a shard
// without one.
std::optional<Member_Choice_Record> Study_Member_Choice(const std::string& plan_folder,
                                                        const Study_Plan& plan);

// Checks every shard of the plan (Check_Shard); throws std::runtime_error
// listing every missing or broken one, a line each.
void Check_Every_Shard(const std::string& plan_folder, const Study_Plan& plan);

#endif  // VARNEL_COHORT_SHARD_FILES_H_
