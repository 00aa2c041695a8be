#include "tests/ui/support/quality_study.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>

#include "storage/path.h"
#include "storage/side_tables.h"
#include "storage/sqlite/cppsqlite3.h"

namespace Varnel::Test {

namespace {

constexpr double kRtLow = 60.0;
constexpr double kRtHigh = 900.0;
constexpr int kCorrectionPoints = 12;

// Drift of a sample at a retention time, seconds: an offset and a slope, the
// drifting sample far more.
double Drift(const std::vector<double>& offset, const std::vector<double>& slope, std::uint32_t s,
             double rt) {
  return offset[s] + slope[s] * (rt - kRtLow) / (kRtHigh - kRtLow);
}

}  // namespace

Quality_Study Make_Quality_Study(const Quality_Study_Plan& plan) {
  std::mt19937_64 rng(plan.seed);
  std::uniform_real_distribution<double> uniform(0.0, 1.0);
  std::normal_distribution<double> normal(0.0, 1.0);
  Quality_Study study;
  std::vector<double> offset(plan.samples), slope(plan.samples);
  for (std::uint32_t s = 0; s < plan.samples; ++s) {
    char name[32];
    std::snprintf(name, sizeof name, "Plasma_B%u_S%03u", s / 24 + 1, s + 1);
    study.names.emplace_back(name);
    offset[s] = normal(rng) * 1.0;
    slope[s] = normal(rng) * 1.5;
  }
  if (plan.drifting_sample < plan.samples) {
    offset[plan.drifting_sample] = 2.0;
    slope[plan.drifting_sample] = 9.0;
  }
  study.correction.resize(plan.samples);
  study.anchors.resize(plan.samples);
  for (std::uint32_t s = 0; s < plan.samples; ++s)
    for (int k = 0; k < kCorrectionPoints; ++k) {
      const double rt = kRtLow + (kRtHigh - kRtLow) * k / (kCorrectionPoints - 1);
      study.correction[s].emplace_back(rt + Drift(offset, slope, s, rt),
                                       -Drift(offset, slope, s, rt));
    }

  std::vector<std::uint32_t> next_eic(plan.samples, 1);
  std::vector<Align_Peak> unaligned, aligned;
  for (std::uint32_t c = 0; c < plan.compounds; ++c) {
    const double mass = 100.0 + uniform(rng) * 900.0;
    const double rt = kRtLow + uniform(rng) * (kRtHigh - kRtLow);
    const double abundance = std::pow(10.0, 4.0 + uniform(rng) * 2.5);
    // Two compounds in five are found in every sample, the rest now and then.
    const bool everywhere = uniform(rng) < 0.4;
    const double presence = everywhere ? 1.0 : plan.presence * uniform(rng);
    std::vector<std::uint32_t> members;
    for (std::uint32_t s = 0; s < plan.samples; ++s)
      if (uniform(rng) < presence) members.push_back(s);
    if (members.empty()) members.push_back(static_cast<std::uint32_t>(c % plan.samples));
    std::vector<double> observed(members.size());
    double centre = 0.0;
    for (std::size_t i = 0; i < members.size(); ++i) {
      const double noise = normal(rng) * 0.3;
      observed[i] = rt + Drift(offset, slope, members[i], rt) + noise;
      centre += plan.correction ? rt + noise : observed[i];
      const bool left_out = members[i] == plan.sparse_sample &&
                            rt > kRtLow + 0.3 * (kRtHigh - kRtLow) &&
                            rt < kRtLow + 0.75 * (kRtHigh - kRtLow);
      if (everywhere && !left_out)
        study.anchors[members[i]].emplace_back(observed[i], rt - observed[i]);
    }
    centre /= static_cast<double>(members.size());
    for (std::size_t i = 0; i < members.size(); ++i) {
      const std::uint32_t s = members[i];
      Peak_Recipe p;
      p.sample_id = s;
      p.sample_name = study.names[s];
      p.eic_id = next_eic[s]++;
      p.group_id = p.eic_id;
      p.compound_id = p.eic_id;
      p.align_id = c + 1;
      p.apex_rt = observed[i];
      p.align_rt = centre;
      p.apex_mz = mass * (1.0 + normal(rng) * 3e-6) + 1.007276;
      p.height = abundance * std::exp(normal(rng) * 0.2);
      p.points = plan.points;
      aligned.push_back(Make_Peak(p));
      if (uniform(rng) < plan.unaligned_share) {
        Peak_Recipe u = p;
        u.eic_id = next_eic[s]++;
        u.group_id = u.eic_id;
        u.compound_id = 0;
        u.align_id = 0;
        u.align_rt = 0.0;
        u.apex_mz = 100.0 + uniform(rng) * 900.0;
        u.height = abundance * 0.05;
        unaligned.push_back(Make_Peak(u));
      }
    }
  }
  study.peaks = std::move(unaligned);
  study.peaks.insert(study.peaks.end(), std::make_move_iterator(aligned.begin()),
                     std::make_move_iterator(aligned.end()));
  return study;
}

void Add_Run_Record(const std::string& path,
                    const std::vector<std::pair<std::string, std::string>>& items,
                    const std::vector<std::string>& inputs) {
  CppSQLite3DB db;
  db.open(path.c_str(), CppSQLite3OpenMode::kReadWrite);
  db.execDML("begin transaction;");
  db.execDML("create table Align_Run (Item TEXT PRIMARY KEY, Value TEXT);");
  db.execDML(
      "create table Align_Run_Input (SAMPLE_ID INTEGER PRIMARY KEY, SAMPLE_NAME TEXT, "
      "Folder TEXT, File_Name TEXT, Size INTEGER, XXH3_128 TEXT, Peaks_Read INTEGER);");
  CppSQLite3Statement item = db.compileStatement("insert into Align_Run values(?, ?);");
  for (const auto& [name, value] : items) {
    item.bind(1, name.c_str());
    item.bind(2, value.c_str());
    item.execDML();
  }
  CppSQLite3Statement input = db.compileStatement(
      "insert into Align_Run_Input values(?, ?, '/data/study', ?, 1000, "
      "'00000000000000000000000000000000', 0);");
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    const std::string name = inputs[i].substr(0, inputs[i].find("_annotated"));
    input.bind(1, static_cast<int>(i));
    input.bind(2, name.c_str());
    input.bind(3, inputs[i].c_str());
    input.execDML();
  }
  db.execDML("commit transaction;");
}

void Add_Rt_Correction(const std::string& path,
                       const std::vector<std::vector<std::pair<double, double>>>& curves) {
  CppSQLite3DB db;
  db.open(path.c_str(), CppSQLite3OpenMode::kReadWrite);
  db.execDML("begin transaction;");
  db.execDML("create table Align_RT_Correction (SAMPLE_ID INTEGER, RT REAL, Shift REAL);");
  CppSQLite3Statement row = db.compileStatement("insert into Align_RT_Correction values(?, ?, ?);");
  for (std::size_t s = 0; s < curves.size(); ++s)
    for (const auto& [rt, shift] : curves[s]) {
      row.bind(1, static_cast<int>(s));
      row.bind(2, rt);
      row.bind(3, shift);
      row.execDML();
    }
  db.execDML("commit transaction;");
}

std::string Write_Quality_Study(const Quality_Study_Plan& plan, const std::string& folder,
                                const std::string& file, bool with_run) {
  const Quality_Study study = Make_Quality_Study(plan);
  Write_Aligned_Result(study.peaks, folder, file);
  const std::string path = Join_Path(folder, file);
  if (plan.correction) Add_Rt_Correction(path, study.correction);
  if (plan.correction && plan.anchors) {
    std::vector<Rt_Shift_Point> points;
    for (std::uint32_t s = 0; s < plan.samples; ++s)
      for (const auto& [rt, shift] : study.anchors[s]) points.push_back({s, rt, shift});
    CppSQLite3DB db;
    db.open(path.c_str(), CppSQLite3OpenMode::kReadWrite);
    db.execDML("begin transaction;");
    Write_Rt_Anchors(db, points);
    db.execDML("commit transaction;");
  }
  if (with_run) {
    std::vector<std::string> inputs;
    for (const std::string& name : study.names)
      inputs.push_back(name + "_annotated_grouped_chromatograph_peaklist.db");
    Add_Run_Record(path,
                   {{"program", "Varnel"},
                    {"version", "0.1"},
                    {"mode", plan.correction ? "Deep_Align" : "Fast_Align"},
                    {"mass_tol", "0.1"},
                    {"fast_window", "20"},
                    {"deep_window", "10"},
                    {"rt_correction", plan.correction ? "on" : "off"}},
                   inputs);
  }
  return path;
}

std::string Write_Drifting_Study(const std::string& folder, const std::string& file) {
  std::vector<Align_Peak> peaks;
  const int per_batch = kDriftInjections / 2;
  for (int s = 0; s < kDriftInjections; ++s) {
    const double within = static_cast<double>(s % per_batch) / (per_batch - 1);
    const double batch = s < per_batch ? 1.0 : 1.5;
    for (int g = 0; g < kDriftGroups; ++g) {
      Peak_Recipe shape;
      shape.sample_id = static_cast<std::uint32_t>(s);
      shape.sample_name = std::string(1, 'S') + std::to_string(s);
      shape.align_id = static_cast<std::uint32_t>(g + 1);
      shape.compound_id = shape.align_id;
      shape.apex_rt = shape.align_rt = 100.0 * (g + 1);
      shape.points = 3;
      Align_Peak peak = Make_Peak(shape);
      const double noise = 1.0 + 0.02 * static_cast<double>((s * 7 + g * 3) % 5) - 0.04;
      peak.Compound_MolecularMass = 500.0 + g;
      peak.Compound_Intensity = 1000.0 * (g + 1) * (1.0 - 0.4 * within) * batch * noise;
      peaks.push_back(peak);
    }
  }
  Write_Aligned_Result(peaks, folder, file);
  return Join_Path(folder, file);
}

std::string Drifting_Study_Sheet(bool order, bool batch, bool qcs) {
  std::string text = "sample,group";
  text += order ? ",order" : "";
  text += batch ? ",batch,conditioning" : "";
  text += "\n";
  for (int i = kDriftInjections - 1; i >= 0; --i) {
    const bool qc = qcs && i % 2 == 0;
    text += 'S';
    text += std::to_string(i);
    text += ',';
    text += qc ? "QC" : i % 4 == 1 ? "A" : "B";
    if (order) {
      text += ',';
      text += std::to_string(i + 1);
    }
    if (batch) {
      text += i < kDriftInjections / 2 ? ",b1" : ",b2";
      text += i == 0 ? ",yes" : ",no";
    }
    text += "\n";
  }
  return text;
}

}  // namespace Varnel::Test
