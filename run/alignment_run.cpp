#include "run/alignment_run.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <exception>
#include <iostream>
#include <limits>
#include <memory>
#include <optional>
#include <stdexcept>
#include <thread>
#include <utility>

#include "align/rt_correction.h"
#include "model/peak.h"
#include "run/read_ahead.h"
#include "run/result_pair.h"
#include "run/row_spill.h"
#include "run/study_reader.h"
#include "storage/aligned_writers.h"
#include "storage/path.h"
#include "storage/run_record.h"
#include "storage/side_tables.h"
#include "storage/sqlite/cppsqlite3.h"

namespace {

using Align_List = std::vector<Align_Key>;

// Makes room for `incoming` more records. The first files of a study tell
// how large the whole study is, so the list is sized once for the estimate
// (plus a little slack) rather than doubled: doubling would leave up to half
// of the record array unused for the whole alignment.
void Reserve_For(Align_List& gathered, std::size_t incoming, std::size_t files_done,
                 std::size_t files_total) {
  const std::size_t needed = gathered.size() + incoming;
  if (needed <= gathered.capacity()) return;
  const std::size_t files_seen = files_done + 1;
  std::size_t estimate = needed;
  if (files_total > files_seen) {
    const double per_file = static_cast<double>(needed) / static_cast<double>(files_seen);
    estimate = needed + static_cast<std::size_t>(per_file * 1.05 *
                                                 static_cast<double>(files_total - files_seen));
  }
  gathered.reserve(std::max(estimate, needed));
}

constexpr std::size_t kSpillReaders = 8;

// Stops a writer from outside it (another writer failed, or the run
// stops). Not a std::exception, so no layer puts a file name in front of it.
struct Writer_Stopped {};

// One writer's state while the writers run side by side.
struct Writer_Lane {
  std::atomic<std::size_t> rows{0};
  std::atomic<bool> done{false};
  std::exception_ptr error;
  Pending_Result_File file;
};

bool Is_Writer_Stopped(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const Writer_Stopped&) {
    return true;
  } catch (...) {
    return false;
  }
}

// The rows of the result in their written order, read back from the spill:
// aligned[i] holds the alignment's fields and the spill row of its peak.
Aligned_Row_Source Spilled_Rows(const Align_List& aligned, const Row_Spill& spill,
                                const std::vector<std::string>& names) {
  auto reader = std::make_shared<Row_Spill::Reader>(spill);
  auto record = std::make_shared<Chromatogram_Peak_Group_Compound_Align>();
  return [&aligned, &names, reader, record](std::size_t i, bool with_shape) -> Aligned_Row {
    const Align_Key& key = aligned[i];
    const std::string_view shape = reader->Read(key.row, with_shape, *record);
    record->SAMPLE_ID = key.SAMPLE_ID;
    record->SAMPLE_NAME = names[key.SAMPLE_ID];
    record->Align_ID = key.Align_ID;
    record->Align_RT = key.Align_RT;
    return {record.get(), shape};
  };
}

// Runs every writer of Result_Writers() at once: the last on this thread, the
// others on threads of their own. Observers hear of them in list order, on
// this thread: a writer's stage begins when the one before it is done.
// Returns the pending files in list order; throws the first failure in list
// order (a stop of the observer's included), every file then discarded.
std::vector<Pending_Result_File> Write_Results(const Align_List& aligned, const Row_Spill& spill,
                                               const std::vector<std::string>& names,
                                               const std::string& folder,
                                               const Extra_Tables& extra_tables,
                                               const Alignment_Run_Observer& observer) {
  const std::vector<Result_Writer>& writers = Result_Writers();
  const std::size_t k = writers.size();
  const std::size_t total = aligned.size();
  std::vector<Writer_Lane> lanes(k);
  // The spill is read once, for all writers together, by eight helper
  // threads: they keep eight reads under way when the spill is partly on disk
  // (a cohort larger than the memory); from memory they cost nothing more.
  std::vector<Aligned_Row_Source> sources = Read_Ahead(
      [&] { return Spilled_Rows(aligned, spill, names); }, total, true, k, kSpillReaders);
  std::atomic<bool> stop{false};
  std::vector<std::thread> threads;
  auto join = [&threads] {
    for (std::thread& t : threads) {
      if (t.joinable()) t.join();
    }
  };
  auto run_lane = [&](std::size_t j, const Row_Progress& progress) {
    try {
      // The lane's source goes when the lane ends, holding the others up no
      // more.
      const Aligned_Row_Source rows = std::move(sources[j]);
      lanes[j].file =
          writers[j].write(total, rows, folder, writers[j].file_name, progress, extra_tables);
    } catch (...) {
      lanes[j].error = std::current_exception();
      stop = true;
    }
    lanes[j].done = true;
  };

  std::size_t shown = 0;  // the writer whose stage observers see
  if (observer.on_stage) observer.on_stage(writers[0].stage);
  auto report = [&](std::size_t written) {
    lanes[k - 1].rows = written;
    if (written == total) join();
    for (std::size_t j = 0; j + 1 < k; ++j) {
      if (lanes[j].done && lanes[j].error) throw Writer_Stopped{};
    }
    while (shown + 1 < k && lanes[shown].done) {
      if (observer.on_write) observer.on_write(writers[shown].stage, total, total);
      ++shown;
      if (observer.on_stage) observer.on_stage(writers[shown].stage);
    }
    if (observer.on_write) observer.on_write(writers[shown].stage, lanes[shown].rows, total);
  };
  try {
    for (std::size_t j = 0; j + 1 < k; ++j) {
      threads.emplace_back(run_lane, j, [&, j](std::size_t written) {
        if (stop) throw Writer_Stopped{};
        lanes[j].rows = written;
      });
    }
  } catch (...) {
    stop = true;
    sources.clear();  // the lanes that never started hold no one up
    join();
    throw;
  }
  run_lane(k - 1, report);
  join();
  for (Writer_Lane& lane : lanes) {
    if (lane.error && !Is_Writer_Stopped(lane.error)) std::rethrow_exception(lane.error);
  }
  std::vector<Pending_Result_File> files;
  for (Writer_Lane& lane : lanes) files.push_back(std::move(lane.file));
  return files;
}

// What the reading stage gathers: the alignment's fields stay in memory, one
// key per peak with the peak's row in the spill; the rest of each peak waits
// in the spill.
struct Gathered_Study {
  explicit Gathered_Study(const std::string& folder) : spill(folder) {}
  Row_Spill spill;
  Align_List keys;
  std::vector<std::string> names;                 // SAMPLE_NAME by SAMPLE_ID
  std::vector<Run_Input> inputs;                  // with record_run: each input's size and hash
  std::vector<std::string> inputs_without_table;  // paths, in list order
};

void Begin(const Alignment_Run_Observer& observer, Run_Stage stage) {
  if (observer.on_stage) observer.on_stage(stage);
}

double Seconds_Since(std::chrono::steady_clock::time_point& lap) {
  const auto now = std::chrono::steady_clock::now();
  const double seconds = std::chrono::duration<double>(now - lap).count();
  lap = now;
  return seconds;
}

// Reads request.files into study, in list order.
void Read_Stage(const Alignment_Request& request, const Alignment_Run_Observer& observer,
                Gathered_Study& study) {
  const std::vector<Annotated_File>& files = request.files;
  Align_List& keys = study.keys;
  study.names.resize(files.size());
  Read_Study(files, request.threads, request.record_run, [&](std::size_t sample, Study_File& file) {
    const Annotated_Batch& batch = file.batch;
    study.names[sample] = Sample_Name_Of(files[sample].name);
    if (keys.size() + batch.peaks.size() > std::numeric_limits<std::uint32_t>::max()) {
      throw std::length_error("too many peaks for one run");
    }
    Reserve_For(keys, batch.peaks.size(), sample, files.size());
    for (const Chromatogram_Peak_Group_Compound& peak : batch.peaks) {
      Align_Key& key = keys.emplace_back();
      key.row = static_cast<std::uint32_t>(study.spill.Rows() + (&peak - batch.peaks.data()));
      key.Compound_ID = peak.Compound_ID;
      key.Compound_MolecularMass = peak.Compound_MolecularMass;
      key.Compound_Retention_Time = peak.Compound_Retention_Time;
      key.Compound_Intensity = peak.Compound_Intensity;
      key.SAMPLE_ID = static_cast<std::uint32_t>(sample);
    }
    study.spill.Append(batch);
    if (!batch.has_table) {
      study.inputs_without_table.push_back(Join_Path(files[sample].folder, files[sample].name));
    }
    if (file.digest) {
      study.inputs.push_back({static_cast<std::uint32_t>(sample), study.names[sample],
                              files[sample].folder, files[sample].name, file.digest->size,
                              file.digest->xxh3_128, batch.peaks.size()});
    }
    if (observer.on_read) observer.on_read(sample + 1, files.size(), keys.size());
  });
  study.spill.Flush();
}

// Fits each sample's drift from the study's anchors, found with the user's
// mass tolerance and a window wider than the fast one.
Rt_Correction Correct_Stage(const Alignment_Request& request,
                            const Alignment_Run_Observer& observer, const Gathered_Study& study) {
  Rt_Correction correction =
      Fit_Rt_Correction(study.keys, Drift_Correction_Params(request), observer.on_fit);
  for (Rt_Sample_Curve& curve : correction.samples) curve.name = study.names[curve.sample];
  return correction;
}

// Aligns keys in place (on corrected times when there is a correction) and
// counts the groups and the records left unaligned into summary.
void Align_Stage(const Alignment_Request& request, const Rt_Correction* correction,
                 const Alignment_Run_Observer& observer, Align_List& keys,
                 Alignment_Run_Summary& summary) {
  std::ostream& lines = observer.align_lines != nullptr ? *observer.align_lines : std::cout;
  if (request.pick != Member_Pick::kClosest || request.join_splits) {
    std::vector<double> times;
    if (correction != nullptr) times = Corrected_Times(keys, *correction);
    Member_Choice choice;
    choice.pick = request.pick;
    choice.join_splits = request.join_splits;
    choice.samples = request.files.size();
    const Member_Choice_Outcome outcome = compound_align(
        request.mode, request.Mass_Tol, request.Align_Window1, request.Align_Window2, keys,
        correction != nullptr ? &times : nullptr, choice, nullptr, lines, observer.on_align);
    summary.spreads = outcome.spreads;
    summary.joins = outcome.joins;
    summary.member_choice =
        Member_Choice_Text(request.pick, outcome.spreads, request.join_splits, outcome.joins);
  } else if (correction != nullptr) {
    Compound_Align_With_Rt_Correction(request.mode, request.Mass_Tol, request.Align_Window1,
                                      request.Align_Window2, keys, *correction, lines,
                                      observer.on_align);
  } else {
    compound_align(request.mode, request.Mass_Tol, request.Align_Window1, request.Align_Window2,
                   keys, nullptr, lines, observer.on_align);
  }
  for (const auto& key : keys) {
    if (key.Align_ID == 0) {
      ++summary.unaligned;
    } else {
      summary.groups = std::max(summary.groups, key.Align_ID);
    }
  }
}

// How the groups kept their members, for the result; none for the
// closest-in-time rule without joining (whose result stays as it always was).
std::optional<Member_Choice_Record> Choice_Record_Of(const Alignment_Request& request,
                                                     const Alignment_Run_Summary& summary) {
  if (request.pick == Member_Pick::kClosest && !request.join_splits) return std::nullopt;
  return Member_Choice_Record_Of(request.pick, summary.spreads, request.join_splits, summary.joins);
}

// Writes every result file side by side, then, every file complete, replaces
// the old ones with them as one (see run/result_pair.h). The tables
// beside Align_Peaklist only when asked for: the run's record, the drift
// correction.
void Write_Stage(const Alignment_Request& request, const Alignment_Run_Summary& summary,
                 const Rt_Correction* correction, const Alignment_Run_Observer& observer,
                 Gathered_Study& study) {
  std::optional<Run_Record> record;
  const std::optional<Member_Choice_Record> choice = Choice_Record_Of(request, summary);
  if (request.record_run) {
    record = Run_Record_Of(request, summary.samples, summary.peaks, summary.groups,
                           summary.unaligned, std::move(study.inputs));
    record->member_choice = choice;
  }
  Extra_Tables extra_tables;
  if (record || correction != nullptr || choice) {
    extra_tables = [&record, correction, &choice](CppSQLite3DB& db) {
      if (record) Write_Run_Record(db, *record);
      if (correction != nullptr) Write_Rt_Correction_Tables(db, *correction);
      if (choice) Write_Member_Choice(db, *choice);
    };
  }
  std::vector<Pending_Result_File> pending = Write_Results(
      study.keys, study.spill, study.names, request.result_folder, extra_tables, observer);
  Replace_Together(pending);
}

}  // namespace

Run_Record Run_Record_Of(const Alignment_Request& request, std::uint64_t samples,
                         std::uint64_t peaks, std::uint64_t groups, std::uint64_t unaligned,
                         std::vector<Run_Input> inputs) {
  Run_Record record;
  record.version = request.version.empty() ? VARNEL_VERSION : request.version;
  record.mode = request.mode == One_Phase_Align ? "Fast_Align" : "Deep_Align";
  record.mass_tol = request.Mass_Tol;
  record.fast_window = request.Align_Window1;
  record.deep_window = request.Align_Window2;
  record.rt_correction = request.rt_correction;
  record.samples = samples;
  record.peaks = peaks;
  record.groups = groups;
  record.unaligned = unaligned;
  record.inputs = std::move(inputs);
  return record;
}

Alignment_Run_Summary Run_Alignment(const Alignment_Request& request,
                                    const Alignment_Run_Observer& observer) {
  const auto start = std::chrono::steady_clock::now();
  auto lap = start;
  Alignment_Run_Summary summary;
  summary.samples = request.files.size();
  summary.csv_path = Join_Path(request.result_folder, kAlignedCsvName);
  summary.database_path = Join_Path(request.result_folder, kAlignedDbName);

  // One run per result folder: a second one fails here, before any work.
  const Result_Folder_Writer writer(request.result_folder);
  Begin(observer, Run_Stage::kReading);
  // What a killed program left in the folder is completed or removed first.
  Recover_Result_Folder(request.result_folder);
  Gathered_Study study(request.result_folder);
  Read_Stage(request, observer, study);
  summary.peaks = study.keys.size();
  summary.inputs_without_table = std::move(study.inputs_without_table);
  summary.reading_seconds = Seconds_Since(lap);

  std::optional<Rt_Correction> correction;
  if (request.rt_correction) {
    Begin(observer, Run_Stage::kCorrecting);
    correction = Correct_Stage(request, observer, study);
    summary.rt_correction = Rt_Correction_Summary(*correction);
  }
  Begin(observer, Run_Stage::kAligning);
  const Rt_Correction* corrected = correction ? &*correction : nullptr;
  Align_Stage(request, corrected, observer, study.keys, summary);
  summary.aligning_seconds = Seconds_Since(lap);

  // The writers report their own stages (Result_Writers()).
  Write_Stage(request, summary, corrected, observer, study);
  summary.writing_seconds = Seconds_Since(lap);
  summary.seconds = std::chrono::duration<double>(lap - start).count();
  return summary;
}

Alignment_Run_Observer Make_Cancellable(Alignment_Run_Observer observer,
                                        std::function<bool()> stop_requested) {
  auto stop = std::make_shared<const std::function<bool()>>(std::move(stop_requested));
  auto check = [stop] {
    if ((*stop)()) throw Run_Cancelled();
  };
  Alignment_Run_Observer out;
  out.align_lines = observer.align_lines;
  out.on_stage = [check, next = std::move(observer.on_stage)](Run_Stage stage) {
    check();
    if (next) next(stage);
  };
  out.on_read = [check, next = std::move(observer.on_read)](std::size_t read, std::size_t total,
                                                            std::size_t peaks) {
    check();
    if (next) next(read, total, peaks);
  };
  out.on_align = [check, next = std::move(observer.on_align)](std::uint32_t groups,
                                                              std::size_t left) {
    check();
    if (next) next(groups, left);
  };
  out.on_fit = [check, next = std::move(observer.on_fit)] {
    check();
    if (next) next();
  };
  out.on_write = [check, next = std::move(observer.on_write)](Run_Stage stage, std::size_t rows,
                                                              std::size_t total) {
    check();
    if (next) next(stage, rows, total);
  };
  return out;
}

void Compound_Align_For_Annotation_Files(int One_Two_Phase_Align, double Mass_Tol,
                                         double Align_Window1, double Align_Window2,
                                         std::string Data_Folder, std::string Result_folder,
                                         std::vector<std::string> Annotation_File_Vec) {
  std::vector<Annotated_File> files;
  files.reserve(Annotation_File_Vec.size());
  for (std::string& name : Annotation_File_Vec) files.push_back({Data_Folder, std::move(name)});
  Alignment_Request request;
  request.mode = One_Two_Phase_Align == 0 ? One_Phase_Align : Two_Phase_Align;
  request.Mass_Tol = {Mass_Tolerance::Unit::kDa, Mass_Tol};
  request.Align_Window1 = Align_Window1;
  request.Align_Window2 = Align_Window2;
  request.files = std::move(files);
  request.result_folder = std::move(Result_folder);
  Run_Alignment(request);
}

Rt_Correction_Params Drift_Correction_Params(const Alignment_Request& request) {
  Rt_Correction_Params params;
  params.anchors.mass_tol = request.Mass_Tol;
  params.anchors.window = Rt_Anchor_Window(request.Align_Window1);
  return params;
}
