// The alignment run: read every annotated database, align once, write the CSV
// file and then the aligned database into the result folder.
#ifndef VARNEL_ALIGN_ALIGNMENT_RUN_H_
#define VARNEL_ALIGN_ALIGNMENT_RUN_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

#include "align/compound_align.h"

inline constexpr const char* kAnnotatedSuffix = "_annotated_grouped_chromatograph_peaklist.db";
inline constexpr const char* kAlignedCsvName =
    "aligned_annotated_grouped_chromatograph_peaklist.csv";
inline constexpr const char* kAlignedDbName =
    "aligned_annotated_grouped_chromatograph_peaklist.aligndb";

// Aligns the databases Annotation_File_Vec (bare names inside Data_Folder, in
// sample order) and writes the two result files into the existing folder
// Result_folder. One_Two_Phase_Align 0 is the one-phase alignment, anything
// else the two-phase one. The alignment's progress lines go to standard output.
// Failures (CppSQLite3Exception, std::exception) pass through with their
// messages: a failure while reading leaves earlier results untouched, one
// while writing the database leaves the new CSV file beside the old database.
void Compound_Align_For_Annotation_Files(int One_Two_Phase_Align, double Mass_Tol,
                                         double Align_Window1, double Align_Window2,
                                         std::string Data_Folder, std::string Result_folder,
                                         std::vector<std::string> Annotation_File_Vec);

// One annotated database of a run: its folder (no trailing separator) and its
// bare file name. Its position in the run's list is its SAMPLE_ID.
struct Annotated_File {
  std::string folder;
  std::string name;
};

// The sample name of a database file name: the part before the first
// occurrence of kAnnotatedSuffix, or the whole name when it does not occur.
std::string Sample_Name_Of(std::string_view file_name);

// What a run reports while it works. Every member may be left empty.
struct Alignment_Run_Observer {
  // After each database is read: files read so far, files in the run, peaks
  // gathered so far.
  std::function<void(std::size_t files_read, std::size_t files_total, std::size_t peaks)> on_read;
  // After every group made by compound_align (see Align_Progress).
  Align_Progress on_align;
  // While a result file is written: which file (kAlignedCsvName or
  // kAlignedDbName), rows written so far, rows in all.
  std::function<void(const char* file_name, std::size_t rows_written, std::size_t rows_total)>
      on_write;
  // Receives compound_align's progress lines; null means standard output.
  std::ostream* align_lines = nullptr;
};

struct Alignment_Run_Summary {
  std::size_t samples = 0;    // files in the run, also those that gave no peak
  std::size_t peaks = 0;      // records gathered and written
  std::uint32_t groups = 0;   // alignment groups made (the largest Align_ID)
  std::size_t unaligned = 0;  // records left with Align_ID 0
  double seconds = 0.0;       // wall time of the whole run
  std::string csv_path;       // Join_Path(result_folder, kAlignedCsvName)
  std::string database_path;  // Join_Path(result_folder, kAlignedDbName)
};

// The run over databases from any folders: reads files front to back
// (SAMPLE_ID = position, SAMPLE_NAME = Sample_Name_Of(name)), aligns the one
// gathered list once, writes the CSV file and then the aligned database into
// result_folder, which must exist.
// Throws whatever the reader, the alignment or the writers throw, unchanged;
// a failure while reading leaves the result folder untouched. Memory: the
// gathered list plus one file's records while reading; writers get it by
// const reference.
Alignment_Run_Summary Run_Alignment(Compound_Align_Mode mode, double Mass_Tol, double Align_Window1,
                                    double Align_Window2, const std::string& result_folder,
                                    const std::vector<Annotated_File>& files,
                                    const Alignment_Run_Observer& observer = {});

#endif  // VARNEL_ALIGN_ALIGNMENT_RUN_H_
