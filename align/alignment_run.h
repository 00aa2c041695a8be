// The alignment run: read every annotated database, align once, write the CSV
// file and then the aligned database into the result folder.
#ifndef VARNEL_ALIGN_ALIGNMENT_RUN_H_
#define VARNEL_ALIGN_ALIGNMENT_RUN_H_

#include <string>
#include <vector>

inline constexpr const char* kAnnotatedSuffix = "_annotated_grouped_chromatograph_peaklist.db";
inline constexpr const char* kAlignedCsvName = "aligned_annotated_grouped_chromatograph_peaklist.csv";
inline constexpr const char* kAlignedDbName =
    "aligned_annotated_grouped_chromatograph_peaklist.aligndb";

// Aligns the databases Annotation_File_Vec (bare names inside Data_Folder, in
// sample order) and writes the two result files into the existing folder
// Result_folder. One_Two_Phase_Align 0 is the one-phase alignment, anything
// else the two-phase one. Failures (CppSQLite3Exception, std::exception) pass
// through with their messages; earlier result files then stay intact.
void Compound_Align_For_Annotation_Files(int One_Two_Phase_Align, double Mass_Tol,
                                         double Align_Window1, double Align_Window2,
                                         std::string Data_Folder, std::string Result_folder,
                                         std::vector<std::string> Annotation_File_Vec);

#endif  // VARNEL_ALIGN_ALIGNMENT_RUN_H_
