// The record of an alignment run kept inside its .aligndb: the parameters, the
// counts and every input file with its size and content hash, in the tables
// Align_Run and Align_Run_Input (storage/side_tables.h writes and reads them).
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

inline constexpr const char* kRunProgramName = "Varnel";

// One input database of the run.
struct Run_Input {
  std::uint32_t sample_id = 0;
  std::string sample_name;
  std::string folder;     // as the run was given it (no trailing separator)
  std::string file_name;  // bare name inside folder
  std::uint64_t size = 0;
  std::string xxh3_128;  // XXH3-128 of its bytes, 32 lowercase hex digits
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

// Shortest decimal text that reads back to the same double ("0.1", "20",
// "1e-05"): the form of the record's numbers.
std::string Run_Number_Text(double value);

// The record as text for people: the parameters, the counts, then one block
// per input. Lines end with "\n".
std::string Format_Run_Record(const Run_Record& record);

#endif  // VARNEL_STORAGE_RUN_RECORD_H_
