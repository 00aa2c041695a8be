#include "app/varnel_align_shard.h"

#include <sqlite3.h>

#include <exception>
#include <filesystem>
#include <iostream>
#include <system_error>

#include "align/rt_correction.h"
#include "cohort/shard_steps.h"
#include "cohort/study_plan.h"
#include "storage/exit_on_stop.h"
#include "storage/output_folder.h"
#include "storage/sqlite/cppsqlite3.h"

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

int Usage(const std::string& message) {
  std::cerr << "varnel-align: " << message << '\n';
  return kExitUsage;
}

// A scan or a split holds one input's rows at a time; SQLite's memory map of
// the input being read (up to 128 MiB, which the reader asks for) would come
// on top of them. Without it the input is read through SQLite's small page
// cache, and the job needs about a third less memory (SQLite takes the
// setting only before it starts).
void Read_Inputs_Unmapped() {
  sqlite3_config(SQLITE_CONFIG_MMAP_SIZE, sqlite3_int64{0}, sqlite3_int64{0});
}

int Step(const Shard_Command& command, const Alignment_Request& request,
         const std::vector<std::string>& arguments) {
  if (!command.scan_file.empty() || command.split) Read_Inputs_Unmapped();
  if (!command.scan_file.empty()) {
    Scan_Inputs(request, command.scan_file);
    std::cout << "scanned " << request.files.size() << " input(s) into " << command.scan_file
              << '\n';
    return 0;
  }
  const std::string& dir = command.plan_folder;
  if (command.split) {
    Split_Inputs(dir, arguments);
    std::cout << "split " << arguments.size() << " input(s)\n";
    return 0;
  }
  if (command.deviations) {
    const Deviations_Summary summary = Shard_Deviations(dir, *command.deviations);
    std::cout << "shard " << *command.deviations << " deviations"
              << (summary.already_done ? " (already done)" : "") << ": " << summary.groups
              << " groups, " << summary.deviations << " records\n";
    return 0;
  }
  if (command.spreads) {
    const Pick_Spreads spreads = Pool_Spreads(dir);
    std::cout << "spreads of " << spreads.groups << " groups: retention time " << spreads.rt
              << " s, mass " << spreads.mass << (spreads.ppm ? " ppm" : " Da")
              << ", log10 intensity " << spreads.log_intensity << '\n'
              << "spreads: " << Spreads_Path(dir) << '\n';
    return 0;
  }
  if (command.shard) {
    const Shard_Summary summary = Align_Shard(dir, *command.shard);
    std::cout << "shard " << *command.shard << (summary.already_done ? " (already done)" : "")
              << ": " << summary.rows << " peaks, " << summary.groups << " groups\n";
    return 0;
  }
  const Output_Folder made(dir, "plan folder");
  if (!made.ok()) {
    std::cerr << "varnel-align: " << made.error() << '\n';
    return kExitFailed;
  }
  Study_Plan plan;
  try {
    plan = Make_Plan(arguments, request, *command.shards, std::cerr);
    Write_Plan_File(dir, plan);
  } catch (...) {
    made.Discard_If_Empty();
    throw;
  }
  std::cout << "inputs: " << plan.inputs.size() << '\n'
            << "pieces: " << plan.pieces << '\n'
            << "shards: " << plan.shards.size() << '\n';
  for (std::size_t k = 0; k < plan.shards.size(); ++k) {
    std::cout << "shard " << k << ": " << plan.shards[k].peaks << " peaks\n";
  }
  if (plan.correction) std::cout << Rt_Correction_Summary(*plan.correction);
  std::cout << "plan: " << dir << '/' << kPlanFileName << '\n';
  return 0;
}

}  // namespace

int Run_Shard_Command(const Shard_Command& command, const Alignment_Request& request,
                      const std::vector<std::string>& arguments) {
  if (!command.scan_file.empty() && !command.plan_folder.empty()) {
    return Usage("--scan and --plan do not go together");
  }
  const bool shard_step = command.shard || command.deviations || command.spreads;
  if (!command.scan_file.empty() && (command.split || shard_step || command.shards)) {
    return Usage("--scan takes no --split, --shard, --deviations, --spreads or --shards");
  }
  if (!command.plan_folder.empty()) {
    const int steps = (command.split ? 1 : 0) + (command.shard ? 1 : 0) + (command.shards ? 1 : 0) +
                      (command.deviations ? 1 : 0) + (command.spreads ? 1 : 0);
    if (steps != 1) {
      return Usage(
          "--plan DIR takes one of --shards N, --split, --deviations K, --spreads or --shard K");
    }
    if (command.shards && *command.shards == 0) return Usage("--shards needs 1 or more");
    if (shard_step && !arguments.empty()) {
      return Usage(std::string(command.spreads ? "--spreads"
                               : command.shard ? "--shard K"
                                               : "--deviations K") +
                   " takes no other argument");
    }
  }
  if (!shard_step && arguments.empty()) {
    return Usage(command.shards ? "no SCANFILE given" : "no DATABASE given");
  }
  // A step stops at once on a signal, its temporary files removed; a step
  // run again finds its finished work as it was.
  Install_Exit_Handlers("varnel-align");
  try {
    return Step(command, request, arguments);
  } catch (const CppSQLite3Exception& e) {
    std::cerr << "varnel-align: " << e.errorDetail() << '\n';
  } catch (const std::exception& e) {
    std::cerr << "varnel-align: " << e.what() << '\n';
  }
  return kExitFailed;
}
