#include "run/alignment_run.h"

#include <algorithm>
#include <chrono>
#include <iostream>
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
  for (const Result_Writer& writer : Result_Writers()) {
    if (observer.on_stage) observer.on_stage(writer.stage);
    Row_Progress progress;
    if (observer.on_write) {
      progress = [&observer, &writer, rows](std::size_t written) {
        observer.on_write(writer.stage, written, rows);
      };
    }
    writer.write(gathered, result_folder, writer.file_name, progress);
    if (observer.on_write) observer.on_write(writer.stage, rows, rows);
  }

  summary.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return summary;
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
