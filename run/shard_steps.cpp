#include "run/shard_steps.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <utility>

#include "align/compound_align.h"
#include "align/rt_correction.h"
#include "export/export_result.h"
#include "run/file_hash.h"
#include "run/result_pair.h"
#include "run/result_writers.h"
#include "run/row_spill.h"
#include "run/shard_rows.h"
#include "run/study_reader.h"
#include "storage/aligned_writers.h"
#include "storage/annotated_reader.h"
#include "storage/path.h"
#include "storage/replacement_file.h"
#include "storage/run_record.h"
#include "storage/shard_tables.h"
#include "storage/side_tables.h"
#include "storage/sqlite/cppsqlite3.h"

namespace fs = std::filesystem;

namespace {

std::string Numbered(const char* prefix, std::uint32_t n, const char* suffix = "") {
  char text[64];
  std::snprintf(text, sizeof text, "%s%06u%s", prefix, n, suffix);
  return text;
}

std::string Input_Path(const Plan_Input& in) { return Join_Path(in.folder, in.name); }

void Make_Folder(const std::string& folder) {
  std::error_code error;
  fs::create_directories(folder, error);
  if (error || !fs::is_directory(folder)) {
    throw std::runtime_error(folder + ": cannot create the folder: " +
                             (error ? error.message() : std::string("not a folder")));
  }
}

// A small text file written under a temporary name and renamed (not synced:
// it marks files that are not synced either).
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

Chromatogram_Peak_Group_Compound Peak_Of(Chromatogram_Peak_Group_Compound_Align& r) {
  Chromatogram_Peak_Group_Compound p;
  p.EIC_ID = r.EIC_ID;
  p.Peak_ID = r.Peak_ID;
  p.Apex_MZ = r.Apex_MZ;
  p.Apex_Pos = r.Apex_Pos;
  p.Apex_Retention_Time = r.Apex_Retention_Time;
  p.Apex_Intensity = r.Apex_Intensity;
  p.Peak_Area = r.Peak_Area;
  p.Peak_SNR = r.Peak_SNR;
  p.Left_Boundary = r.Left_Boundary;
  p.Right_Boundary = r.Right_Boundary;
  p.Group_ID = r.Group_ID;
  p.Adduct_Annotation = std::move(r.Adduct_Annotation);
  p.Compound_ID = r.Compound_ID;
  p.Compound_MolecularMass = r.Compound_MolecularMass;
  p.Compound_Retention_Time = r.Compound_Retention_Time;
  p.Compound_Intensity = r.Compound_Intensity;
  return p;
}

// The record of a run over the plan's inputs with these counts.
Run_Record Record_Of(const Study_Plan& plan, std::uint64_t peaks, std::uint64_t groups,
                     std::uint64_t unaligned) {
  Run_Record record;
  record.version = VARNEL_VERSION;
  record.mode = plan.options.mode == One_Phase_Align ? "Fast_Align" : "Deep_Align";
  record.mass_tol = plan.options.Mass_Tol;
  record.fast_window = plan.options.Align_Window1;
  record.deep_window = plan.options.Align_Window2;
  record.rt_correction = plan.options.rt_correction;
  record.samples = plan.inputs.size();
  record.peaks = peaks;
  record.groups = groups;
  record.unaligned = unaligned;
  for (std::uint32_t s = 0; s < plan.inputs.size(); ++s) {
    const Plan_Input& in = plan.inputs[s];
    record.inputs.push_back(
        {s, in.sample_name, in.folder, in.name, in.size, in.xxh3_128, in.peaks});
  }
  return record;
}

std::string Plan_Path(const std::string& plan_folder) {
  return Join_Path(plan_folder, kPlanFileName);
}

}  // namespace

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

void Scan_Inputs(const Alignment_Request& options, const std::string& out_path) {
  const Mass_Binning binning(options.Mass_Tol);
  Study_Scan scan;
  scan.options = options;
  scan.options.files.clear();
  scan.options.result_folder.clear();
  // One input in memory at a time: a workflow runs several scans side by side.
  Read_Study(options.files, 1, true, [&](std::size_t i, Study_File& file) {
    Input_Scan in = Scan_Peaks(file.batch.peaks, binning, options.rt_correction);
    in.folder = options.files[i].folder;
    in.name = options.files[i].name;
    in.size = file.digest->size;
    in.xxh3_128 = file.digest->xxh3_128;
    scan.inputs.push_back(std::move(in));
  });
  Write_Scan_File(out_path, scan);
}

void Split_Inputs(const std::string& plan_folder, const std::vector<std::string>& paths) {
  const Study_Plan plan = Read_Plan_File(plan_folder);
  // Which samples each path is, and whether it is still the file scanned.
  std::vector<std::pair<std::string, std::vector<std::uint32_t>>> work;
  std::unordered_multimap<std::string, std::uint32_t> by_path;
  for (std::uint32_t s = 0; s < plan.inputs.size(); ++s) {
    by_path.emplace(Input_Path(plan.inputs[s]), s);
  }
  for (const std::string& path : paths) {
    std::vector<std::uint32_t> samples;
    const auto [first, last] = by_path.equal_range(path);
    for (auto it = first; it != last; ++it) samples.push_back(it->second);
    if (samples.empty()) {  // the same file by another path
      for (std::uint32_t s = 0; s < plan.inputs.size(); ++s) {
        std::error_code error;
        if (fs::equivalent(Input_Path(plan.inputs[s]), path, error)) samples.push_back(s);
      }
    }
    std::sort(samples.begin(), samples.end());
    if (samples.empty()) {
      throw std::runtime_error(path + ": not an input of the plan " + Plan_Path(plan_folder));
    }
    const File_Digest digest = Digest_File(path);
    for (std::uint32_t s : samples) {
      const Plan_Input& in = plan.inputs[s];
      if (digest.size != in.size || digest.xxh3_128 != in.xxh3_128) {
        throw std::runtime_error(
            path + ": changed since it was scanned (" +
            (digest.size != in.size
                 ? std::to_string(digest.size) + " bytes, the plan says " + std::to_string(in.size)
                 : std::string("its XXH3-128 hash differs from the plan's")) +
            "); scan it and make the plan again");
      }
    }
    work.emplace_back(path, std::move(samples));
  }

  for (std::uint32_t k = 0; k < plan.shards.size(); ++k) Make_Folder(Part_Folder(plan_folder, k));
  Annotated_Batch batch;
  for (const auto& [path, samples] : work) {
    const Split_Path_Result where = Split_Path(path);
    Read_Annotated_Batch(where.folder, where.name, batch);
    for (std::uint32_t s : samples) {
      if (batch.peaks.size() != plan.inputs[s].peaks) {
        throw std::runtime_error(
            path + ": " + std::to_string(batch.peaks.size()) + " peaks where the plan counted " +
            std::to_string(plan.inputs[s].peaks) + "; scan it and make the plan again");
      }
      std::vector<std::unique_ptr<Row_File_Writer>> parts;
      for (std::uint32_t k = 0; k < plan.shards.size(); ++k) {
        parts.push_back(std::make_unique<Row_File_Writer>(Part_Folder(plan_folder, k), Part_Name(s),
                                                          plan.id, s));
      }
      Chromatogram_Peak_Group_Compound_Align record;
      for (std::size_t i = 0; i < batch.peaks.size(); ++i) {
        const Chromatogram_Peak_Group_Compound& p = batch.peaks[i];
        record.EIC_ID = p.EIC_ID;
        record.Peak_ID = p.Peak_ID;
        record.Apex_MZ = p.Apex_MZ;
        record.Apex_Pos = p.Apex_Pos;
        record.Apex_Retention_Time = p.Apex_Retention_Time;
        record.Apex_Intensity = p.Apex_Intensity;
        record.Peak_Area = p.Peak_Area;
        record.Peak_SNR = p.Peak_SNR;
        record.Left_Boundary = p.Left_Boundary;
        record.Right_Boundary = p.Right_Boundary;
        record.Group_ID = p.Group_ID;
        record.Adduct_Annotation = p.Adduct_Annotation;
        record.Compound_ID = p.Compound_ID;
        record.Compound_MolecularMass = p.Compound_MolecularMass;
        record.Compound_Retention_Time = p.Compound_Retention_Time;
        record.Compound_Intensity = p.Compound_Intensity;
        record.SAMPLE_ID = s;
        parts[plan.Shard_Of(p.Compound_MolecularMass)]->Append(
            record, static_cast<std::uint32_t>(i), batch.Shape(i));
      }
      for (auto& part : parts) part->Commit();
      Write_Small_File(Split_Marker_Path(plan_folder, s), plan.id + "\n");
    }
  }
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
    const Row_File_Reader rows(Join_Path(folder, kShardRowsName));
    if (rows.Header().plan_id != plan.id || rows.Header().owner != k ||
        rows.Header().rows != info.rows) {
      return name + ": its files do not belong together; run the shard again";
    }
  } catch (const std::exception& e) {
    return name + ": broken: " + e.what() + "; run the shard again";
  }
  return {};
}

Shard_Summary Align_Shard(const std::string& plan_folder, std::uint32_t shard) {
  const Study_Plan plan = Read_Plan_File(plan_folder);
  if (shard >= plan.shards.size()) {
    throw std::runtime_error(Plan_Path(plan_folder) + ": no shard " + std::to_string(shard) +
                             " (the plan has shards 0 to " +
                             std::to_string(plan.shards.size() - 1) + ")");
  }
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
    Shard_Row row;
    for (std::uint32_t s = 0; s < plan.inputs.size(); ++s) {
      const std::string path = Join_Path(Part_Folder(plan_folder, shard), Part_Name(s));
      Row_File_Reader part(path);
      if (part.Header().plan_id != plan.id || part.Header().owner != s) {
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
  {
    std::vector<double> times;
    if (plan.correction) times = Corrected_Times(keys, *plan.correction);
    std::ostream quiet(nullptr);
    compound_align(plan.options.mode, plan.options.Mass_Tol, plan.options.Align_Window1,
                   plan.options.Align_Window2, keys, plan.correction ? &times : nullptr,
                   seed_positions, quiet);
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
  Row_File_Writer rows_out(work, kShardRowsName, plan.id, shard);
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
  Run_Record run_record = Record_Of(plan, info.rows, info.groups, info.unaligned);
  if (!plan.options.record_run) {
    std::erase_if(run_record.inputs, [](const Run_Input& in) { return in.peaks_read == 0; });
  }
  Pending_Result_File database = Write_Pending_Aligned_Database(
      keys.size(), source, work, kAlignedDbName, {}, [&](CppSQLite3DB& db) {
        Write_Shard_Tables(db, info, seeds);
        Write_Run_Record(db, run_record);
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
  Shard_Row& Next(bool with_shape) {
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
    Shard_Row row;
    bool started = false;
    bool has = false;
    std::uint64_t unaligned = 0;
    std::uint32_t group = 0;  // the shard's Align_ID being taken; groups done before it
  };

  Shard_Row& Take(Cursor& c, std::uint32_t align_id, bool with_shape) {
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
  Shard_Row out_;
};

}  // namespace

Merge_Summary Merge_Shards(const std::string& plan_folder, const std::string& result_folder) {
  const Result_Folder_Writer writer(result_folder);  // one writer per result folder
  const Study_Plan plan = Read_Plan_File(plan_folder);
  // A replacement of the result pair left unfinished by a killed program is
  // completed, and its temporary files removed, before the new pair is made.
  Recover_Result_Folder(result_folder);
  std::string problems;
  for (std::uint32_t k = 0; k < plan.shards.size(); ++k) {
    const std::string problem = Check_Shard(plan_folder, plan, k);
    if (!problem.empty()) problems += (problems.empty() ? "" : "\n") + problem;
  }
  if (!problems.empty()) throw std::runtime_error(problems);

  Merge_Summary summary;
  summary.samples = plan.inputs.size();
  std::vector<Shard_Info> infos;
  std::vector<std::vector<Group_Seed>> seeds;
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

  const Run_Record record = Record_Of(plan, summary.peaks, summary.groups, summary.unaligned);
  const Extra_Tables extra_tables = [&](CppSQLite3DB& db) {
    if (plan.options.record_run) Write_Run_Record(db, record);
    if (plan.correction) Write_Rt_Correction_Tables(db, *plan.correction);
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
        Shard_Row& row = rows->Next(with_shape);
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

namespace {

// The next CSV record of in (a line break inside quotes belongs to its field),
// without its line end; false at the end.
bool Next_Record(std::istream& in, std::string& record) {
  record.clear();
  bool quoted = false;
  for (int c = in.get(); c != EOF; c = in.get()) {
    if (c == '"') quoted = !quoted;
    if (c == '\n' && !quoted) return true;
    record.push_back(static_cast<char>(c));
  }
  return !record.empty();
}

}  // namespace

void Merge_Feature_Table(const std::string& plan_folder, Export_Quantity quantity,
                         const std::string& out_path) {
  const Study_Plan plan = Read_Plan_File(plan_folder);
  std::string problems;
  for (std::uint32_t k = 0; k < plan.shards.size(); ++k) {
    const std::string problem = Check_Shard(plan_folder, plan, k);
    if (!problem.empty()) problems += (problems.empty() ? "" : "\n") + problem;
  }
  if (!problems.empty()) throw std::runtime_error(problems);

  // Each shard's table (its own Align_IDs; every shard lists the study's
  // samples), then its rows interleaved by seed and numbered again.
  struct Shard_Table {
    std::vector<Group_Seed> seeds;
    std::ifstream lines;
    std::size_t next = 0;
  };
  std::vector<Shard_Table> tables(plan.shards.size());
  std::string header;
  const std::string scratch = Join_Path(plan_folder, ".features");
  std::error_code error;
  fs::remove_all(scratch, error);
  Make_Folder(scratch);
  struct Remove_Scratch {
    std::string folder;
    ~Remove_Scratch() {
      std::error_code ignored;
      fs::remove_all(folder, ignored);
    }
  } remove_scratch{scratch};
  for (std::uint32_t k = 0; k < plan.shards.size(); ++k) {
    const std::string database = Join_Path(Shard_Folder(plan_folder, k), kAlignedDbName);
    tables[k].seeds = Read_Group_Seeds(database);
    if (tables[k].seeds.empty()) continue;
    const std::string table = Join_Path(scratch, "shard-" + std::to_string(k) + ".csv");
    Export_Options options;
    options.format = Export_Format::kFeatureTable;
    options.quantity = quantity;
    Export_Result(database, options, table);
    tables[k].lines.open(table, std::ios::binary);
    std::string first;
    if (!Next_Record(tables[k].lines, first)) throw std::runtime_error(table + ": cannot read");
    if (header.empty()) header = first;
    if (first != header)
      throw std::runtime_error(database + ": its samples differ from the others'");
  }
  if (header.empty()) {
    throw std::runtime_error(Plan_Path(plan_folder) +
                             ": the study holds no aligned peaks (Align_ID 1 or more)");
  }
  const Split_Path_Result where = Split_Path(out_path);
  try {
    Replacement_File out(where.folder, where.name);
    std::string buffer = header + "\n";
    std::string line;
    for (std::uint64_t align_id = 1;; ++align_id) {
      Shard_Table* from = nullptr;
      for (Shard_Table& t : tables) {
        if (t.next < t.seeds.size() &&
            (from == nullptr || Seeds_Before(t.seeds[t.next], from->seeds[from->next]))) {
          from = &t;
        }
      }
      if (from == nullptr) break;
      ++from->next;
      if (!Next_Record(from->lines, line)) throw std::runtime_error("a shard's table ends early");
      buffer += std::to_string(align_id);
      buffer.append(line, line.find(','));
      buffer += '\n';
      if (buffer.size() >= (std::size_t{1} << 20)) {
        out.Write(buffer);
        buffer.clear();
      }
    }
    out.Write(buffer);
    out.Commit();
  } catch (const CppSQLite3Exception& e) {
    throw std::runtime_error(out_path + ": " + e.errorMessage());
  }
}
