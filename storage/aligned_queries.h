// Queries on an aligned database (table Align_Peaklist) used by the viewer.
// Each opens the database read-only, appends the matching rows as whole
// records (shapes included) to peaklist without clearing it, and closes it.
// A file without the table appends nothing; a missing file is an error (and
// is not created). Values convert as in the annotated reader; a NULL real (the
// writer's NaN) reads as NaN, a NULL elsewhere is an error. Failures throw
// CppSQLite3Exception / std::invalid_argument / std::out_of_range naming the
// file (and for a bad value the column and the row's EIC_ID/Peak_ID).
//
// The three queries with a SAMPLE_ID key are steered, on their own connection
// and without writing to the file, to the index of the key that selects the
// fewest rows (SQLite alone would walk the whole sample); their rows and the
// order of them are those SQLite gives for the statement.
#ifndef VARNEL_STORAGE_ALIGNED_QUERIES_H_
#define VARNEL_STORAGE_ALIGNED_QUERIES_H_

#include <string>
#include <vector>

#include "model/peak.h"

using Align_Peak_List = std::vector<Chromatogram_Peak_Group_Compound_Align>;

void Query_AlignedAnnotatedGroupedChromatographPeaklist_FromAlignDataBase(
    std::string Path, std::string FileName, int Align_ID, Align_Peak_List& peaklist);
void Query_AnnotatedGroupedChromatographPeaklist_FromAlignDataBase(std::string Path,
                                                                   std::string FileName,
                                                                   int Sample_ID, int Compound_ID,
                                                                   Align_Peak_List& peaklist);
void Query_GroupedChromatographPeaklist_FromAlignDataBase(std::string Path, std::string FileName,
                                                          int Sample_ID, int Group_ID,
                                                          Align_Peak_List& peaklist);
void Query_ChromatographPeak_FromAlignDataBase(std::string Path, std::string FileName,
                                               int Sample_ID, int EIC_ID, int Peak_ID,
                                               Align_Peak_List& peaklist);

// The wrappers the window calls (their names are fixed; only the first one's
// result order differs from its query's).
//
// Sorts: queries, then sorts the whole of peaklist (rows appended before the
// call included) by ascending SAMPLE_ID with an unstable sort
// (Comp_Alignpeak_by_Sample_ID): peaks of one sample come in no fixed order.
void Engine_Query_AlignedAnnotatedGroupedChromatographPeaklist_FromAlignDataBase(
    std::string Path, std::string FileName, int Align_ID, Align_Peak_List& peaklist);
// Query only (rows in the order SQLite returns them); no sort.
void Engine_Query_AnnotatedGroupedChromatographPeaklist_FromAlignDataBase(
    std::string Path, std::string FileName, int Sample_ID, int Compound_ID,
    Align_Peak_List& peaklist);
// Query only; no sort.
void Engine_Query_GroupedChromatographPeaklist_FromAlignDataBase(std::string Path,
                                                                 std::string FileName,
                                                                 int Sample_ID, int Group_ID,
                                                                 Align_Peak_List& peaklist);
// Query only; no sort.
void Engine_Query_ChromatographPeak_FromAlignDataBase(std::string Path, std::string FileName,
                                                      int Sample_ID, int EIC_ID, int Peak_ID,
                                                      Align_Peak_List& peaklist);

#endif  // VARNEL_STORAGE_ALIGNED_QUERIES_H_
