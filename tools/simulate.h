// The study simulator: writes annotated peak-list databases that look like
// real LC-MS studies, with a ground truth of which compound each peak is.
//
// The model, per study: a catalogue of compounds (neutral mass 100-1200 Da,
// retention time 30-1500 s, log-normal abundance, 1-4 ions: [M+H]+ and a few
// of [M+Na]+, [M+NH4]+, [M+K]+, [M+H-H2O]+ and the 13C isotope of [M+H]+).
// Per sample: each compound present with probability `presence`; its mass off
// by a few ppm, its retention time moved by a smooth drift of a few seconds
// plus a small jitter; its ions share its Group_ID and Compound_ID (numbered
// per sample) and carry their own Apex_MZ and Adduct_Annotation. About
// `unannotated_fraction` of a sample's peaks are unannotated (Compound_ID 0,
// true compound 0). Peaks are Gaussian, 15-60 points (their middle
// `shape_points` when that is set).
//
// Deterministic: the same options give byte-identical files on every platform
// with IEEE doubles (mt19937_64 and hand-written distributions).
#ifndef VARNEL_TOOLS_SIMULATE_H_
#define VARNEL_TOOLS_SIMULATE_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "model/peak.h"
#include "storage/annotated_writer.h"  // Write_Annotated_Database, used with the simulator
#include "tools/simulate_signal.h"

inline constexpr const char* kGroundTruthName = "ground_truth.csv";

struct Simulation_Options {
  std::uint32_t samples = 12;
  std::uint32_t compounds = 300;
  std::uint64_t seed = 1;
  // When non-zero, overrides `compounds` so that a sample holds about this
  // many peaks on average.
  std::uint32_t peaks_per_sample = 0;
  double presence = 0.85;              // probability that a compound is in a sample
  double unannotated_fraction = 0.20;  // share of a sample's peaks with Compound_ID 0
  double drift_seconds = 3.0;          // typical size of a sample's retention-time drift
  double mass_noise_ppm = 3.0;         // standard deviation of the mass error
  double rt_jitter_seconds = 0.5;      // standard deviation of a compound's own RT error
  // When 0 or more, replaces the drift above by a smooth curve per sample (a
  // random linear term plus three slow sines) scaled so that the largest
  // |drift| over 30-1500 s is this many seconds for the most drifting sample
  // and a random 25-100 % of it for the others. Drawn from a generator of its
  // own: the other values of the study stay those of the same seed.
  double max_drift_seconds = -1.0;
  // When above 0, a local bend on top of the drift: a raised-cosine bump
  // over a stretch of a sixth of the gradient, centred at a place drawn for
  // the study and moved a little per sample, whose height is this many
  // seconds times a per-sample factor (sign and size drawn, -1 to 1, one
  // sample at the full size). Compounds keep their order of elution while
  // the size stays under a sixth of the gradient / pi (78 s here).
  double rt_bend_seconds = 0.0;
  // When above 0, sample i (0-based, input order) is shifted by i times this
  // many seconds over the whole gradient: a drift that accumulates from run
  // to run. Both are drawn from a generator of their own: with both 0 the
  // study is that of the same options without them, byte for byte.
  double rt_trend_seconds = 0.0;
  // A case/control study: the first half of the samples are controls, the
  // rest cases. Half of the compounds change by a fold of 10-100x (up or
  // down, log-uniform) in the cases, and a tenth of them have an isomer of
  // the same mass eluting 2-15 s away that only the cases hold, the compound
  // itself then only the controls. Drawn from a generator of its own; the
  // isomers are catalogue compounds after the others.
  bool case_control = false;
  // A dilution series: sample i's abundances are divided by
  // 100^(i / (samples - 1)), so the last sample is 100x weaker than the first.
  bool dilution = false;
  // Runs of another kind among the study's (a blank, a standard mix, a run of
  // another matrix): foreign_runs runs spread evenly in input order hold each
  // catalogue compound only with probability presence x foreign_share and,
  // beside those, compounds of their own: same-mass isomers of catalogue
  // compounds at times of their own, held by the foreign runs only. Drawn
  // from a generator of its own; the other runs stay those of the same
  // options without them, byte for byte.
  std::uint32_t foreign_runs = 0;
  double foreign_share = 0.05;
  // When above 0, each peak's stored shape holds at most this many points:
  // the middle ones of its full Gaussian, the apex among them. The peak keeps
  // its width, boundaries, apex, area and every other value, and the
  // generator draws the same numbers, so the study is that of the same
  // options with full shapes but for the shapes' lengths (a cohort's inputs
  // then take a fraction of the disk).
  std::uint32_t shape_points = 0;
  // Write kStudyTruthName with the figures of Simulation_Truth.
  bool write_truth_figures = false;
  // When enabled, a run in batches with pooled QCs: each annotated
  // compound's Compound_Intensity is that of tools/simulate_signal.h (its
  // peaks' shapes stay as they are), compounds below the detection limit are
  // left out of the sample, and its truth files are written beside the rest.
  Signal_Simulation signal;
};

inline constexpr const char* kStudyTruthName = "study_truth.csv";

// The spreads the study was made with, measured on its annotated compounds:
// pooled standard deviations of a compound's value in a sample around the
// compound's mean over the samples that hold it.
struct Simulation_Truth {
  double mass_sd_ppm = 0.0;               // Compound_MolecularMass, ppm of the mass
  double mass_sd_da = 0.0;                // the same in Da
  double rt_sd_seconds = 0.0;             // Compound_Retention_Time as simulated
  double rt_sd_drift_free_seconds = 0.0;  // the same with each sample's drift taken off
};

struct Simulation_Result {
  std::vector<std::string> database_names;  // bare file names inside the output folder, in order
  std::vector<std::string> sample_names;    // sample i of database_names[i]
  std::string ground_truth_path;
  std::size_t peaks = 0;        // peaks written in all databases
  std::uint32_t compounds = 0;  // compounds in the catalogue
  Simulation_Truth truth;
};

// Number of compounds whose study gives about `peaks_per_sample` peaks per
// sample under `options` (presence, ions per compound, unannotated share).
std::uint32_t Compounds_For_Peaks_Per_Sample(const Simulation_Options& options,
                                             std::uint32_t peaks_per_sample);

// Writes options.samples databases "sample_NNN_annotated_grouped_chromatograph_peaklist.db"
// and kGroundTruthName (header "sample,EIC_ID,Peak_ID,true_compound") into
// out_dir, created when missing; existing files of those names are replaced.
// With write_truth_figures, also kStudyTruthName ("name,value" lines:
// mass_sd_ppm, mass_sd_da, rt_sd_seconds, rt_sd_drift_free_seconds).
// on_sample(i, peaks) is called after sample i (0-based) is written.
// Throws std::runtime_error naming the file on any failure.
Simulation_Result Simulate_Study(
    const Simulation_Options& options, const std::string& out_dir,
    const std::function<void(std::size_t sample, std::size_t peaks)>& on_sample = {});

#endif  // VARNEL_TOOLS_SIMULATE_H_
