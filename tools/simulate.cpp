#include "tools/simulate.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <optional>
#include <random>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "run/alignment_run.h"
#include "storage/output_folder.h"
#include "storage/path.h"

namespace {

// Chromatography and instrument constants of the simulated studies.
constexpr double kMassLow = 100.0;             // Da
constexpr double kMassHigh = 1200.0;           // Da
constexpr double kRtLow = 30.0;                // s
constexpr double kRtHigh = 1500.0;             // s
constexpr double kScanSeconds = 0.5;           // time between two scans
constexpr std::uint32_t kPointsLow = 15;       // points of the narrowest peak
constexpr std::uint32_t kPointsHigh = 60;      // points of the widest peak
constexpr double kSecondaryIonPresence = 0.9;  // chance that a non-[M+H]+ ion is seen
constexpr double kEicWidth = 0.01;             // Da: peaks closer in m/z share an EIC
constexpr double kProton = 1.007276;           // Da
constexpr double kC13Shift = 1.003355;         // Da

struct Ion_Kind {
  const char* annotation;
  double shift;  // Da added to the neutral mass
};

// The first ion is always present; the others are drawn without replacement.
constexpr Ion_Kind kIons[] = {
    {"[M+H]+", kProton},
    {"[M+Na]+", 22.989218},
    {"[M+NH4]+", 18.033823},
    {"[M+K]+", 38.963158},
    {"[M+H-H2O]+", kProton - 18.010565},
    {"[M+1+H]+", kProton + kC13Shift},
};
constexpr std::size_t kIonKinds = sizeof(kIons) / sizeof(kIons[0]);
constexpr std::size_t kIsotopeIon = kIonKinds - 1;

std::uint64_t Split_Mix(std::uint64_t x) {
  x += 0x9e3779b97f4a7c15ULL;
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
  return x ^ (x >> 31);
}

// mt19937_64 is fully specified by the standard; the distributions below are
// our own so that a seed gives the same study with every standard library.
class Random {
 public:
  explicit Random(std::uint64_t seed) : engine_(seed) {}

  double Uniform() { return static_cast<double>(engine_() >> 11) * 0x1.0p-53; }  // [0, 1)
  double Uniform(double low, double high) { return low + (high - low) * Uniform(); }
  std::uint32_t Integer(std::uint32_t low, std::uint32_t high) {  // inclusive
    const auto span = static_cast<std::uint64_t>(high - low) + 1;
    return low + static_cast<std::uint32_t>(engine_() % span);
  }
  bool Chance(double p) { return Uniform() < p; }
  double Normal() {                     // Box-Muller, one value per call
    const double u1 = 1.0 - Uniform();  // (0, 1]
    const double u2 = Uniform();
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * std::numbers::pi * u2);
  }
  double Log_Normal(double mu, double sigma) { return std::exp(mu + sigma * Normal()); }

 private:
  std::mt19937_64 engine_;
};

struct Ion {
  std::size_t kind;
  double ratio;  // apex intensity relative to the compound's [M+H]+
};

struct Compound {
  double mass;
  double rt;
  double log_abundance;
  std::uint32_t points;
  std::vector<Ion> ions;
  int only_group = -1;         // case/control: 0 controls only, 1 cases only
  double case_log_fold = 0.0;  // case/control: added to log_abundance in the cases
  bool foreign = false;        // held by the foreign runs only
};

// The foreign runs' own compounds (see Simulation_Options), appended to the
// catalogue: as many as it holds (a foreign run then holds more compounds
// than any other), each of the mass of a catalogue compound drawn at random,
// at a time of its own.
void Make_Foreign(std::vector<Compound>& catalogue, const Simulation_Options& options) {
  Random random(Split_Mix(options.seed ^ 0xf0e16eULL));
  const std::size_t count = catalogue.size();
  for (std::size_t i = 0; i < count; ++i) {
    Compound c = catalogue[random.Integer(0, static_cast<std::uint32_t>(count - 1))];
    c.rt = random.Uniform(kRtLow, kRtHigh);
    c.log_abundance = std::log(1.0e5) + 1.2 * random.Normal();
    c.only_group = -1;
    c.case_log_fold = 0.0;
    c.foreign = true;
    catalogue.push_back(std::move(c));
  }
}

// Whether run `sample` is one of the foreign runs: foreign_runs of them at
// the middles of as many equal stretches of the input order.
bool Is_Foreign_Run(const Simulation_Options& options, std::uint32_t sample) {
  const std::uint32_t n = std::min(options.foreign_runs, options.samples);
  for (std::uint32_t k = 0; k < n; ++k) {
    if (sample == (2 * k + 1) * options.samples / (2 * n)) return true;
  }
  return false;
}

// The case/control study's folds and isomers (see Simulation_Options).
void Make_Case_Control(std::vector<Compound>& catalogue, std::uint64_t seed) {
  Random random(Split_Mix(seed ^ 0xca5ec0a7ULL));
  const std::size_t count = catalogue.size();
  for (std::size_t c = 0; c < count; ++c) {
    if (random.Chance(0.5)) {
      const double fold = std::log(10.0) * random.Uniform(1.0, 2.0);
      catalogue[c].case_log_fold = random.Chance(0.5) ? fold : -fold;
    }
    if (random.Chance(0.1)) {
      Compound isomer = catalogue[c];
      const double gap = random.Uniform(2.0, 15.0);
      isomer.rt += random.Chance(0.5) ? gap : -gap;
      isomer.log_abundance += 0.5 * random.Normal();
      isomer.case_log_fold = 0.0;
      catalogue[c].only_group = 0;
      isomer.only_group = 1;
      catalogue.push_back(isomer);
    }
  }
}

std::vector<Compound> Make_Catalogue(std::uint32_t count, std::uint64_t seed) {
  Random random(Split_Mix(seed ^ 0x5eedc0ffeeULL));
  std::vector<Compound> catalogue(count);
  for (Compound& c : catalogue) {
    c.mass = random.Uniform(kMassLow, kMassHigh);
    c.rt = random.Uniform(kRtLow, kRtHigh);
    c.log_abundance = std::log(1.0e5) + 1.2 * random.Normal();
    c.points = random.Integer(kPointsLow, kPointsHigh);
    const std::uint32_t ion_count = random.Integer(1, 4);
    std::size_t order[kIonKinds - 1];
    for (std::size_t i = 0; i < kIonKinds - 1; ++i) order[i] = i + 1;
    for (std::size_t i = 0; i + 1 < kIonKinds - 1; ++i) {  // partial Fisher-Yates
      std::swap(order[i],
                order[i + random.Integer(0, static_cast<std::uint32_t>(kIonKinds - 2 - i))]);
    }
    c.ions.push_back({0, 1.0});
    for (std::uint32_t i = 1; i < ion_count; ++i) {
      const std::size_t kind = order[i - 1];
      // About 1.1 % 13C per carbon, roughly one carbon per 15 Da.
      const double ratio =
          kind == kIsotopeIon ? 0.011 * c.mass / 15.0 : random.Log_Normal(std::log(0.3), 0.5);
      c.ions.push_back({kind, ratio});
    }
  }
  return catalogue;
}

// A smooth retention-time drift of a few seconds: an offset plus a slow wave.
struct Drift {
  double offset, amplitude, period, phase;
  double At(double rt) const {
    return offset + amplitude * std::sin(2.0 * std::numbers::pi * rt / period + phase);
  }
};

// A smooth drift whose largest |value| over kRtLow-kRtHigh is `scale`
// seconds: a linear term and three slow sines with random weights.
struct Smooth_Drift {
  double linear = 0.0;
  double weight[3] = {0.0, 0.0, 0.0};
  double phase[3] = {0.0, 0.0, 0.0};
  double scale = 0.0;  // applied to the raw curve, whose largest |value| is 1
  double Raw(double rt) const {
    const double x = (rt - kRtLow) / (kRtHigh - kRtLow);
    double v = linear * (2.0 * x - 1.0);
    for (int k = 0; k < 3; ++k) {
      v += weight[k] * std::sin(std::numbers::pi * (k + 1) * x + phase[k]);
    }
    return v;
  }
  double At(double rt) const { return scale * Raw(rt); }
};

// One curve per sample, from a generator of its own; the most drifting
// sample reaches max_drift_seconds.
std::vector<Smooth_Drift> Make_Smooth_Drifts(const Simulation_Options& options) {
  Random random(Split_Mix(options.seed ^ 0xd21f7c0a5eULL));
  constexpr int kGrid = 600;
  std::vector<Smooth_Drift> drifts(options.samples);
  std::vector<double> size(options.samples);
  double top_size = 0.0;
  for (std::uint32_t s = 0; s < options.samples; ++s) {
    Smooth_Drift& d = drifts[s];
    d.linear = random.Normal();
    for (int k = 0; k < 3; ++k) {
      d.weight[k] = random.Normal() / (k + 1);
      d.phase[k] = random.Uniform(0.0, 2.0 * std::numbers::pi);
    }
    double top = 0.0;
    for (int i = 0; i <= kGrid; ++i) {
      top = std::max(top, std::fabs(d.Raw(kRtLow + (kRtHigh - kRtLow) * i / kGrid)));
    }
    d.scale = top > 0.0 ? 1.0 / top : 0.0;
    size[s] = random.Uniform(0.25, 1.0);
    top_size = std::max(top_size, size[s]);
  }
  for (std::uint32_t s = 0; s < options.samples; ++s) {
    drifts[s].scale *= options.max_drift_seconds * size[s] / top_size;
  }
  return drifts;
}

// The local bend and the accumulating trend of one sample.
struct Bend_And_Trend {
  double centre = 0.0;  // s
  double width = 0.0;   // s, the whole stretch
  double height = 0.0;  // s, signed
  double trend = 0.0;   // s, over the whole gradient
  double At(double rt) const {
    double v = trend;
    const double u = (rt - centre) / width;
    if (width > 0.0 && std::fabs(u) < 0.5) {
      v += height * 0.5 * (1.0 + std::cos(2.0 * std::numbers::pi * u));
    }
    return v;
  }
};

// One per sample, from a generator of their own; empty when the options ask
// for neither.
std::vector<Bend_And_Trend> Make_Bends_And_Trends(const Simulation_Options& options) {
  if (!(options.rt_bend_seconds > 0.0) && !(options.rt_trend_seconds > 0.0)) return {};
  Random random(Split_Mix(options.seed ^ 0xbe4d7e4dULL));
  const double range = kRtHigh - kRtLow;
  const double centre = random.Uniform(kRtLow + 0.25 * range, kRtHigh - 0.25 * range);
  std::vector<Bend_And_Trend> out(options.samples);
  const std::uint32_t full = random.Integer(0, options.samples - 1);
  for (std::uint32_t s = 0; s < options.samples; ++s) {
    Bend_And_Trend& b = out[s];
    b.trend = std::max(options.rt_trend_seconds, 0.0) * s;
    if (options.rt_bend_seconds > 0.0) {
      b.centre = centre + random.Uniform(-0.03, 0.03) * range;
      b.width = range / 6.0;
      const double size = s == full ? 1.0 : random.Uniform(-1.0, 1.0);
      b.height = options.rt_bend_seconds * size;
    }
  }
  return out;
}

// Sums for the pooled spreads of Simulation_Truth, per catalogue compound.
class Truth_Tally {
 public:
  explicit Truth_Tally(std::size_t compounds) : per_compound_(compounds) {}
  void Add(std::size_t compound, double mass, double rt, double drift_free_rt) {
    Sums& s = per_compound_[compound];
    s.n += 1;
    s.Add(0, mass);
    s.Add(1, rt);
    s.Add(2, drift_free_rt);
  }
  Simulation_Truth Figures() const {
    double ss[3] = {0.0, 0.0, 0.0};
    double ppm_ss = 0.0;
    double dof = 0.0;
    for (const Sums& s : per_compound_) {
      if (s.n < 2) continue;
      double var[3];
      for (int k = 0; k < 3; ++k) var[k] = s.sq[k] - s.sum[k] * s.sum[k] / s.n;
      for (int k = 0; k < 3; ++k) ss[k] += var[k];
      const double mean_mass = s.ref[0] + s.sum[0] / s.n;
      ppm_ss += var[0] / (mean_mass * mean_mass) * 1e12;
      dof += s.n - 1;
    }
    Simulation_Truth t;
    if (dof == 0.0) return t;
    t.mass_sd_da = std::sqrt(ss[0] / dof);
    t.mass_sd_ppm = std::sqrt(ppm_ss / dof);
    t.rt_sd_seconds = std::sqrt(ss[1] / dof);
    t.rt_sd_drift_free_seconds = std::sqrt(ss[2] / dof);
    return t;
  }

 private:
  // Sums of values taken off a reference (the first value), which keeps the
  // differences of large numbers exact enough.
  struct Sums {
    double n = 0.0;
    double ref[3] = {0.0, 0.0, 0.0};
    double sum[3] = {0.0, 0.0, 0.0};
    double sq[3] = {0.0, 0.0, 0.0};
    void Add(int k, double v) {
      if (n == 1.0) ref[k] = v;
      const double d = v - ref[k];
      sum[k] += d;
      sq[k] += d * d;
    }
  };
  std::vector<Sums> per_compound_;
};

struct Sim_Peak {
  Chromatogram_Peak_Group_Compound peak;
  std::uint32_t true_compound;  // 1-based catalogue index; 0 for unannotated peaks
  double group_rt;              // orders the groups of the sample
  std::uint32_t group_key;      // peaks of one compound share it
};

void Make_Shape(Random& random, double apex_rt, double mz, double apex_intensity,
                std::uint32_t points, double mass_noise_ppm, std::uint32_t shape_points,
                Chromatogram_Peak_Group_Compound& p) {
  const double sigma = points * kScanSeconds / 6.0;
  const auto apex_scan = static_cast<std::uint32_t>(std::lround(apex_rt / kScanSeconds));
  const std::uint32_t first = apex_scan > points / 2 ? apex_scan - points / 2 : 0;
  p.Peak_shape.clear();
  p.Peak_shape.reserve(points);
  double area = 0.0;
  double top = 0.0;
  for (std::uint32_t i = 0; i < points; ++i) {
    Data_Point d;
    d.Scan = first + i;
    d.RT = d.Scan * kScanSeconds;
    const double z = (d.RT - apex_rt) / sigma;
    d.Intensity =
        std::max(0.0, apex_intensity * std::exp(-0.5 * z * z) * (1.0 + 0.02 * random.Normal()));
    d.MZ = mz * (1.0 + 1e-6 * mass_noise_ppm * random.Normal());
    area += d.Intensity * kScanSeconds;
    top = std::max(top, d.Intensity);
    p.Peak_shape.push_back(d);
  }
  p.Apex_MZ = mz;
  p.Apex_Pos = apex_scan;
  p.Apex_Retention_Time = apex_rt;
  p.Apex_Intensity = top;
  p.Peak_Area = area;
  p.Peak_SNR = top / random.Log_Normal(std::log(200.0), 0.5);
  p.Left_Boundary = first;
  p.Right_Boundary = first + points - 1;
  if (shape_points > 0 && shape_points < points) {
    // The middle points; the apex scan is first + points / 2, inside them.
    const std::uint32_t skip = (points - shape_points + 1) / 2;
    p.Peak_shape.erase(p.Peak_shape.begin() + skip + shape_points, p.Peak_shape.end());
    p.Peak_shape.erase(p.Peak_shape.begin(), p.Peak_shape.begin() + skip);
  }
}

// smooth_drift, when given, replaces the sample's default drift; the values
// drawn from the sample's generator stay the same either way.
// bend, when given, is added to the drift.
std::vector<Sim_Peak> Make_Sample(const Simulation_Options& options,
                                  const std::vector<Compound>& catalogue, std::uint32_t sample,
                                  const Smooth_Drift* smooth_drift, const Bend_And_Trend* bend,
                                  Truth_Tally& tally) {
  Random random(Split_Mix(options.seed) ^ Split_Mix(0x51a3ULL + sample));
  const Drift drift{options.drift_seconds * 0.5 * random.Normal(),
                    options.drift_seconds * random.Uniform(0.5, 1.0),
                    random.Uniform(1500.0, 3000.0), random.Uniform(0.0, 2.0 * std::numbers::pi)};
  std::vector<Sim_Peak> peaks;
  peaks.reserve(static_cast<std::size_t>(catalogue.size() * 3.2));
  std::uint32_t group_key = 0;
  const bool foreign_run = Is_Foreign_Run(options, sample);
  for (std::uint32_t c = 0; c < catalogue.size(); ++c) {
    const Compound& compound = catalogue[c];
    if (compound.foreign && !foreign_run) continue;
    if (!random.Chance(options.presence)) continue;
    if (foreign_run && !compound.foreign && !random.Chance(options.foreign_share)) continue;
    const int group = options.case_control && sample >= options.samples / 2 ? 1 : 0;
    if (compound.only_group >= 0 && compound.only_group != group) continue;
    ++group_key;
    const double mass = compound.mass * (1.0 + 1e-6 * options.mass_noise_ppm * random.Normal());
    const double shift =
        (smooth_drift != nullptr ? smooth_drift->At(compound.rt) : drift.At(compound.rt)) +
        (bend != nullptr ? bend->At(compound.rt) : 0.0);
    // The smooth drift may move a compound by up to max_drift_seconds, the
    // bend and the trend by their size: its times keep clear of the limits
    // as far as they can.
    const double rt_floor = smooth_drift != nullptr ? 1.0 : kRtLow * 0.5;
    double rt_ceiling =
        smooth_drift != nullptr ? kRtHigh + kRtLow + options.max_drift_seconds : kRtHigh + kRtLow;
    if (bend != nullptr) rt_ceiling += std::fabs(bend->height) + bend->trend;
    const double rt = std::clamp(compound.rt + shift + options.rt_jitter_seconds * random.Normal(),
                                 rt_floor, rt_ceiling);
    tally.Add(c, mass, rt, rt - shift);
    double log_abundance = compound.log_abundance + 0.3 * random.Normal();
    if (group == 1) log_abundance += compound.case_log_fold;
    if (options.dilution && options.samples > 1) {
      log_abundance -= std::log(100.0) * sample / (options.samples - 1);
    }
    const double abundance = std::exp(log_abundance);
    const std::uint32_t points = std::clamp<std::uint32_t>(
        compound.points + random.Integer(0, 6) - 3, kPointsLow, kPointsHigh);
    const std::size_t first = peaks.size();
    double compound_intensity = 0.0;
    for (std::size_t i = 0; i < compound.ions.size(); ++i) {
      if (i > 0 && !random.Chance(kSecondaryIonPresence)) continue;
      const Ion& ion = compound.ions[i];
      Sim_Peak s;
      s.true_compound = c + 1;
      s.group_rt = rt;
      s.group_key = group_key;
      const double mz = (compound.mass + kIons[ion.kind].shift) *
                        (1.0 + 1e-6 * options.mass_noise_ppm * random.Normal());
      Make_Shape(random, rt + 0.05 * random.Normal(), mz, abundance * ion.ratio, points,
                 options.mass_noise_ppm, options.shape_points, s.peak);
      s.peak.Adduct_Annotation = kIons[ion.kind].annotation;
      s.peak.Compound_MolecularMass = mass;
      s.peak.Compound_Retention_Time = rt;
      compound_intensity += s.peak.Apex_Intensity;
      peaks.push_back(std::move(s));
    }
    for (std::size_t i = first; i < peaks.size(); ++i) {
      peaks[i].peak.Compound_Intensity = compound_intensity;
    }
  }
  const double f = std::clamp(options.unannotated_fraction, 0.0, 0.95);
  const auto noise = static_cast<std::size_t>(std::lround(peaks.size() * f / (1.0 - f)));
  for (std::size_t i = 0; i < noise; ++i) {
    Sim_Peak s;
    s.true_compound = 0;
    s.group_key = ++group_key;
    const double rt = random.Uniform(kRtLow, kRtHigh);
    s.group_rt = rt;
    Make_Shape(random, rt, random.Uniform(kMassLow, kMassHigh + 50.0),
               random.Log_Normal(std::log(2.0e4), 1.0), random.Integer(kPointsLow, kPointsHigh),
               options.mass_noise_ppm, options.shape_points, s.peak);
    s.peak.Compound_MolecularMass = 0.0;
    s.peak.Compound_Retention_Time = 0.0;
    s.peak.Compound_Intensity = 0.0;
    peaks.push_back(std::move(s));
  }

  // Group_ID over all groups and Compound_ID over annotated ones, both by
  // retention time; EIC_ID by m/z; Peak_ID in EIC order.
  std::vector<std::pair<double, std::uint32_t>> groups;  // (rt, key) of every group
  std::vector<std::uint32_t> annotated(group_key + 1, 0);
  for (const Sim_Peak& s : peaks) {
    if (groups.empty() || groups.back().second != s.group_key) {
      groups.emplace_back(s.group_rt, s.group_key);
      annotated[s.group_key] = s.true_compound != 0;
    }
  }
  std::sort(groups.begin(), groups.end());
  std::vector<std::uint32_t> group_id(group_key + 1, 0), compound_id(group_key + 1, 0);
  std::uint32_t next_compound = 0;
  for (std::size_t g = 0; g < groups.size(); ++g) {
    const std::uint32_t key = groups[g].second;
    group_id[key] = static_cast<std::uint32_t>(g + 1);
    if (annotated[key] != 0) compound_id[key] = ++next_compound;
  }
  std::sort(peaks.begin(), peaks.end(), [](const Sim_Peak& a, const Sim_Peak& b) {
    if (a.peak.Apex_MZ != b.peak.Apex_MZ) return a.peak.Apex_MZ < b.peak.Apex_MZ;
    return a.peak.Apex_Retention_Time < b.peak.Apex_Retention_Time;
  });
  std::uint32_t eic = 0;
  double eic_start = -1.0;
  for (std::size_t i = 0; i < peaks.size(); ++i) {
    Chromatogram_Peak_Group_Compound& p = peaks[i].peak;
    if (eic == 0 || p.Apex_MZ - eic_start > kEicWidth) {
      ++eic;
      eic_start = p.Apex_MZ;
    }
    p.EIC_ID = eic;
    p.Peak_ID = static_cast<std::uint32_t>(i + 1);
    p.Group_ID = group_id[peaks[i].group_key];
    p.Compound_ID = compound_id[peaks[i].group_key];
  }
  return peaks;
}

[[noreturn]] void Fail(const std::string& path, const std::string& what) {
  throw std::runtime_error(path + ": " + what);
}

}  // namespace

std::uint32_t Compounds_For_Peaks_Per_Sample(const Simulation_Options& options,
                                             std::uint32_t peaks_per_sample) {
  // Ions per compound: 1 to 4 chosen evenly, every ion but [M+H]+ seen 90 %.
  const double ions = 1.0 + kSecondaryIonPresence * 1.5;
  const double f = std::clamp(options.unannotated_fraction, 0.0, 0.95);
  const double per_compound = std::max(options.presence, 1e-6) * ions / (1.0 - f);
  return std::max<std::uint32_t>(
      1, static_cast<std::uint32_t>(std::lround(peaks_per_sample / per_compound)));
}

Simulation_Result Simulate_Study(
    const Simulation_Options& options, const std::string& out_dir,
    const std::function<void(std::size_t sample, std::size_t peaks)>& on_sample) {
  const Output_Folder folder(out_dir, "study folder");
  if (!folder.ok()) throw std::runtime_error(folder.error());

  Simulation_Result result;
  result.compounds = options.peaks_per_sample != 0
                         ? Compounds_For_Peaks_Per_Sample(options, options.peaks_per_sample)
                         : options.compounds;
  std::vector<Compound> catalogue = Make_Catalogue(result.compounds, options.seed);
  if (options.case_control) {
    Make_Case_Control(catalogue, options.seed);
    result.compounds = static_cast<std::uint32_t>(catalogue.size());
  }
  if (options.foreign_runs > 0) {
    Make_Foreign(catalogue, options);
    result.compounds = static_cast<std::uint32_t>(catalogue.size());
  }
  const std::vector<Smooth_Drift> smooth_drifts =
      options.max_drift_seconds >= 0.0 ? Make_Smooth_Drifts(options) : std::vector<Smooth_Drift>();
  const std::vector<Bend_And_Trend> bends = Make_Bends_And_Trends(options);
  Truth_Tally tally(catalogue.size());
  std::optional<Signal_Study> signal;
  if (options.signal.Enabled()) {
    std::vector<double> levels;
    for (const Compound& c : catalogue) levels.push_back(c.log_abundance);
    signal.emplace(options.signal, options.seed, options.samples, std::move(levels));
  }

  result.ground_truth_path = Join_Path(out_dir, kGroundTruthName);
  std::ofstream truth(result.ground_truth_path, std::ios::binary | std::ios::trunc);
  if (!truth) Fail(result.ground_truth_path, "cannot open for writing");
  truth << "sample,EIC_ID,Peak_ID,true_compound\n";

  std::vector<Chromatogram_Peak_Group_Compound> rows;
  for (std::uint32_t sample = 0; sample < options.samples; ++sample) {
    char name[32];
    std::snprintf(name, sizeof name, "sample_%03u", sample + 1);
    std::vector<Sim_Peak> peaks = Make_Sample(
        options, catalogue, sample, smooth_drifts.empty() ? nullptr : &smooth_drifts[sample],
        bends.empty() ? nullptr : &bends[sample], tally);
    if (signal) {
      peaks.erase(std::remove_if(peaks.begin(), peaks.end(),
                                 [&](Sim_Peak& s) {
                                   return s.true_compound != 0 &&
                                          !signal->Measure(sample, s.true_compound - 1,
                                                           s.peak.Compound_Intensity);
                                 }),
                  peaks.end());
    }
    rows.clear();
    rows.reserve(peaks.size());
    for (Sim_Peak& s : peaks) {
      truth << name << ',' << s.peak.EIC_ID << ',' << s.peak.Peak_ID << ',' << s.true_compound
            << '\n';
      rows.push_back(std::move(s.peak));
    }
    const std::string file = std::string(name) + kAnnotatedSuffix;
    Write_Annotated_Database(Join_Path(out_dir, file), rows);
    result.database_names.push_back(file);
    result.sample_names.push_back(name);
    result.peaks += rows.size();
    if (on_sample) on_sample(sample, rows.size());
  }
  truth.close();
  if (!truth) Fail(result.ground_truth_path, "write failed");
  result.truth = tally.Figures();
  if (signal) {
    std::vector<double> masses, rts;
    for (const Compound& c : catalogue) {
      masses.push_back(c.mass);
      rts.push_back(c.rt);
    }
    signal->Write_Truth(out_dir, result.sample_names, masses, rts);
  }
  if (options.write_truth_figures) {
    const std::string path = Join_Path(out_dir, kStudyTruthName);
    std::ofstream figures(path, std::ios::binary | std::ios::trunc);
    if (!figures) Fail(path, "cannot open for writing");
    figures.precision(17);
    figures << "name,value\n"
            << "mass_sd_ppm," << result.truth.mass_sd_ppm << '\n'
            << "mass_sd_da," << result.truth.mass_sd_da << '\n'
            << "rt_sd_seconds," << result.truth.rt_sd_seconds << '\n'
            << "rt_sd_drift_free_seconds," << result.truth.rt_sd_drift_free_seconds << '\n';
    figures.close();
    if (!figures) Fail(path, "write failed");
  }
  return result;
}
