#include "cohort/study_plan.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <limits>
#include <map>
#include <nlohmann/json.hpp>
#include <ostream>
#include <sstream>
#include <stdexcept>
#include <unordered_map>

#include "run/alignment_run.h"
#include "run/file_hash.h"
#include "storage/path.h"
#include "storage/replacement_file.h"
#include "storage/sqlite/cppsqlite3.h"

using Json = nlohmann::json;

namespace {

constexpr double kBinnedMassLimit = 1e15;  // Da; beyond it a mass gets no bin
constexpr double kMinBinDa = 1e-4;         // bins never narrower (a tolerance of 0)
constexpr double kMinBinLog = 1e-9;        // nor, in ppm, of a smaller ratio

// Doubles as JSON numbers, which hold finite values only: the others as text.
Json Number(double v) {
  if (std::isfinite(v)) return v;
  if (std::isnan(v)) return "nan";
  return v > 0 ? "inf" : "-inf";
}

double Number_Of(const Json& j) {
  if (j.is_number()) return j.get<double>();
  const std::string text = j.get<std::string>();
  if (text == "nan") return std::numeric_limits<double>::quiet_NaN();
  if (text == "inf") return std::numeric_limits<double>::infinity();
  if (text == "-inf") return -std::numeric_limits<double>::infinity();
  throw std::runtime_error("not a number: " + text);
}

Json Numbers(const std::vector<double>& values) {
  Json array = Json::array();
  for (double v : values) array.push_back(Number(v));
  return array;
}

std::vector<double> Numbers_Of(const Json& array) {
  if (!array.is_array()) throw std::runtime_error("not a list of numbers: " + array.dump());
  std::vector<double> values;
  values.reserve(array.size());
  for (const Json& v : array) values.push_back(Number_Of(v));
  return values;
}

// The member choice's items only when it goes beyond the closest-in-time
// rule: a plan without it keeps the bytes of the plans before it.
Json Options_Json(const Alignment_Request& o) {
  Json options{{"mode", o.mode == Two_Phase_Align ? "deep" : "fast"},
               {"mass_tol", Number(o.Mass_Tol.value)},
               {"mass_tol_unit", o.Mass_Tol.Unit_Name()},
               {"fast_window", Number(o.Align_Window1)},
               {"deep_window", Number(o.Align_Window2)},
               {"rt_correction", o.rt_correction},
               {"record_run", o.record_run}};
  if (Needs_Study_Spreads(o)) {
    options["pick"] = Member_Pick_Name(o.pick);
    options["join_splits"] = o.join_splits;
  }
  return options;
}

Alignment_Request Options_Of(const Json& j) {
  Alignment_Request o;
  const std::string mode = j.at("mode").get<std::string>();
  if (mode != "fast" && mode != "deep") throw std::runtime_error("unknown mode " + mode);
  o.mode = mode == "deep" ? Two_Phase_Align : One_Phase_Align;
  o.Mass_Tol.value = Number_Of(j.at("mass_tol"));
  const std::string unit = j.at("mass_tol_unit").get<std::string>();
  if (unit != "Da" && unit != "ppm") throw std::runtime_error("unknown unit " + unit);
  o.Mass_Tol.unit = unit == "ppm" ? Mass_Tolerance::Unit::kPpm : Mass_Tolerance::Unit::kDa;
  o.Align_Window1 = Number_Of(j.at("fast_window"));
  o.Align_Window2 = Number_Of(j.at("deep_window"));
  o.rt_correction = j.at("rt_correction").get<bool>();
  o.record_run = j.at("record_run").get<bool>();
  if (j.contains("pick") && !Member_Pick_Of_Name(j.at("pick").get<std::string>(), o.pick)) {
    throw std::runtime_error("unknown member choice " + j.at("pick").dump());
  }
  if (j.contains("join_splits")) o.join_splits = j.at("join_splits").get<bool>();
  return o;
}

std::string Read_Text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error(path + ": cannot read");
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) throw std::runtime_error(path + ": cannot read");
  return text.str();
}

void Write_Text(const std::string& path, const std::string& text) {
  const Split_Path_Result where = Split_Path(path);
  try {
    Replacement_File file(where.folder, where.name);
    file.Write(text);
    file.Commit();
  } catch (const CppSQLite3Exception& e) {
    throw std::runtime_error(path + ": " + e.errorMessage());
  }
}

}  // namespace

Mass_Binning::Mass_Binning(const Mass_Tolerance& tolerance)
    : ppm_(tolerance.unit == Mass_Tolerance::Unit::kPpm) {
  const double tol = std::max(tolerance.value, 0.0);
  if (!ppm_) {
    width_ = std::max(tol / kBinsPerTolerance, kMinBinDa);
    // Masses whose bins have g empty bins between them differ by more than
    // g x width; two bins more than 2 x tol asks for absorb the rounding.
    gap_bins_ = static_cast<std::int64_t>(std::ceil(2.0 * tol / width_)) + 2;
    return;
  }
  const double p = tol * 1e-6;
  width_ = std::max(std::log1p(p / kBinsPerTolerance), kMinBinLog);
  // Masses a < b whose bins have g empty bins between them have
  // b / a > exp(g x width); b - a > 2 p b asks for b / a > 1 / (1 - 2 p).
  if (!(2.0 * p < 1.0)) {
    gap_bins_ = 0;
    return;
  }
  gap_bins_ = static_cast<std::int64_t>(std::ceil(-std::log1p(-2.0 * p) / width_)) + 2;
}

std::optional<std::int64_t> Mass_Binning::Bin(double mass) const {
  if (!(std::fabs(mass) <= kBinnedMassLimit)) return std::nullopt;
  if (!ppm_) {
    const double bin = std::floor(mass / width_);
    if (!(std::fabs(bin) < 4e18)) return std::nullopt;  // within std::int64_t
    return static_cast<std::int64_t>(bin);
  }
  if (!(mass > 0.0)) return std::nullopt;
  return static_cast<std::int64_t>(std::floor(std::log(mass) / width_));
}

double Mass_Binning::Mass_At(double bin) const {
  return ppm_ ? std::exp(bin * width_) : bin * width_;
}

std::size_t Scan_Anchors_Per_Input() { return Rt_Anchor_Rule{}.candidates_per_sample; }

Input_Scan Scan_Peaks(const std::vector<Chromatogram_Peak_Group_Compound>& peaks,
                      const Mass_Binning& binning, bool anchors) {
  Input_Scan scan;
  scan.peaks = peaks.size();
  std::vector<std::int64_t> bins;
  bins.reserve(peaks.size());
  for (const Chromatogram_Peak_Group_Compound& p : peaks) {
    if (binning.Reaches_Everything(p.Compound_MolecularMass, p.Compound_Intensity)) {
      ++scan.unbounded;
    }
    const std::optional<std::int64_t> bin = binning.Bin(p.Compound_MolecularMass);
    if (bin) {
      bins.push_back(*bin);
    } else if (p.Compound_MolecularMass > 0.0) {
      ++scan.high;
    } else {
      ++scan.low;  // NaN included
    }
  }
  std::sort(bins.begin(), bins.end());
  for (std::size_t i = 0; i < bins.size();) {
    std::size_t j = i;
    while (j < bins.size() && bins[j] == bins[i]) ++j;
    scan.bins.emplace_back(bins[i], static_cast<std::uint32_t>(j - i));
    i = j;
  }
  if (anchors) {
    std::unordered_map<std::uint32_t, std::size_t> seen;
    for (const Chromatogram_Peak_Group_Compound& p : peaks) {
      if (p.Compound_ID == 0 || !std::isfinite(p.Compound_MolecularMass) ||
          !std::isfinite(p.Compound_Retention_Time)) {
        continue;
      }
      if (seen.emplace(p.Compound_ID, scan.anchors.size()).second) {
        scan.anchors.push_back({p.Compound_ID, p.Compound_MolecularMass, p.Compound_Retention_Time,
                                p.Compound_Intensity});
      }
    }
    const std::size_t keep = Scan_Anchors_Per_Input();
    if (scan.anchors.size() > keep) {
      std::nth_element(scan.anchors.begin(), scan.anchors.begin() + keep, scan.anchors.end(),
                       [](const Scan_Anchor& a, const Scan_Anchor& b) {
                         return Anchor_Candidate_Before(a.intensity, a.compound_id, b.intensity,
                                                        b.compound_id);
                       });
      scan.anchors.resize(keep);
    }
    std::sort(
        scan.anchors.begin(), scan.anchors.end(),
        [](const Scan_Anchor& a, const Scan_Anchor& b) { return a.compound_id < b.compound_id; });
  }
  return scan;
}

void Write_Scan_File(const std::string& path, const Study_Scan& scan) {
  Json inputs = Json::array();
  for (const Input_Scan& in : scan.inputs) {
    Json bins = Json::array();
    for (const auto& [bin, count] : in.bins) {
      bins.push_back(bin);
      bins.push_back(count);
    }
    Json anchors = Json::array();
    for (const Scan_Anchor& a : in.anchors) {
      anchors.push_back(
          Json::array({a.compound_id, Number(a.mass), Number(a.rt), Number(a.intensity)}));
    }
    inputs.push_back(Json{{"folder", in.folder},
                          {"name", in.name},
                          {"size", in.size},
                          {"xxh3_128", in.xxh3_128},
                          {"peaks", in.peaks},
                          {"unbinned_low", in.low},
                          {"unbinned_high", in.high},
                          {"unbounded", in.unbounded},
                          {"bins", std::move(bins)},
                          {"anchors", std::move(anchors)}});
  }
  const Json file{{"format", "varnel-scan"},
                  {"schema_version", kScanSchemaVersion},
                  {"options", Options_Json(scan.options)},
                  {"inputs", std::move(inputs)}};
  Write_Text(path, file.dump() + "\n");
}

Study_Scan Read_Scan_File(const std::string& path) {
  try {
    const Json file = Json::parse(Read_Text(path));
    if (file.at("format") != "varnel-scan") throw std::runtime_error("not a scan file");
    if (file.at("schema_version") != kScanSchemaVersion) {
      throw std::runtime_error("a scan of another version (" + file.at("schema_version").dump() +
                               ")");
    }
    Study_Scan scan;
    scan.options = Options_Of(file.at("options"));
    for (const Json& j : file.at("inputs")) {
      Input_Scan in;
      in.folder = j.at("folder").get<std::string>();
      in.name = j.at("name").get<std::string>();
      in.size = j.at("size").get<std::uint64_t>();
      in.xxh3_128 = j.at("xxh3_128").get<std::string>();
      in.peaks = j.at("peaks").get<std::uint64_t>();
      in.low = j.at("unbinned_low").get<std::uint64_t>();
      in.high = j.at("unbinned_high").get<std::uint64_t>();
      in.unbounded = j.at("unbounded").get<std::uint64_t>();
      const Json& bins = j.at("bins");
      if (bins.size() % 2 != 0) throw std::runtime_error("an odd bin list");
      for (std::size_t i = 0; i < bins.size(); i += 2) {
        in.bins.emplace_back(bins[i].get<std::int64_t>(), bins[i + 1].get<std::uint32_t>());
      }
      for (const Json& a : j.at("anchors")) {
        in.anchors.push_back({a.at(0).get<std::uint32_t>(), Number_Of(a.at(1)), Number_Of(a.at(2)),
                              Number_Of(a.at(3))});
      }
      scan.inputs.push_back(std::move(in));
    }
    return scan;
  } catch (const Json::exception& e) {
    throw std::runtime_error(path + ": not a scan file (" + e.what() + ")");
  } catch (const std::runtime_error& e) {
    const std::string what = e.what();
    if (what.rfind(path + ":", 0) == 0) throw;
    throw std::runtime_error(path + ": " + what);
  }
}

std::uint32_t Study_Plan::Shard_Of(double mass) const {
  if (std::isnan(mass)) return 0;
  return static_cast<std::uint32_t>(std::upper_bound(cuts.begin(), cuts.end(), mass) -
                                    cuts.begin());
}

namespace {

Json Plan_Json(const Study_Plan& plan) {
  Json inputs = Json::array();
  for (std::size_t i = 0; i < plan.inputs.size(); ++i) {
    const Plan_Input& in = plan.inputs[i];
    inputs.push_back(Json{{"sample_id", i},
                          {"sample_name", in.sample_name},
                          {"folder", in.folder},
                          {"name", in.name},
                          {"size", in.size},
                          {"xxh3_128", in.xxh3_128},
                          {"peaks", in.peaks}});
  }
  Json shards = Json::array();
  for (std::size_t k = 0; k < plan.shards.size(); ++k) {
    const Plan_Shard& s = plan.shards[k];
    shards.push_back(Json{{"shard", k},
                          {"mass_from", s.mass_from ? Json(*s.mass_from) : Json()},
                          {"mass_to", s.mass_to ? Json(*s.mass_to) : Json()},
                          {"peaks", s.peaks}});
  }
  Json correction;  // null without one
  if (plan.correction) {
    Json samples = Json::array();
    for (const Rt_Sample_Curve& c : plan.correction->samples) {
      samples.push_back(Json{{"sample_id", c.sample},
                             {"name", c.name},
                             {"anchors", c.anchors},
                             {"corrected", c.corrected},
                             {"rt", Numbers(c.rt)},
                             {"shift", Numbers(c.shift)},
                             {"anchor_rt", Numbers(c.anchor_rt)},
                             {"anchor_shift", Numbers(c.anchor_shift)}});
      // Only when set, so the plans of every other study keep their bytes.
      if (c.gross_shift_rejected) samples.back()["gross_shift_rejected"] = true;
    }
    correction = Json{{"anchors", plan.correction->anchors},
                      {"rt_spread_before", Number(plan.correction->rt_spread_before)},
                      {"rt_spread_after", Number(plan.correction->rt_spread_after)},
                      {"samples", std::move(samples)}};
  }
  Json cuts = Json::array();
  for (double c : plan.cuts) cuts.push_back(c);
  return Json{{"format", "varnel-plan"},
              {"schema_version", Plan_Schema_Version(plan.options)},
              {"options", Options_Json(plan.options)},
              {"inputs", std::move(inputs)},
              {"pieces", plan.pieces},
              {"cuts", std::move(cuts)},
              {"shards", std::move(shards)},
              {"rt_correction", std::move(correction)}};
}

}  // namespace

void Write_Plan_File(const std::string& folder, Study_Plan& plan) {
  const std::string text = Plan_Json(plan).dump(1) + "\n";
  const std::string path = Join_Path(folder, kPlanFileName);
  Write_Text(path, text);
  plan.id = Hash_File_XXH3_128(path);
}

Study_Plan Read_Plan_File(const std::string& folder) {
  const std::string path = Join_Path(folder, kPlanFileName);
  const std::string text = Read_Text(path);
  try {
    const Json file = Json::parse(text);
    if (file.at("format") != "varnel-plan") throw std::runtime_error("not a plan file");
    const Json& version = file.at("schema_version");
    if (version != kPlanSchemaVersion && version != kPlanSchemaVersionWithChoice) {
      throw std::runtime_error("a plan of schema version " + version.dump() +
                               ", this program reads versions " +
                               std::to_string(kPlanSchemaVersion) + " and " +
                               std::to_string(kPlanSchemaVersionWithChoice) +
                               ": make the plan again with this varnel-align (--plan)");
    }
    Study_Plan plan;
    plan.options = Options_Of(file.at("options"));
    if (version != Plan_Schema_Version(plan.options)) {
      throw std::runtime_error("schema version " + version.dump() +
                               " does not match the member choice of its options");
    }
    for (const Json& j : file.at("inputs")) {
      plan.inputs.push_back({j.at("sample_name").get<std::string>(),
                             j.at("folder").get<std::string>(), j.at("name").get<std::string>(),
                             j.at("size").get<std::uint64_t>(), j.at("xxh3_128").get<std::string>(),
                             j.at("peaks").get<std::uint64_t>()});
    }
    plan.pieces = file.at("pieces").get<std::uint64_t>();
    for (const Json& c : file.at("cuts")) plan.cuts.push_back(c.get<double>());
    for (const Json& j : file.at("shards")) {
      Plan_Shard s;
      if (!j.at("mass_from").is_null()) s.mass_from = j.at("mass_from").get<double>();
      if (!j.at("mass_to").is_null()) s.mass_to = j.at("mass_to").get<double>();
      s.peaks = j.at("peaks").get<std::uint64_t>();
      plan.shards.push_back(s);
    }
    if (plan.shards.size() != plan.cuts.size() + 1 ||
        !std::is_sorted(plan.cuts.begin(), plan.cuts.end())) {
      throw std::runtime_error("shards and cuts do not agree");
    }
    const Json& correction = file.at("rt_correction");
    if (!correction.is_null()) {
      Rt_Correction c;
      c.anchors = correction.at("anchors").get<std::size_t>();
      c.rt_spread_before = Number_Of(correction.at("rt_spread_before"));
      c.rt_spread_after = Number_Of(correction.at("rt_spread_after"));
      for (const Json& j : correction.at("samples")) {
        Rt_Sample_Curve curve;
        curve.sample = j.at("sample_id").get<std::uint32_t>();
        curve.name = j.at("name").get<std::string>();
        curve.anchors = j.at("anchors").get<std::size_t>();
        curve.corrected = j.at("corrected").get<bool>();
        curve.rt = Numbers_Of(j.at("rt"));
        curve.shift = Numbers_Of(j.at("shift"));
        curve.anchor_rt = Numbers_Of(j.at("anchor_rt"));
        curve.anchor_shift = Numbers_Of(j.at("anchor_shift"));
        if (const auto flag = j.find("gross_shift_rejected"); flag != j.end()) {
          curve.gross_shift_rejected = flag->get<bool>();
        }
        if (curve.rt.size() != curve.shift.size() ||
            curve.anchor_rt.size() != curve.anchor_shift.size()) {
          throw std::runtime_error("a broken curve");
        }
        c.samples.push_back(std::move(curve));
      }
      plan.correction = std::move(c);
    }
    if (plan.options.rt_correction != plan.correction.has_value()) {
      throw std::runtime_error("the drift correction is missing");
    }
    plan.id = Hash_File_XXH3_128(path);
    return plan;
  } catch (const Json::exception& e) {
    throw std::runtime_error(path + ": not a plan file (" + e.what() + ")");
  } catch (const std::runtime_error& e) {
    throw std::runtime_error(path + ": " + e.what());
  }
}

bool Needs_Study_Spreads(const Alignment_Request& options) {
  return options.pick != Member_Pick::kClosest || options.join_splits;
}

int Plan_Schema_Version(const Alignment_Request& options) {
  return Needs_Study_Spreads(options) ? kPlanSchemaVersionWithChoice : kPlanSchemaVersion;
}
