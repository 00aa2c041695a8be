#include "tools/evaluate_signal.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <unordered_map>

#include "export/output_file.h"
#include "export/sample_sheet.h"
#include "storage/path.h"
#include "tools/simulate_signal.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

[[noreturn]] void Fail(const std::string& path, const std::string& what) {
  throw std::runtime_error(path + ": " + what);
}

// The lines of a CSV (or tab-separated, tabs given) file, split; the header first.
std::vector<std::vector<std::string>> Read_Table(const std::string& path, bool tabs = false) {
  std::ifstream in(path, std::ios::binary);
  if (!in) Fail(path, "cannot read");
  std::vector<std::vector<std::string>> lines;
  std::string line;
  std::vector<std::string> fields;
  std::size_t number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    if (tabs) {
      fields.clear();
      std::string field;
      std::istringstream split(line);
      while (std::getline(split, field, '\t')) fields.push_back(field);
      if (line.back() == '\t') fields.emplace_back();
    } else if (!Split_Csv_Line(line, fields)) {
      Fail(path, "line " + std::to_string(number) + ": unterminated quote");
    }
    lines.push_back(fields);
  }
  if (in.bad()) Fail(path, "cannot read");
  if (lines.empty()) Fail(path, "is empty");
  return lines;
}

double Number(const std::string& text, const std::string& path) {
  if (text.empty() || text == "NA") return kNaN;
  try {
    std::size_t used = 0;
    const double v = std::stod(text, &used);
    if (used != text.size()) throw std::invalid_argument(text);
    return v;
  } catch (const std::exception&) {
    Fail(path, "\"" + text + "\" is not a number");
  }
}

std::size_t Column(const std::vector<std::string>& header, const std::string& name,
                   const std::string& path) {
  const auto it = std::find(header.begin(), header.end(), name);
  if (it == header.end()) Fail(path, "has no column " + name);
  return static_cast<std::size_t>(it - header.begin());
}

double Median(std::vector<double> values) {
  if (values.empty()) return kNaN;
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double Rsd(const std::vector<double>& v) {
  if (v.size() < 2) return kNaN;
  double sum = 0;
  for (double x : v) sum += x;
  const double mean = sum / v.size();
  double sq = 0;
  for (double x : v) sq += (x - mean) * (x - mean);
  return mean > 0 ? 100 * std::sqrt(sq / (v.size() - 1)) / mean : kNaN;
}

double Phi(double x) { return 0.5 * std::erfc(-x / std::sqrt(2.0)); }

}  // namespace

double Noise_Median_Relative_Error(double sigma) {
  if (!(sigma > 0)) return 0.0;
  double low = 0.0, high = 1.0;
  for (int i = 0; i < 100; ++i) {
    const double m = (low + high) / 2;
    const double p = Phi(std::log1p(m) / sigma) - Phi(std::log1p(-m) / sigma);
    (p < 0.5 ? low : high) = m;
  }
  return (low + high) / 2;
}

Signal_Evaluation Evaluate_Signal(const std::string& table_path, const std::string& study_dir) {
  Signal_Evaluation e;
  e.table = table_path;
  // The study.
  const std::string samples_path = Join_Path(study_dir, kSignalSamplesName);
  const auto samples = Read_Table(samples_path);
  const std::size_t c_sample = Column(samples[0], "sample", samples_path);
  const std::size_t c_role = Column(samples[0], "role", samples_path);
  const std::size_t c_subject = Column(samples[0], "subject", samples_path);
  std::unordered_map<std::string, std::size_t> sample_index;
  std::vector<bool> is_qc;
  std::vector<std::size_t> subject;
  for (std::size_t r = 1; r < samples.size(); ++r) {
    if (samples[r].size() != samples[0].size()) Fail(samples_path, "a line of the wrong length");
    sample_index.emplace(samples[r][c_sample], r - 1);
    is_qc.push_back(samples[r][c_role] == "QC");
    subject.push_back(static_cast<std::size_t>(Number(samples[r][c_subject], samples_path)));
  }
  const std::string compounds_path = Join_Path(study_dir, kSignalCompoundsName);
  const auto compounds = Read_Table(compounds_path);
  std::vector<std::pair<double, double>> catalogue;  // mass, rt
  for (std::size_t r = 1; r < compounds.size(); ++r) {
    if (compounds[r].size() != 3) Fail(compounds_path, "a line without three fields");
    catalogue.emplace_back(Number(compounds[r][1], compounds_path),
                           Number(compounds[r][2], compounds_path));
  }
  const std::string truth_path = Join_Path(study_dir, kSignalTruthName);
  std::vector<std::vector<double>> truth(catalogue.size(), std::vector<double>(is_qc.size(), kNaN));
  {
    const auto lines = Read_Table(truth_path);
    for (std::size_t r = 1; r < lines.size(); ++r) {
      if (lines[r].size() != 3) Fail(truth_path, "a line without three fields");
      const auto s = sample_index.find(lines[r][0]);
      const double c = Number(lines[r][1], truth_path);
      if (s == sample_index.end() || !(c >= 1) || c > catalogue.size()) {
        Fail(truth_path, "names an unknown sample or compound");
      }
      truth[static_cast<std::size_t>(c) - 1][s->second] = Number(lines[r][2], truth_path);
    }
  }
  const std::string model_path = Join_Path(study_dir, kSignalModelName);
  for (const auto& line : Read_Table(model_path)) {
    if (line.size() == 2 && line[0] == "noise_pct") {
      e.noise_error = Noise_Median_Relative_Error(Number(line[1], model_path) / 100);
    }
  }
  // The table.
  const auto table = Read_Table(table_path);
  const std::vector<std::string>& header = table[0];
  const std::size_t c_mass = Column(header, "Mass", table_path);
  const std::size_t c_rt = Column(header, "Align_RT", table_path);
  const std::size_t first_sample = Column(header, "Samples_Present", table_path) + 1;
  std::vector<std::size_t> column_sample;
  for (std::size_t c = first_sample; c < header.size(); ++c) {
    const auto s = sample_index.find(header[c]);
    if (s == sample_index.end())
      Fail(table_path, "sample \"" + header[c] + "\" is not of the study");
    column_sample.push_back(s->second);
  }
  // Compound of each feature.
  std::map<std::size_t, std::pair<std::size_t, std::size_t>> best;  // compound -> (values, row)
  e.features = table.size() - 1;
  for (std::size_t r = 1; r < table.size(); ++r) {
    const auto& row = table[r];
    if (row.size() != header.size())
      Fail(table_path, "line " + std::to_string(r + 1) + " is short");
    const double mass = Number(row[c_mass], table_path);
    const double rt = Number(row[c_rt], table_path);
    std::size_t found = catalogue.size(), candidates = 0;
    double nearest = 0;
    for (std::size_t c = 0; c < catalogue.size(); ++c) {
      const double ppm = 1e6 * std::fabs(mass - catalogue[c].first) / catalogue[c].first;
      const double seconds = std::fabs(rt - catalogue[c].second);
      if (ppm > kMatchPpm || seconds > kMatchSeconds) continue;
      ++candidates;
      const double d =
          ppm * ppm / (kMatchPpm * kMatchPpm) + seconds * seconds / (kMatchSeconds * kMatchSeconds);
      if (found == catalogue.size() || d < nearest) found = c, nearest = d;
    }
    if (candidates != 1) continue;
    std::size_t values = 0;
    for (std::size_t c = first_sample; c < header.size(); ++c) values += !row[c].empty();
    auto [it, added] = best.emplace(found, std::make_pair(values, r));
    if (!added && values > it->second.first) it->second = {values, r};
  }
  std::vector<double> errors, replicate, qc;
  std::vector<double> ratios;
  std::vector<double> value(is_qc.size());
  for (const auto& [compound, chosen] : best) {
    const auto& row = table[chosen.second];
    ++e.matched;
    std::fill(value.begin(), value.end(), kNaN);
    for (std::size_t c = first_sample; c < header.size(); ++c) {
      value[column_sample[c - first_sample]] = Number(row[c], table_path);
    }
    ratios.clear();
    std::vector<double> qc_values;
    std::map<std::size_t, std::vector<double>> by_subject;
    for (std::size_t s = 0; s < value.size(); ++s) {
      if (!(value[s] > 0)) continue;
      if (is_qc[s]) {
        qc_values.push_back(value[s]);
        continue;
      }
      ratios.push_back(value[s] / truth[compound][s]);
      by_subject[subject[s]].push_back(value[s]);
    }
    const double scale = Median(ratios);
    for (double r : ratios) errors.push_back(std::fabs(r / scale - 1));
    e.values += ratios.size();
    for (const auto& [k, v] : by_subject) {
      if (v.size() >= 2) replicate.push_back(Rsd(v));
    }
    if (qc_values.size() >= 2) qc.push_back(Rsd(qc_values));
  }
  e.relative_error = Median(errors);
  e.replicate_rsd = Median(replicate);
  e.qc_rsd = Median(qc);
  const std::string record_path = table_path + ".signal.tsv";
  if (std::ifstream(record_path).good()) {
    const auto record = Read_Table(record_path, true);
    const std::size_t c_before = Column(record[0], "QC_RSD_Before", record_path);
    const std::size_t c_after = Column(record[0], "QC_RSD_After", record_path);
    std::vector<double> before, after;
    for (std::size_t r = 1; r < record.size(); ++r) {
      if (record[r].size() != record[0].size()) Fail(record_path, "a line of the wrong length");
      const double b = Number(record[r][c_before], record_path);
      const double a = Number(record[r][c_after], record_path);
      if (!std::isnan(b)) before.push_back(b);
      if (!std::isnan(a)) after.push_back(a);
    }
    e.held_out_before = Median(before);
    e.held_out_after = Median(after);
  }
  return e;
}

std::string Format_Signal_Evaluations(const std::vector<Signal_Evaluation>& evaluations) {
  std::string out =
      "table\tfeatures\tscored\tvalues\trelative_error_%\tnoise_%\terror/noise\t"
      "replicate_rsd_%\tqc_rsd_%\theld_out_qc_rsd_before_%\theld_out_qc_rsd_after_%\n";
  for (const Signal_Evaluation& e : evaluations) {
    out += e.table;
    for (std::size_t n : {e.features, e.matched, e.values}) {
      out.push_back('\t');
      Append_Unsigned(n, out);
    }
    for (double v : {100 * e.relative_error, 100 * e.noise_error, e.relative_error / e.noise_error,
                     e.replicate_rsd, e.qc_rsd, e.held_out_before, e.held_out_after}) {
      out.push_back('\t');
      Append_Fixed(v, 2, out);
    }
    out.push_back('\n');
  }
  return out;
}
