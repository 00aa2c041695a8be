// Scoring exported intensities against a simulated study's truth
// (tools/simulate_signal.h): how close a feature table's values, corrected or
// not, come to the true values.
//
// A feature (a table row) is the compound of the study whose neutral mass is
// within kMatchPpm of its Mass and whose retention time within kMatchSeconds
// of its Align_RT, the nearest by (ppm / kMatchPpm)^2 + (s / kMatchSeconds)^2;
// a feature with two such compounds is left out, and of several features of
// one compound the one with the most values is kept.
//
// Relative error: a table's values are on a scale of their own (the QC level
// of the feature), so each feature's study-sample values are divided by the
// median, over them, of value / true value; the error of a value is then
// |value / true value - 1|. The noise level is the median relative error the
// measurement noise alone gives (|exp(sigma Z) - 1|, Z standard normal).
#ifndef VARNEL_TOOLS_EVALUATE_SIGNAL_H_
#define VARNEL_TOOLS_EVALUATE_SIGNAL_H_

#include <cstddef>
#include <limits>
#include <string>
#include <vector>

inline constexpr double kMatchPpm = 10.0;
inline constexpr double kMatchSeconds = 20.0;

struct Signal_Evaluation {
  static constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  std::string table;
  std::size_t features = 0;      // rows of the table
  std::size_t matched = 0;       // features scored
  std::size_t values = 0;        // study-sample values scored
  double relative_error = kNaN;  // median, fraction
  double noise_error = kNaN;     // median relative error of the noise alone, fraction
  double replicate_rsd = kNaN;   // median over features and subjects measured twice, percent
  double qc_rsd = kNaN;          // median over features of the QCs' RSD in the table, percent
  // Medians of the record beside the table (<table>.signal.tsv), when there is one.
  double held_out_before = kNaN;
  double held_out_after = kNaN;
};

// Throws std::runtime_error naming the file for a missing or malformed table,
// study truth or record.
Signal_Evaluation Evaluate_Signal(const std::string& table_path, const std::string& study_dir);

// The median of |exp(sigma Z) - 1| for Z standard normal.
double Noise_Median_Relative_Error(double sigma);

// One line per evaluation under a header.
std::string Format_Signal_Evaluations(const std::vector<Signal_Evaluation>& evaluations);

#endif  // VARNEL_TOOLS_EVALUATE_SIGNAL_H_
