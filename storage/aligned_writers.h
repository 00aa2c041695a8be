// Writers of an aligned peak list: the .aligndb database (table Align_Peaklist)
// and the CSV file.
#ifndef VARNEL_STORAGE_ALIGNED_WRITERS_H_
#define VARNEL_STORAGE_ALIGNED_WRITERS_H_

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "model/peak.h"

// Called now and then while rows are written, with the number written so far.
using Row_Progress = std::function<void(std::size_t rows_written)>;

// Writes Join_Path(Path, FileName) as a fresh database holding Align_Peaklist
// with its six indexes and one row per record, in list order. The file is
// built under a temporary name in Path and renamed over any old file only when
// complete: on failure the old file is left intact and nothing half-written
// remains. Throws CppSQLite3Exception naming the file.
void OutputAlignedAnnotatedGroupedChromatographPeaklist2database(
    const std::vector<Chromatogram_Peak_Group_Compound_Align>& peaklist_aligned, std::string Path,
    std::string FileName, const Row_Progress& progress = {});

// Writes Join_Path(Path, FileName) as CSV: the header line, then one line per
// record (20 fields, no shape), replacing any old file only when complete.
// Throws CppSQLite3Exception (code 1000) naming the file on any write failure.
void OutputAlignedAnnotatedGroupedChromatographPeaklist2CSVFile(
    const std::vector<Chromatogram_Peak_Group_Compound_Align>& peaklist_aligned, std::string Path,
    std::string FileName, const Row_Progress& progress = {});

#endif  // VARNEL_STORAGE_ALIGNED_WRITERS_H_
