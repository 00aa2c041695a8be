#include "cohort/shard_files.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <system_error>

#include "cohort/shard_steps.h"
#include "cohort/shard_tables.h"
#include "run/alignment_run.h"
#include "run/file_hash.h"
#include "run/result_writers.h"
#include "storage/output_folder.h"
#include "storage/path.h"
#include "storage/replacement_file.h"
#include "storage/row_file.h"
#include "storage/side_tables.h"
#include "storage/sqlite/cppsqlite3.h"

namespace fs = std::filesystem;

namespace {

std::string Numbered(const char* prefix, std::uint32_t n, const char* suffix = "") {
  char text[64];
  std::snprintf(text, sizeof text, "%s%06u%s", prefix, n, suffix);
  return text;
}

// What keeps a shard's member choice from being the plan's, or "": a shard
// aligned without the plan's choice (or with one the plan does not have), or
// with spreads other than the study's.
std::string Check_Shard_Choice(const std::string& plan_folder, const Study_Plan& plan,
                               const std::string& folder) {
  const std::string database = Join_Path(folder, kAlignedDbName);
  std::optional<Member_Choice_Record> made;
  {
    CppSQLite3DB db;
    db.open(database.c_str(), CppSQLite3OpenMode::kReadOnly);
    made = Read_Member_Choice(db, database);
  }
  if (!Needs_Study_Spreads(plan.options)) {
    if (made) return "aligned with a member choice the plan does not have; run the shard again";
    return {};
  }
  if (!made) {
    return "aligned without the plan's member choice (--pick " +
           std::string(Member_Pick_Name(plan.options.pick)) +
           (plan.options.join_splits ? ", --join-splits" : "") + "); run the shard again";
  }
  const Member_Choice_Record wanted =
      Shard_Choice_Record(plan, Read_Study_Spreads(plan_folder, plan), made->joins);
  if (!(*made == wanted)) {
    return "aligned with another member choice or other spreads than " + Spreads_Path(plan_folder) +
           "; run the shard again";
  }
  return {};
}

}  // namespace

std::optional<Member_Choice_Record> Study_Member_Choice(const std::string& plan_folder,
                                                        const Study_Plan& plan) {
  if (!Needs_Study_Spreads(plan.options)) return std::nullopt;
  std::uint64_t joins = 0;
  for (std::uint32_t k = 0; k < plan.shards.size(); ++k) {
    const std::string database = Join_Path(Shard_Folder(plan_folder, k), kAlignedDbName);
    CppSQLite3DB db;
    db.open(database.c_str(), CppSQLite3OpenMode::kReadOnly);
    const std::optional<Member_Choice_Record> made = Read_Member_Choice(db, database);
    if (!made) throw std::runtime_error(database + ": no member choice (Align_Member_Choice)");
    joins += made->joins;
  }
  return Shard_Choice_Record(plan, Read_Study_Spreads(plan_folder, plan), joins);
}

std::string Input_Path(const Plan_Input& in) { return Join_Path(in.folder, in.name); }

std::string Plan_Path(const std::string& plan_folder) {
  return Join_Path(plan_folder, kPlanFileName);
}

void Make_Folder(const std::string& folder) {
  const Output_Folder made(folder, "folder");
  if (!made.ok()) throw std::runtime_error(made.error());
}

void Write_Small_File(const std::string& path, const std::string& text) {
  const std::string temp = path + ".tmp";
  const int ticket = Remove_On_Stop(temp);  // a stop takes it away
  struct Kept {
    int ticket;
    ~Kept() { Keep_On_Stop(ticket); }
  } kept{ticket};
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) throw std::runtime_error(temp + ": cannot write");
  }
  if (std::rename(temp.c_str(), path.c_str()) != 0) {
    throw std::runtime_error(path + ": cannot rename its temporary file");
  }
}

Run_Record Study_Run_Record(const Study_Plan& plan, std::uint64_t peaks, std::uint64_t groups,
                            std::uint64_t unaligned) {
  std::vector<Run_Input> inputs;
  for (std::uint32_t s = 0; s < plan.inputs.size(); ++s) {
    const Plan_Input& in = plan.inputs[s];
    inputs.push_back({s, in.sample_name, in.folder, in.name, in.size, in.xxh3_128, in.peaks});
  }
  Alignment_Request request = plan.options;
  request.version.clear();  // the record names the program that writes it
  return Run_Record_Of(request, plan.inputs.size(), peaks, groups, unaligned, std::move(inputs));
}

std::string Part_Folder(const std::string& plan_folder, std::uint32_t shard) {
  return Join_Path(Join_Path(plan_folder, "parts"), "shard-" + std::to_string(shard));
}

std::string Part_Name(std::uint32_t sample) { return Numbered("sample-", sample, ".rows"); }

std::string Split_Marker_Path(const std::string& plan_folder, std::uint32_t sample) {
  return Join_Path(Join_Path(plan_folder, "parts"), Numbered("sample-", sample, ".done"));
}

std::string Shard_Folder(const std::string& plan_folder, std::uint32_t shard) {
  return Join_Path(plan_folder, "shard-" + std::to_string(shard));
}

std::string Check_Shard(const std::string& plan_folder, const Study_Plan& plan, std::uint32_t k) {
  const std::string folder = Shard_Folder(plan_folder, k);
  const std::string name = "shard " + std::to_string(k) + " (" + folder + ")";
  if (!fs::is_directory(folder)) {
    return name + ": missing; run varnel-align --plan " + plan_folder + " --shard " +
           std::to_string(k);
  }
  try {
    const Shard_Info info = Read_Shard_Info(Join_Path(folder, kAlignedDbName));
    if (info.plan_id != plan.id || info.shard != k) {
      return name + ": made from another plan; run the shard again";
    }
    if (const std::string mix = Check_Shard_Choice(plan_folder, plan, folder); !mix.empty()) {
      return name + ": " + mix;
    }
    const std::string rows_path = Join_Path(folder, kShardRowsName);
    const Row_File_Reader rows(rows_path);
    if (rows.Header().kind != Row_File_Kind::kShardRows || rows.Header().plan_id != plan.id ||
        rows.Header().owner != k || rows.Header().rows != info.rows) {
      return name + ": its files do not belong together; run the shard again";
    }
    // Every byte as the shard wrote it: a flipped bit anywhere in the rows,
    // even in a field no check above looks at, is refused here.
    if (info.rows_xxh3_128.empty()) {
      return name + ": no digest of its rows (made by an older Varnel); run the shard again";
    }
    if (Digest_File(rows_path).xxh3_128 != info.rows_xxh3_128) {
      return name + ": " + rows_path +
             " differs from the digest the shard recorded (damaged or changed); run the shard "
             "again";
    }
  } catch (const std::exception& e) {
    return name + ": broken: " + e.what() + "; run the shard again";
  }
  return {};
}
void Check_Every_Shard(const std::string& plan_folder, const Study_Plan& plan) {
  std::string problems;
  for (std::uint32_t k = 0; k < plan.shards.size(); ++k) {
    const std::string problem = Check_Shard(plan_folder, plan, k);
    if (!problem.empty()) problems += (problems.empty() ? "" : "\n") + problem;
  }
  if (!problems.empty()) throw std::runtime_error(problems);
}
