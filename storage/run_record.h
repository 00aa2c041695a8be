// The record of an alignment run kept inside its .aligndb: the parameters, the
// counts and every input file with its size and content hash, in two tables
//
//   CREATE TABLE Align_Run (Item TEXT PRIMARY KEY, Value TEXT)
//   CREATE TABLE Align_Run_Input (SAMPLE_ID INTEGER PRIMARY KEY, SAMPLE_NAME TEXT,
//                                 Folder TEXT, File_Name TEXT, Size INTEGER,
//                                 XXH3_128 TEXT, Peaks_Read INTEGER)
//
// Align_Run holds the items "program", "version", "mode", "mass_tol" (Da) or
// "mass_tol_ppm", "fast_window", "deep_window" (seconds), "rt_correction"
// ("on"/"off"), "samples", "peaks", "groups", "unaligned", written in that
// order. Numbers are the shortest decimal text that reads back to the same
// double. Nothing depends on the clock or on temporary paths, so equal
// records give byte-identical tables.
#ifndef VARNEL_STORAGE_RUN_RECORD_H_
#define VARNEL_STORAGE_RUN_RECORD_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "model/mass_tolerance.h"

class CppSQLite3DB;

inline constexpr const char* kRunProgramName = "Varnel";

// One input database of the run.
struct Run_Input {
  std::uint32_t sample_id = 0;
  std::string sample_name;
  std::string folder;     // as the run was given it (no trailing separator)
  std::string file_name;  // bare name inside folder
  std::uint64_t size = 0;
  std::string xxh3_128;  // Hash_File_XXH3_128 of the file
  std::uint64_t peaks_read = 0;

  friend bool operator==(const Run_Input&, const Run_Input&) = default;
};

struct Run_Record {
  std::string program = kRunProgramName;
  std::string version;  // the CMake project version of the program that ran
  std::string mode;     // "Fast_Align" or "Deep_Align"
  Mass_Tolerance mass_tol{Mass_Tolerance::Unit::kDa, 0.0};
  double fast_window = 0.0;  // seconds
  double deep_window = 0.0;  // seconds
  bool rt_correction = false;
  std::uint64_t samples = 0;
  std::uint64_t peaks = 0;
  std::uint64_t groups = 0;
  std::uint64_t unaligned = 0;
  std::vector<Run_Input> inputs;  // in SAMPLE_ID order

  friend bool operator==(const Run_Record&, const Run_Record&) = default;
};

// Size and hash of the file Join_Path(folder, file_name), with the rest of an
// input's fields. Throws std::runtime_error naming the file when it cannot be read.
Run_Input Describe_Run_Input(std::uint32_t sample_id, std::string sample_name, std::string folder,
                             std::string file_name, std::uint64_t peaks_read);

// Creates Align_Run and Align_Run_Input in db and fills them from record.
// Runs no transaction of its own: meant for the database writer's transaction.
// REQUIRES: the sample ids of record.inputs are distinct. Throws
// CppSQLite3Exception (tables that exist already included).
void Write_Run_Record(CppSQLite3DB& db, const Run_Record& record);

// The record of the result at path, opened read-only; nullopt when it holds no
// Align_Run table (a result written without a record). Items it does not know
// are skipped; a missing item keeps its default. Throws std::runtime_error
// naming the file for an unreadable file, a value that is not a number where
// one is needed, or Align_Run without Align_Run_Input.
std::optional<Run_Record> Read_Run_Record(const std::string& path);

// The record as text for people: the parameters, the counts, then one block
// per input. Lines end with "\n".
std::string Format_Run_Record(const Run_Record& record);

#endif  // VARNEL_STORAGE_RUN_RECORD_H_
