// The reading behind the quality figures: one pass over an aligned result's
// peaks (the columns the figures need) and its side tables, into plain rows
// the figures (ui/quality_data.h) are computed from. The load and its
// options, errors and cancellation are shared by both.
#ifndef VARNEL_UI_QUALITY_LOAD_H_
#define VARNEL_UI_QUALITY_LOAD_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "storage/run_record.h"
#include "ui/quality_stats.h"

struct Sample_Sheet;

namespace Varnel {

// Raised when a result cannot be read or holds nothing to show; what() starts
// with the file's path.
class Quality_Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Raised when the progress callback asked to stop.
class Quality_Cancelled : public Quality_Error {
 public:
  Quality_Cancelled() : Quality_Error("cancelled") {}
};

struct Quality_Options {
  // Groups and injection order per sample; each sample is looked up by its
  // name, or by "name (SAMPLE_ID)" when several samples share it.
  const ::Sample_Sheet* sheet = nullptr;
  // Called now and then with the rows read so far; false stops the load with
  // Quality_Cancelled. May be called on any thread the load runs on.
  std::function<bool(std::size_t rows)> progress;
  // varnel-report: groups drawn against injection order with the QC
  // correction's fits, beside the worst ones, by Align_ID.
  std::vector<std::uint32_t> signal_features;
};

// A stored retention-time correction of one sample: points sorted by RT.
// Shift(rt) reads the curve as every corrected time is read
// (model/interpolate.h): linear between points, constant beyond the first
// and the last point; with no point it is 0.
struct Rt_Correction {
  std::vector<double> rt;
  std::vector<double> shift;
  double Shift(double at) const;
};

// A sample as read: its rows, and those with Align_ID other than 0.
struct Quality_Sample_Rows {
  std::int64_t sample_id = 0;
  std::string name;  // SAMPLE_NAME of its first row
  std::size_t peaks_read = 0;
  std::size_t peaks_aligned = 0;
};

// One row of an aligned peak (Align_ID other than 0), a member candidate.
struct Quality_Member_Row {
  std::uint32_t align_id;
  std::uint32_t sample;  // index into Quality_Rows::samples
  std::int64_t compound_id;
  double mass;       // Compound_MolecularMass
  double rt;         // Compound_Retention_Time
  double intensity;  // Compound_Intensity
  double centre;     // Align_RT
  double mz;         // Apex_MZ
};

struct Quality_Rows {
  std::vector<Quality_Sample_Rows> samples;  // ascending SAMPLE_ID
  std::vector<Quality_Member_Row> rows;      // in the result's order
  std::size_t peaks = 0;                     // rows read
  std::size_t unaligned = 0;                 // rows with Align_ID 0
  // Align_RT_Correction per SAMPLE_ID, points with a finite RT and Shift;
  // empty without the table.
  std::map<std::int64_t, Rt_Correction> corrections;
  // Align_RT_Anchor per SAMPLE_ID (x the RT, y the Shift, finite, ascending
  // x), and whether the table is there.
  bool has_anchors = false;
  std::map<std::int64_t, std::vector<Curve_Point>> anchors;
  // Align_Run as items in stored order; Align_Run_Input as a header row and
  // data rows, when present.
  bool has_run = false;
  std::vector<std::pair<std::string, std::string>> run_items;
  std::vector<std::vector<std::string>> run_inputs;
  std::optional<Member_Choice_Record> member_choice;
  // Align_RT_Gross_Shift: SAMPLE_IDs ascending, empty without the table.
  std::vector<std::int64_t> gross_shift_not_applied;
};

// Reads the result at `path` read-only, once. Throws Quality_Error starting
// with the path when the file is missing, is no SQLite database, lacks
// Align_Peaklist or one of its columns, holds no row or a malformed
// Align_RT_Anchor; Quality_Cancelled when options.progress says stop.
Quality_Rows Read_Quality_Rows(const std::string& path, const Quality_Options& options);

}  // namespace Varnel

#endif  // VARNEL_UI_QUALITY_LOAD_H_
