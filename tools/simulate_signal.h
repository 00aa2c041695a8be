// The intensity model of a simulated study measured in batches with pooled
// QCs, so that the QC-based correction of the exports can be measured
// against a known truth.
//
// Injections run in order, batch after batch, each batch `samples / batches`
// injections (the first batches one more when it does not divide); in a
// batch every `qc_every`-th injection from the first is a pooled QC, the
// others study samples. Study samples are subjects measured twice
// (replicates, placed at random in the run), each subject in one of
// `groups` study groups; a third of the compounds differ between groups.
//   true value   exp(compound level + group effect + subject's own 0.3 N(0,1))
//                times the subject's dilution exp(0.2 N(0,1)); a QC's is the
//                mean of the subjects' (the pool as mixed)
//   measured     true value x exp(drift + batch jump) x exp(noise N(0,1))
// with, per compound and batch, a smooth drift over the batch (a slope and a
// slow wave, at most about log(1 + intensity_drift/100) in size) and a jump
// between batches (a shared part and the compound's own, both of size about
// log(1 + batch_effect/100)). Values below the detection limit are missing.
// unbalanced: the groups are spread unevenly over the run (one group mostly
// early), so that a batch effect looks like a group effect.
//
// Each draw is made from its own seeded hash (study seed, what, sample,
// compound): the study's other values are those of the same seed without it.
#ifndef VARNEL_TOOLS_SIMULATE_SIGNAL_H_
#define VARNEL_TOOLS_SIMULATE_SIGNAL_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

inline constexpr const char* kSignalSheetName = "sample_sheet.csv";
inline constexpr const char* kSignalSamplesName = "signal_samples.csv";
inline constexpr const char* kSignalTruthName = "signal_truth.csv";
inline constexpr const char* kSignalCompoundsName = "signal_compounds.csv";
inline constexpr const char* kSignalModelName = "signal_model.csv";

struct Signal_Simulation {
  std::uint32_t batches = 0;  // 0: no batch design (the plain simulator)
  std::uint32_t qc_every = 5;
  double intensity_drift_pct = 0.0;
  double batch_effect_pct = 0.0;
  double noise_pct = 10.0;  // measurement noise: standard deviation of its log, percent
  std::uint32_t groups = 2;
  bool unbalanced = false;
  double detection_limit = 3000.0;  // Compound_Intensity below it is missing
  bool Enabled() const { return batches > 0; }
};

struct Signal_Injection {
  bool qc = false;
  std::uint32_t batch = 0;    // 0-based
  std::uint32_t order = 0;    // 1-based, global
  std::uint32_t subject = 0;  // study samples: 1-based; QCs 0
  std::uint32_t group = 0;    // study samples: 0-based
  double dilution = 1.0;
};

class Signal_Study {
 public:
  // REQUIRES: settings.Enabled(), samples >= 1.
  Signal_Study(const Signal_Simulation& settings, std::uint64_t seed, std::uint32_t samples,
               std::vector<double> log_levels);

  // The measured Compound_Intensity of compound c (0-based) in injection i;
  // false when it falls below the detection limit (the compound is then not
  // in the sample).
  bool Measure(std::uint32_t i, std::uint32_t c, double& intensity) const;
  // The true value of compound c in injection i (as injected, dilution
  // included).
  double True_Value(std::uint32_t i, std::uint32_t c) const;

  const std::vector<Signal_Injection>& injections() const { return injections_; }

  // Writes kSignalSheetName (named columns Batch, Sample, Injection_Order,
  // Class, in shuffled rows), kSignalSamplesName, kSignalTruthName
  // ("sample,compound,true_value", every sample and compound),
  // kSignalCompoundsName ("compound,mass,rt") and kSignalModelName
  // ("name,value") into out_dir. Throws std::runtime_error naming the file.
  void Write_Truth(const std::string& out_dir, const std::vector<std::string>& sample_names,
                   const std::vector<double>& masses, const std::vector<double>& rts) const;

 private:
  double Subject_Log(std::uint32_t subject, std::uint32_t c) const;
  double Pool_Value(std::uint32_t c) const;

  Signal_Simulation settings_;
  std::uint64_t seed_;
  std::vector<double> log_levels_;
  std::vector<Signal_Injection> injections_;
  std::vector<std::uint32_t> batch_start_, batch_size_;
  std::uint32_t subjects_ = 0;
  std::vector<std::uint32_t> subject_group_;
  std::vector<double> subject_dilution_;
  mutable std::vector<double> pool_;  // per compound, filled on first use
};

#endif  // VARNEL_TOOLS_SIMULATE_SIGNAL_H_
