// Reader of one annotated peak-list database (table Annotate_Peaklist).
#ifndef VARNEL_STORAGE_ANNOTATED_READER_H_
#define VARNEL_STORAGE_ANNOTATED_READER_H_

#include <string>
#include <vector>

#include "model/peak.h"

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

#endif  // VARNEL_STORAGE_ANNOTATED_READER_H_
