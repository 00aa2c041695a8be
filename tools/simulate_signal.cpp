#include "tools/simulate_signal.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <numbers>
#include <numeric>
#include <stdexcept>

#include "storage/path.h"

namespace {

std::uint64_t Mix(std::uint64_t x) {
  x += 0x9e3779b97f4a7c15ULL;
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
  return x ^ (x >> 31);
}

// What a draw is for: each kind of draw has a stream of its own.
enum Draw : std::uint64_t {
  kSubjectDraw = 1,
  kGroupEffectDraw,
  kDilutionDraw,
  kDriftDraw,
  kJumpDraw,
  kCommonJumpDraw,
  kNoiseDraw,
  kPlacementDraw,
  kSheetDraw,
};

// A uniform in [0, 1) from the draw's hash of (seed, what, a, b, k).
double Uniform(std::uint64_t seed, Draw what, std::uint64_t a, std::uint64_t b,
               std::uint64_t k = 0) {
  const std::uint64_t h = Mix(Mix(Mix(Mix(seed ^ 0x5167a1ULL) ^ what) ^ a) ^ (b * 8 + k));
  return static_cast<double>(h >> 11) * 0x1.0p-53;
}

double Normal(std::uint64_t seed, Draw what, std::uint64_t a, std::uint64_t b) {
  const double u1 = 1.0 - Uniform(seed, what, a, b, 0);  // (0, 1]
  const double u2 = Uniform(seed, what, a, b, 1);
  return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * std::numbers::pi * u2);
}

constexpr double kSubjectSpread = 0.3;   // log sd of a subject's own level
constexpr double kDilutionSpread = 0.2;  // log sd of a subject's dilution
constexpr double kGroupEffect = 0.5;     // log sd of a group's effect, where there is one

[[noreturn]] void Fail(const std::string& path, const std::string& what) {
  throw std::runtime_error(path + ": " + what);
}

}  // namespace

Signal_Study::Signal_Study(const Signal_Simulation& settings, std::uint64_t seed,
                           std::uint32_t samples, std::vector<double> log_levels)
    : settings_(settings), seed_(seed), log_levels_(std::move(log_levels)) {
  const std::uint32_t batches = std::min(settings_.batches, samples);
  const std::uint32_t qc_every = std::max<std::uint32_t>(1, settings_.qc_every);
  std::vector<std::uint32_t> study_slots;
  for (std::uint32_t b = 0, order = 0; b < batches; ++b) {
    const std::uint32_t size = samples / batches + (b < samples % batches ? 1 : 0);
    batch_start_.push_back(order);
    batch_size_.push_back(size);
    for (std::uint32_t p = 0; p < size; ++p, ++order) {
      Signal_Injection in;
      in.batch = b;
      in.order = order + 1;
      in.qc = p % qc_every == 0;
      if (!in.qc) study_slots.push_back(order);
      injections_.push_back(in);
    }
  }
  const std::uint32_t groups = std::max<std::uint32_t>(1, settings_.groups);
  subjects_ = static_cast<std::uint32_t>((study_slots.size() + 1) / 2);
  for (std::uint32_t k = 0; k < subjects_; ++k) {
    subject_group_.push_back(k % groups);
    subject_dilution_.push_back(std::exp(kDilutionSpread * Normal(seed_, kDilutionDraw, k, 0)));
  }
  // Two injections per subject, placed at random; unbalanced, the groups are
  // run one after the other, loosely.
  std::vector<std::pair<double, std::uint32_t>> tokens;  // (key, subject)
  for (std::uint32_t t = 0; t < study_slots.size(); ++t) {
    const std::uint32_t k = t / 2;
    const double noise = settings_.unbalanced ? 0.8 * Normal(seed_, kPlacementDraw, t, 0)
                                              : Uniform(seed_, kPlacementDraw, t, 0);
    tokens.emplace_back(settings_.unbalanced ? subject_group_[k] + noise : noise, k);
  }
  std::sort(tokens.begin(), tokens.end());
  for (std::size_t t = 0; t < study_slots.size(); ++t) {
    Signal_Injection& in = injections_[study_slots[t]];
    in.subject = tokens[t].second + 1;
    in.group = subject_group_[tokens[t].second];
    in.dilution = subject_dilution_[tokens[t].second];
  }
  pool_.assign(log_levels_.size(), 0.0);
  for (std::uint32_t c = 0; c < log_levels_.size(); ++c) {
    double sum = 0;
    for (std::uint32_t k = 0; k < subjects_; ++k) {
      sum += std::exp(Subject_Log(k, c)) * subject_dilution_[k];
    }
    pool_[c] = subjects_ ? sum / subjects_ : std::exp(log_levels_[c]);
  }
}

double Signal_Study::Subject_Log(std::uint32_t subject, std::uint32_t c) const {
  double log = log_levels_[c] + kSubjectSpread * Normal(seed_, kSubjectDraw, subject, c);
  const std::uint32_t g = subject_group_[subject];
  if (g > 0 && Uniform(seed_, kGroupEffectDraw, c, 0) < 1.0 / 3) {
    log += kGroupEffect * Normal(seed_, kGroupEffectDraw, c, g);
  }
  return log;
}

double Signal_Study::True_Value(std::uint32_t i, std::uint32_t c) const {
  const Signal_Injection& in = injections_[i];
  if (in.qc) return pool_[c];
  return std::exp(Subject_Log(in.subject - 1, c)) * in.dilution;
}

bool Signal_Study::Measure(std::uint32_t i, std::uint32_t c, double& intensity) const {
  const Signal_Injection& in = injections_[i];
  const std::uint32_t b = in.batch;
  const double size = std::max<double>(1.0, batch_size_[b] - 1.0);
  const double t = (in.order - 1 - batch_start_[b]) / size;  // 0 to 1 over the batch
  const double drift_size = std::log1p(settings_.intensity_drift_pct / 100.0);
  const std::uint64_t cell = static_cast<std::uint64_t>(c) * 4096 + b;
  const double strength = 0.5 + 0.5 * Uniform(seed_, kDriftDraw, cell, 0);
  const double slope = -1.0 + 1.3 * Uniform(seed_, kDriftDraw, cell, 1);  // mostly a loss
  const double wave = 0.5 + 0.5 * Uniform(seed_, kDriftDraw, cell, 2);
  const double phase = Uniform(seed_, kDriftDraw, cell, 3);
  const double drift =
      drift_size * strength *
      (0.6 * slope * (2 * t - 1) + 0.4 * std::sin(2 * std::numbers::pi * (t * wave + phase)));
  const double jump_size = std::log1p(settings_.batch_effect_pct / 100.0);
  const double jump =
      jump_size * (Normal(seed_, kCommonJumpDraw, b, 0) + 0.5 * Normal(seed_, kJumpDraw, cell, 0));
  const double noise = settings_.noise_pct / 100.0 * Normal(seed_, kNoiseDraw, i, c);
  intensity = True_Value(i, c) * std::exp(drift + jump + noise);
  return intensity >= settings_.detection_limit;
}

void Signal_Study::Write_Truth(const std::string& out_dir,
                               const std::vector<std::string>& sample_names,
                               const std::vector<double>& masses,
                               const std::vector<double>& rts) const {
  auto open = [&](const char* name, std::ofstream& out) {
    const std::string path = Join_Path(out_dir, name);
    out.open(path, std::ios::binary | std::ios::trunc);
    if (!out) Fail(path, "cannot open for writing");
    out.precision(17);
    return path;
  };
  auto close = [](std::ofstream& out, const std::string& path) {
    out.close();
    if (!out) Fail(path, "write failed");
  };
  std::ofstream out;
  // The sheet: named columns in an order of their own, rows shuffled.
  std::string path = open(kSignalSheetName, out);
  std::vector<std::pair<double, std::uint32_t>> rows;
  for (std::uint32_t i = 0; i < injections_.size(); ++i) {
    rows.emplace_back(Uniform(seed_, kSheetDraw, i, 0), i);
  }
  std::sort(rows.begin(), rows.end());
  out << "Batch,Sample,Injection_Order,Class\n";
  for (const auto& [key, i] : rows) {
    const Signal_Injection& in = injections_[i];
    out << "B" << in.batch + 1 << ',' << sample_names[i] << ',' << in.order << ','
        << (in.qc ? std::string("QC") : std::string(1, static_cast<char>('A' + in.group % 26)))
        << '\n';
  }
  close(out, path);
  path = open(kSignalSamplesName, out);
  out << "sample,role,batch,order,subject,group,dilution\n";
  for (std::uint32_t i = 0; i < injections_.size(); ++i) {
    const Signal_Injection& in = injections_[i];
    out << sample_names[i] << ',' << (in.qc ? "QC" : "study") << ",B" << in.batch + 1 << ','
        << in.order << ',' << in.subject << ','
        << (in.qc ? std::string("QC") : std::string(1, static_cast<char>('A' + in.group % 26)))
        << ',' << in.dilution << '\n';
  }
  close(out, path);
  path = open(kSignalTruthName, out);
  out << "sample,compound,true_value\n";
  for (std::uint32_t i = 0; i < injections_.size(); ++i) {
    for (std::uint32_t c = 0; c < log_levels_.size(); ++c) {
      out << sample_names[i] << ',' << c + 1 << ',' << True_Value(i, c) << '\n';
    }
  }
  close(out, path);
  path = open(kSignalCompoundsName, out);
  out << "compound,mass,rt\n";
  for (std::uint32_t c = 0; c < masses.size(); ++c) {
    out << c + 1 << ',' << masses[c] << ',' << rts[c] << '\n';
  }
  close(out, path);
  path = open(kSignalModelName, out);
  out << "name,value\n"
      << "batches," << settings_.batches << '\n'
      << "qc_every," << settings_.qc_every << '\n'
      << "intensity_drift_pct," << settings_.intensity_drift_pct << '\n'
      << "batch_effect_pct," << settings_.batch_effect_pct << '\n'
      << "noise_pct," << settings_.noise_pct << '\n'
      << "unbalanced," << (settings_.unbalanced ? 1 : 0) << '\n'
      << "detection_limit," << settings_.detection_limit << '\n';
  close(out, path);
}
