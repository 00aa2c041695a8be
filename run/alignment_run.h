// The alignment run: read every annotated database, align once, write the
// result files into the result folder.
#ifndef VARNEL_RUN_ALIGNMENT_RUN_H_
#define VARNEL_RUN_ALIGNMENT_RUN_H_

#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "align/compound_align.h"
#include "align/rt_correction.h"
#include "run/alignment_request.h"
#include "run/result_writers.h"
#include "storage/run_record.h"

// What a run reports while it works. Every member may be left empty. Any
// callback may throw to stop the run (a Cancel): the exception passes out of
// Run_Alignment unchanged, and the result folder is left as a failure leaves
// it (old result files intact, no temporary file).
struct Alignment_Run_Observer {
  // When a stage begins, in the order of kRunStages: kReading, kCorrecting
  // (only with rt_correction), kAligning, then each writer's.
  std::function<void(Run_Stage stage)> on_stage;
  // After each database is read: files read so far, files in the run, peaks
  // gathered so far.
  std::function<void(std::size_t files_read, std::size_t files_total, std::size_t peaks)> on_read;
  // After every group made by compound_align (see Align_Progress).
  Align_Progress on_align;
  // While a result file is written: its stage, rows written so far, rows in
  // all; the last call of a file has rows_written == rows_total.
  std::function<void(Run_Stage stage, std::size_t rows_written, std::size_t rows_total)> on_write;
  // Now and then while the drift correction is fitted (see Fit_Check), so
  // that a stop is heard there too.
  std::function<void()> on_fit;
  // Receives compound_align's progress lines; null means standard output.
  std::ostream* align_lines = nullptr;
};

// Said of an input listed in inputs_without_table.
inline constexpr char kNoAnnotatedTableNote[] =
    "holds no table \"Annotate_Peaklist\"; read as 0 peaks";

// What an observer throws to stop a run on request.
class Run_Cancelled : public std::exception {
 public:
  const char* what() const noexcept override { return "The alignment was cancelled."; }
};

// `observer` with every callback made to throw Run_Cancelled first when
// stop_requested() is true (also when the callback itself is empty), so a run
// stops at its next report: after the file being read, within 1024 groups or
// 64 samples of the drift fit, after the group being made, or within 10000
// rows of a file being written. stop_requested is called
// on the run's thread and must be cheap (an atomic load).
Alignment_Run_Observer Make_Cancellable(Alignment_Run_Observer observer,
                                        std::function<bool()> stop_requested);

struct Alignment_Run_Summary {
  std::size_t samples = 0;        // files in the run, also those that gave no peak
  std::size_t peaks = 0;          // records gathered and written
  std::uint32_t groups = 0;       // alignment groups made (the largest Align_ID)
  std::size_t unaligned = 0;      // records left with Align_ID 0
  double seconds = 0.0;           // wall time of the whole run
  double reading_seconds = 0.0;   // of which reading the inputs
  double aligning_seconds = 0.0;  // aligning (and fitting the drift correction)
  double writing_seconds = 0.0;   // writing and replacing the result files
  std::string csv_path;           // Join_Path(result_folder, kAlignedCsvName)
  std::string database_path;      // Join_Path(result_folder, kAlignedDbName)
  std::string rt_correction;      // with drift correction: what it found, a few lines
  Pick_Spreads spreads;           // with pick kScored: the spreads the choice used
  std::uint32_t joins = 0;        // with join_splits: split groups joined
  std::string member_choice;      // with pick kScored or join_splits: a few lines
  // Inputs that held no table Annotate_Peaklist (each read as 0 peaks), as
  // Join_Path(folder, name), in sample order.
  std::vector<std::string> inputs_without_table;
};

// Runs the stages of kRunStages. Reads request.files (SAMPLE_ID = position,
// SAMPLE_NAME = Sample_Name_Of(name); on request.threads threads, taken in
// list order); with rt_correction fits each sample's drift; aligns all their
// peaks once with the request's mode and numbers (on drift-corrected times
// with rt_correction); then runs the writers of Result_Writers() side by side
// into request.result_folder, which must exist, and replaces the old result
// files as one at the end (Replace_Together; an interrupted replacement or
// temporary files that a killed program left in the folder are completed or
// removed first, see run/result_pair.h). The numbers are
// taken as they are: Check_Alignment_Parameters is the front ends' business.
// The result is the same for every thread count, and the same as reading the
// inputs with Query_All_..., aligning the list with compound_align and writing
// it with the two list writers.
// Throws whatever the reader, the alignment, the writers or the observer
// throw, unchanged (of several failing writers, the first in list order); any
// failure or stop leaves the earlier result files as they were and no file of
// its own (but for a rename that fails after the first: the new files then
// wait for the next program that opens the folder, see Replace_Together).
// Memory: about 100 bytes per peak and a few files being read; the
// rest of each peak (its shape above all) waits in an unnamed temporary file
// in the result folder until it is written.
// The drift correction's parameters for a request: anchors found with the
// request's mass tolerance and Rt_Anchor_Window of its fast window. A run and
// the plan of an alignment in shards fit with these.
Rt_Correction_Params Drift_Correction_Params(const Alignment_Request& request);

Alignment_Run_Summary Run_Alignment(const Alignment_Request& request,
                                    const Alignment_Run_Observer& observer = {});

// The record of a run with these options, counts and inputs (in SAMPLE_ID
// order); the running program's version unless request.version says another.
Run_Record Run_Record_Of(const Alignment_Request& request, std::uint64_t samples,
                         std::uint64_t peaks, std::uint64_t groups, std::uint64_t unaligned,
                         std::vector<Run_Input> inputs);

// Run_Alignment with its arguments one by one: the databases
// Annotation_File_Vec (bare names inside Data_Folder, in sample order), the
// one-phase alignment for One_Two_Phase_Align 0 and the two-phase one for
// anything else, Mass_Tol in Da, the results written into Result_folder and
// progress lines on standard output.
void Compound_Align_For_Annotation_Files(int One_Two_Phase_Align, double Mass_Tol,
                                         double Align_Window1, double Align_Window2,
                                         std::string Data_Folder, std::string Result_folder,
                                         std::vector<std::string> Annotation_File_Vec);

#endif  // VARNEL_RUN_ALIGNMENT_RUN_H_
