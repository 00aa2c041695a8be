#include "run/alignment_run.h"

#include <algorithm>
#include <chrono>
#include <iostream>
#include <memory>
#include <utility>

#include "model/peak.h"
#include "storage/aligned_writers.h"
#include "storage/annotated_reader.h"
#include "storage/path.h"

namespace {

using Peak_List = std::vector<Chromatogram_Peak_Group_Compound>;
using Align_List = std::vector<Chromatogram_Peak_Group_Compound_Align>;

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

}  // namespace

Alignment_Run_Summary Run_Alignment(const Alignment_Request& request,
                                    const Alignment_Run_Observer& observer) {
  const std::vector<Annotated_File>& files = request.files;
  const std::string& result_folder = request.result_folder;
  const auto start = std::chrono::steady_clock::now();
  Alignment_Run_Summary summary;
  summary.samples = files.size();
  summary.csv_path = Join_Path(result_folder, kAlignedCsvName);
  summary.database_path = Join_Path(result_folder, kAlignedDbName);

  if (observer.on_stage) observer.on_stage(Run_Stage::kReading);
  Align_List gathered;
  Peak_List buffer;
  for (std::size_t sample = 0; sample < files.size(); ++sample) {
    const Annotated_File& file = files[sample];
    Query_All_AnnotatedGroupedChromatographPeaklist_FromAnnoatedDataBase(file.folder, file.name,
                                                                         buffer);
    const std::string sample_name = Sample_Name_Of(file.name);
    Reserve_For(gathered, buffer.size(), sample, files.size());
    for (Chromatogram_Peak_Group_Compound& peak : buffer) {
      gathered.emplace_back(std::move(peak), static_cast<std::uint32_t>(sample), sample_name);
    }
    buffer.clear();
    if (observer.on_read) observer.on_read(sample + 1, files.size(), gathered.size());
  }
  Peak_List().swap(buffer);
  summary.peaks = gathered.size();

  if (observer.on_stage) observer.on_stage(Run_Stage::kAligning);
  compound_align(request.mode, request.Mass_Tol, request.Align_Window1, request.Align_Window2,
                 gathered, observer.align_lines != nullptr ? *observer.align_lines : std::cout,
                 observer.on_align);
  for (const auto& record : gathered) {
    if (record.Align_ID == 0) {
      ++summary.unaligned;
    } else {
      summary.groups = std::max(summary.groups, record.Align_ID);
    }
  }

  const std::size_t rows = gathered.size();
  std::vector<Pending_Result_File> pending;
  for (const Result_Writer& writer : Result_Writers()) {
    if (observer.on_stage) observer.on_stage(writer.stage);
    Row_Progress progress;
    if (observer.on_write) {
      progress = [&observer, &writer, rows](std::size_t written) {
        observer.on_write(writer.stage, written, rows);
      };
    }
    pending.push_back(writer.write(gathered, result_folder, writer.file_name, progress));
  }
  // Every file is complete: put them on disk, then in place one after the
  // other, with nothing between the renames that could stop the run.
  for (Pending_Result_File& file : pending) file.Sync();
  for (Pending_Result_File& file : pending) file.Commit();

  summary.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
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
  request.Mass_Tol = Mass_Tol;
  request.Align_Window1 = Align_Window1;
  request.Align_Window2 = Align_Window2;
  request.files = std::move(files);
  request.result_folder = std::move(Result_folder);
  Run_Alignment(request);
}
