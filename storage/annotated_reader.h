// Reader of one annotated peak-list database (table Annotate_Peaklist).
#ifndef VARNEL_STORAGE_ANNOTATED_READER_H_
#define VARNEL_STORAGE_ANNOTATED_READER_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "model/peak.h"

// Said of an input that is no SQLite database at all; SQLite's own words
// follow in parentheses.
inline constexpr const char* kNotAnnotatedDatabase = "is not a Varnel annotated peak-list database";
// An annotated database's file name is its sample's name followed by this
// suffix (written by storage/annotated_writer.h).
inline constexpr const char* kAnnotatedSuffix = "_annotated_grouped_chromatograph_peaklist.db";

// Appends the peaks of Join_Path(Path, FileName) to peaklist, in ascending
// EIC_ID ("select * from Annotate_Peaklist Order by EIC_ID"). peaklist is never
// cleared; records appended before a failure stay. A database without the
// table appends nothing. The file is opened read-only and never created.
// Throws CppSQLite3Exception (open/read failures, missing column, bad shape,
// NULL values) and std::invalid_argument / std::out_of_range (integer text);
// every message names the file.
void Query_All_AnnotatedGroupedChromatographPeaklist_FromAnnoatedDataBase(
    std::string Path, std::string FileName,
    std::vector<Chromatogram_Peak_Group_Compound>& peaklist);

// One database's peaks with their shapes left in the form the result writers
// store (storage/stored_shape.h) instead of decoded: what a run needs to carry
// a peak to the result without holding its points.
struct Annotated_Batch {
  std::vector<Chromatogram_Peak_Group_Compound> peaks;  // Peak_shape left empty
  std::string shapes;                                   // the written forms, one after the other
  std::vector<std::size_t> shape_end;                   // end of peak i's form in shapes
  bool has_table = true;  // false when the database holds no table Annotate_Peaklist

  std::string_view Shape(std::size_t i) const {
    const std::size_t begin = i == 0 ? 0 : shape_end[i - 1];
    return std::string_view(shapes).substr(begin, shape_end[i] - begin);
  }
  void clear() {
    peaks.clear();
    shapes.clear();
    shape_end.clear();
    has_table = true;
  }
};

// Replaces batch with the peaks of Join_Path(Path, FileName), in the order and
// with the checks and errors of the reader above (a shape is decoded only when
// its stored form is not already the written one).
void Read_Annotated_Batch(const std::string& Path, const std::string& FileName,
                          Annotated_Batch& batch);

#endif  // VARNEL_STORAGE_ANNOTATED_READER_H_
