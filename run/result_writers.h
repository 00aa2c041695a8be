// The files an alignment run writes, as one list: a new output is one entry.
#ifndef VARNEL_RUN_RESULT_WRITERS_H_
#define VARNEL_RUN_RESULT_WRITERS_H_

#include <functional>
#include <string>
#include <vector>

#include "align/member_choice.h"
#include "align/rt_correction.h"
#include "model/peak.h"
#include "run/run_stages.h"
#include "storage/aligned_writers.h"
#include "storage/run_record.h"

inline constexpr const char* kAlignedCsvName =
    "aligned_annotated_grouped_chromatograph_peaklist.csv";
inline constexpr const char* kAlignedDbName =
    "aligned_annotated_grouped_chromatograph_peaklist.aligndb";

// One result file: its fixed name in the result folder, the stage it is
// written in, and the writer. A writer takes `count` rows from its own row
// source and leaves its complete file pending under a temporary name (see
// storage/aligned_writers.h); the run replaces the old files only when every
// writer has finished, so a failure or a stop before that leaves all of them
// as they were. Writers run at the same time, each on one thread; `progress`
// is called on the writer's thread; `extra_tables` go into a database.
struct Result_Writer {
  const char* file_name;
  Run_Stage stage;
  std::function<Pending_Result_File(std::size_t count, const Aligned_Row_Source& rows,
                                    const std::string& result_folder, const char* file_name,
                                    const Row_Progress& progress, const Extra_Tables& extra_tables)>
      write;
};

// The run's outputs in the order they are written: the CSV file, then the
// aligned database.
const std::vector<Result_Writer>& Result_Writers();

// The drift correction's tables beside Align_Peaklist (storage/side_tables.h):
// each corrected sample's curve (Align_RT_Correction) and the anchor points
// its last fit used (Align_RT_Anchor), samples ascending, and, when any, the
// samples whose gross shift was not applied (Align_RT_Gross_Shift). For an extra-tables
// callback; throws CppSQLite3Exception.
void Write_Rt_Correction_Tables(CppSQLite3DB& db, const Rt_Correction& correction);

// What a result stores of a member choice (table Align_Member_Choice and the
// run record's items).
Member_Choice_Record Member_Choice_Record_Of(Member_Pick pick, const Pick_Spreads& spreads,
                                             bool join_splits, std::uint32_t joins);

#endif  // VARNEL_RUN_RESULT_WRITERS_H_
