// The merge step: the shards' rows in the one-process run's order, written
// by the run's own writers; the feature table straight from the shards.
#include <exception>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <utility>

#include "cohort/shard_files.h"
#include "cohort/shard_steps.h"
#include "cohort/shard_tables.h"
#include "export/export_result.h"
#include "run/result_pair.h"
#include "run/result_writers.h"
#include "storage/aligned_writers.h"
#include "storage/cppsqlite3.h"
#include "storage/path.h"
#include "storage/replacement_file.h"
#include "storage/row_file.h"
#include "storage/run_record.h"
#include "storage/side_tables.h"

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

}  // namespace

Merge_Summary Merge_Shards(const std::string& plan_folder, const std::string& result_folder) {
  const Study_Plan plan = Read_Plan_File(plan_folder);
  // A replacement of the result pair left unfinished by a killed program is
  // completed, and its temporary files removed, before the new pair is made.
  Recover_Result_Folder(result_folder);
  Check_Every_Shard(plan_folder, plan);

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

  const Run_Record record =
      Study_Run_Record(plan, summary.peaks, summary.groups, summary.unaligned);
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
  Check_Every_Shard(plan_folder, plan);

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
