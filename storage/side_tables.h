// The tables a result may hold beside Align_Peaklist, and the only place that
// names them in SQL:
//
//   Align_RT_Correction (SAMPLE_ID INTEGER, RT REAL, Shift REAL)
//     the drift correction, when the run corrected retention times: per
//     corrected sample its curve, one row per grid point, ascending RT;
//     corrected = RT + Shift(RT), linear between points, flat beyond the ends.
//   Align_RT_Anchor (SAMPLE_ID INTEGER, RT REAL, Shift REAL)
//     written with Align_RT_Correction: per corrected sample the anchor points
//     its curve was fitted to, ascending RT: the sample's anchor member's
//     retention time as read and the shift that anchor asked for (the
//     anchor's reference time - RT), seconds.
//   Align_RT_Gross_Shift (SAMPLE_ID INTEGER PRIMARY KEY)
//     written with Align_RT_Correction, and only when a sample's gross shift
//     was not applied (the reference's matches did not single one out): one
//     row per such sample, ascending.
//   Align_Run (Item TEXT PRIMARY KEY, Value TEXT) and
//   Align_Run_Input (SAMPLE_ID INTEGER PRIMARY KEY, SAMPLE_NAME TEXT,
//                    Folder TEXT, File_Name TEXT, Size INTEGER,
//                    XXH3_128 TEXT, Peaks_Read INTEGER)
//     the run record (storage/run_record.h), when the run was asked to keep it.
//   Align_Member_Choice (Item TEXT PRIMARY KEY, Value TEXT)
//     how the groups kept their members, when the run went beyond the
//     closest-in-time rule: the items of Member_Choice_Items.
//
// The writers run no transaction of their own (they are meant for the result
// writer's) and throw CppSQLite3Exception, a table that exists already
// included. The readers take an open connection and return nullopt when the
// table is absent.
#ifndef VARNEL_STORAGE_SIDE_TABLES_H_
#define VARNEL_STORAGE_SIDE_TABLES_H_

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "storage/run_record.h"

class CppSQLite3DB;

// One grid point of a sample's drift-correction curve, seconds.
struct Rt_Shift_Point {
  std::int64_t sample = 0;  // SAMPLE_ID
  double rt = 0.0;
  double shift = 0.0;
};

// Creates Align_RT_Correction and stores points in their order.
void Write_Rt_Correction(CppSQLite3DB& db, const std::vector<Rt_Shift_Point>& points);
// Every row ordered by (SAMPLE_ID, RT); a NULL real reads as NaN.
std::optional<std::vector<Rt_Shift_Point>> Read_Rt_Correction(CppSQLite3DB& db);

// Creates Align_RT_Anchor and stores points in their order.
void Write_Rt_Anchors(CppSQLite3DB& db, const std::vector<Rt_Shift_Point>& points);
// Every row ordered by (SAMPLE_ID, RT), nullopt without the table; a NULL
// real reads as NaN. Throws std::runtime_error "<path>: cannot read the
// correction's anchors (Align_RT_Anchor): ..." for a table SQLite cannot read
// as the three columns and for a value that is not a number.
std::optional<std::vector<Rt_Shift_Point>> Read_Rt_Anchors(CppSQLite3DB& db,
                                                           const std::string& path);

// Creates Align_RT_Gross_Shift and stores samples in their order.
void Write_Gross_Shift_Not_Applied(CppSQLite3DB& db, const std::vector<std::int64_t>& samples);
// The SAMPLE_IDs ascending, nullopt without the table. Throws
// std::runtime_error "<path>: cannot read the samples whose gross shift was not
// applied (Align_RT_Gross_Shift): ..." for a table SQLite cannot read and for a
// SAMPLE_ID that is not an integer.
std::optional<std::vector<std::int64_t>> Read_Gross_Shift_Not_Applied(CppSQLite3DB& db,
                                                                      const std::string& path);

// Creates Align_Run and Align_Run_Input and fills them from record.
// REQUIRES: the sample ids of record.inputs are distinct.
void Write_Run_Record(CppSQLite3DB& db, const Run_Record& record);

// The record, nullopt without table Align_Run. Items it does not know are
// skipped; a missing item keeps its default. Throws std::runtime_error
// "<path>: ..." for a value that is not a number where one is needed, for
// Align_Run without Align_Run_Input, and for a table SQLite cannot read
// ("<path>: cannot read the run record: <detail>").
std::optional<Run_Record> Read_Run_Record(CppSQLite3DB& db, const std::string& path);

// Creates Align_Member_Choice and fills it from choice.
void Write_Member_Choice(CppSQLite3DB& db, const Member_Choice_Record& choice);
// The stored choice, nullopt without the table. Throws std::runtime_error
// "<path>: ..." for a value that is not a number where one is needed and for
// a table SQLite cannot read.
std::optional<Member_Choice_Record> Read_Member_Choice(CppSQLite3DB& db, const std::string& path);

// The run record as stored, for showing it as it is: Align_Run's items in
// stored order, Align_Run_Input's column names and rows (each value as SQLite
// gives it in text, NULL as "") in SAMPLE_ID order. Each table is read when
// present. Throws CppSQLite3Exception.
struct Run_Record_Text {
  bool has_items = false;  // Align_Run exists
  std::vector<std::pair<std::string, std::string>> items;
  bool has_inputs = false;  // Align_Run_Input exists
  std::vector<std::string> input_columns;
  std::vector<std::vector<std::string>> inputs;
};
Run_Record_Text Read_Run_Record_Text(CppSQLite3DB& db);

#endif  // VARNEL_STORAGE_SIDE_TABLES_H_
