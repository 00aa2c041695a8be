// The record of an alignment run kept inside its .aligndb: the parameters, the
// counts and every input file with its size and content hash, in the tables
// Align_Run and Align_Run_Input (storage/side_tables.h writes and reads them).
//
// Align_Run holds the items "program", "version", "mode", "mass_tol" (Da) or
// "mass_tol_ppm", "fast_window", "deep_window" (seconds), "rt_correction"
// ("on"/"off"), "samples", "peaks", "groups", "unaligned", written in that
// order; then, only for a run that chose its members beyond the closest-in-time
// rule, the items of its Member_Choice_Record (Member_Choice_Items). Numbers are the shortest
// decimal text that reads back to the same double. Nothing depends on the clock or on temporary
// paths, so equal records give byte-identical tables.
#ifndef VARNEL_STORAGE_RUN_RECORD_H_
#define VARNEL_STORAGE_RUN_RECORD_H_

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "model/mass_tolerance.h"

inline constexpr const char* kRunProgramName = "Varnel";

// How a run's groups kept their members when it went beyond the
// closest-in-time rule: the rule, the spreads the scored choice weighed its
// candidates with (NaN: none found) and the split groups joined.
struct Member_Choice_Record {
  std::string pick = "closest";  // "closest" or "scored"
  bool join_splits = false;
  double spread_rt = std::numeric_limits<double>::quiet_NaN();    // seconds
  double spread_mass = std::numeric_limits<double>::quiet_NaN();  // Da, or ppm
  bool spread_mass_ppm = false;
  double spread_log_intensity = std::numeric_limits<double>::quiet_NaN();
  std::uint64_t spread_groups = 0;  // groups the spreads came from
  std::uint64_t joins = 0;

  // Equal when every field is, NaN spreads equal to NaN.
  friend bool operator==(const Member_Choice_Record& a, const Member_Choice_Record& b);
};

// The record as (item, value) pairs, in the order they are stored: "pick",
// "join_splits" ("on"/"off"), "spread_rt", "spread_mass" or "spread_mass_ppm",
// "spread_log_intensity", "spread_groups", "joins".
std::vector<std::pair<std::string, std::string>> Member_Choice_Items(
    const Member_Choice_Record& choice);

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
  std::vector<Run_Input> inputs;                      // in SAMPLE_ID order
  std::optional<Member_Choice_Record> member_choice;  // none: closest in time, no joining

  friend bool operator==(const Run_Record&, const Run_Record&) = default;
};

// Shortest decimal text that reads back to the same double ("0.1", "20",
// "1e-05"): the form of the record's numbers.
std::string Run_Number_Text(double value);

// The record as text for people: the parameters, the counts, then one block
// per input. Lines end with "\n".
std::string Format_Run_Record(const Run_Record& record);

#endif  // VARNEL_STORAGE_RUN_RECORD_H_
