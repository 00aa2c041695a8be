#include "tools/evaluate.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string_view>
#include <utility>

#include "storage/aligned_result.h"
#include "storage/sqlite/number_text.h"

namespace {

constexpr std::string_view kTruthHeader = "sample,EIC_ID,Peak_ID,true_compound";

bool Parse_Unsigned(std::string_view text, std::uint32_t& value) {
  if (text.empty()) return false;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size();
}

std::uint64_t Pairs(std::uint64_t n) { return n * (n - 1) / 2; }

// Pairs of different samples among items with the same key, summed over the
// keys whose `counted` is true. REQUIRES: items sorted by (key, sample).
template <typename Counted>
std::uint64_t Cross_Sample_Pairs(const std::vector<std::pair<std::uint64_t, std::uint32_t>>& items,
                                 Counted counted) {
  std::uint64_t total = 0;
  std::size_t i = 0;
  while (i < items.size()) {
    std::size_t j = i;
    std::uint64_t within = 0;
    while (j < items.size() && items[j].first == items[i].first) {
      std::size_t k = j;
      while (k < items.size() && items[k].first == items[i].first &&
             items[k].second == items[j].second) {
        ++k;
      }
      within += Pairs(k - j);
      j = k;
    }
    if (counted(items[i].first)) total += Pairs(j - i) - within;
    i = j;
  }
  return total;
}

Pair_Score Score(const std::vector<Scored_Peak>& units) {
  std::vector<std::pair<std::uint64_t, std::uint32_t>> truth, found, both;
  truth.reserve(units.size());
  found.reserve(units.size());
  both.reserve(units.size());
  for (const Scored_Peak& p : units) {
    truth.emplace_back(p.truth, p.sample);
    found.emplace_back(p.align, p.sample);
    both.emplace_back((std::uint64_t{p.truth} << 32) | p.align, p.sample);
  }
  std::sort(truth.begin(), truth.end());
  std::sort(found.begin(), found.end());
  std::sort(both.begin(), both.end());
  Pair_Score s;
  s.true_pairs = Cross_Sample_Pairs(truth, [](std::uint64_t k) { return k != 0; });
  s.found_pairs = Cross_Sample_Pairs(found, [](std::uint64_t k) { return k != 0; });
  s.correct_pairs = Cross_Sample_Pairs(
      both, [](std::uint64_t k) { return (k >> 32) != 0 && (k & 0xffffffffULL) != 0; });
  s.precision = s.found_pairs == 0 ? 1.0 : static_cast<double>(s.correct_pairs) / s.found_pairs;
  s.recall = s.true_pairs == 0 ? 1.0 : static_cast<double>(s.correct_pairs) / s.true_pairs;
  s.f1 =
      s.precision + s.recall > 0.0 ? 2.0 * s.precision * s.recall / (s.precision + s.recall) : 0.0;
  return s;
}

// The value most of values hold; ties go to the smaller. REQUIRES: not empty.
std::uint32_t Most_Common(std::vector<std::uint32_t>& values) {
  std::sort(values.begin(), values.end());
  std::uint32_t best = values[0];
  std::size_t best_run = 0;
  for (std::size_t i = 0; i < values.size();) {
    std::size_t j = i;
    while (j < values.size() && values[j] == values[i]) ++j;
    if (j - i > best_run) {
      best_run = j - i;
      best = values[i];
    }
    i = j;
  }
  return best;
}

std::vector<Scored_Peak> Compound_Units(const std::vector<Scored_Peak>& peaks) {
  std::vector<Scored_Peak> sorted;
  for (const Scored_Peak& p : peaks) {
    if (p.compound_id != 0) sorted.push_back(p);
  }
  std::sort(sorted.begin(), sorted.end(), [](const Scored_Peak& a, const Scored_Peak& b) {
    return a.sample < b.sample || (a.sample == b.sample && a.compound_id < b.compound_id);
  });
  std::vector<Scored_Peak> units;
  std::vector<std::uint32_t> truths, aligns;
  for (std::size_t i = 0; i < sorted.size();) {
    std::size_t j = i;
    truths.clear();
    aligns.clear();
    while (j < sorted.size() && sorted[j].sample == sorted[i].sample &&
           sorted[j].compound_id == sorted[i].compound_id) {
      truths.push_back(sorted[j].truth);
      aligns.push_back(sorted[j].align);
      ++j;
    }
    units.push_back(
        {sorted[i].sample, sorted[i].compound_id, Most_Common(truths), Most_Common(aligns)});
    i = j;
  }
  return units;
}

[[noreturn]] void Fail(const std::string& path, const std::string& what) {
  throw Evaluation_Error(path + ": " + what);
}

}  // namespace

std::string Ground_Truth::Key(const std::string& sample, std::uint32_t eic, std::uint32_t peak) {
  std::string key = sample;
  key.push_back('\0');
  key.append(reinterpret_cast<const char*>(&eic), sizeof eic);
  key.append(reinterpret_cast<const char*>(&peak), sizeof peak);
  return key;
}

void Ground_Truth::Add(const std::string& sample, std::uint32_t eic, std::uint32_t peak,
                       std::uint32_t compound) {
  truth_.emplace(Key(sample, eic, peak), compound);
}

bool Ground_Truth::Find(const std::string& sample, std::uint32_t eic, std::uint32_t peak,
                        std::uint32_t& compound) const {
  const auto it = truth_.find(Key(sample, eic, peak));
  if (it == truth_.end()) return false;
  compound = it->second;
  return true;
}

Ground_Truth Ground_Truth::Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) Fail(path, "cannot open the ground truth");
  Ground_Truth truth;
  std::string line;
  if (!std::getline(in, line))
    Fail(path, "empty file, expected the header " + std::string(kTruthHeader));
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (line != kTruthHeader) {
    Fail(path, "line 1: expected the header \"" + std::string(kTruthHeader) + "\"");
  }
  std::size_t number = 1;
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    std::string_view fields[4];
    std::size_t count = 0, start = 0;
    for (std::size_t i = 0; i <= line.size(); ++i) {
      if (i == line.size() || line[i] == ',') {
        if (count < 4) fields[count] = std::string_view(line).substr(start, i - start);
        ++count;
        start = i + 1;
      }
    }
    const std::string where = "line " + std::to_string(number) + ": ";
    if (count != 4) Fail(path, where + "expected 4 fields, found " + std::to_string(count));
    std::uint32_t eic = 0, peak = 0, compound = 0;
    if (fields[0].empty()) Fail(path, where + "empty sample name");
    if (!Parse_Unsigned(fields[1], eic)) Fail(path, where + "EIC_ID is not an unsigned number");
    if (!Parse_Unsigned(fields[2], peak)) Fail(path, where + "Peak_ID is not an unsigned number");
    if (!Parse_Unsigned(fields[3], compound)) {
      Fail(path, where + "true_compound is not an unsigned number");
    }
    const std::string sample(fields[0]);
    std::uint32_t known = 0;
    if (truth.Find(sample, eic, peak, known)) {
      Fail(path, where + "peak listed twice (" + sample + ", EIC_ID " + std::to_string(eic) +
                     ", Peak_ID " + std::to_string(peak) + ")");
    }
    truth.Add(sample, eic, peak, compound);
  }
  if (in.bad()) Fail(path, "read failed");
  if (truth.size() == 0) Fail(path, "the ground truth lists no peak");
  return truth;
}

std::vector<Scored_Peak> Label_Peaks(
    const std::vector<Chromatogram_Peak_Group_Compound_Align>& list, const Ground_Truth& truth,
    const std::string& result_name) {
  std::vector<Scored_Peak> peaks;
  peaks.reserve(list.size());
  for (const auto& r : list) {
    Scored_Peak p{r.SAMPLE_ID, r.Compound_ID, 0, r.Align_ID};
    if (!truth.Find(r.SAMPLE_NAME, r.EIC_ID, r.Peak_ID, p.truth)) {
      Fail(result_name, "the ground truth does not list the peak of sample " + r.SAMPLE_NAME +
                            ", EIC_ID " + std::to_string(r.EIC_ID) + ", Peak_ID " +
                            std::to_string(r.Peak_ID) + " (is it the truth of this study?)");
    }
    peaks.push_back(p);
  }
  return peaks;
}

std::vector<Scored_Peak> Read_Scored_Result(const std::string& path, const Ground_Truth& truth) {
  static constexpr std::size_t kColumns[] = {Column_Of("SAMPLE_NAME"), Column_Of("SAMPLE_ID"),
                                             Column_Of("EIC_ID"),      Column_Of("Peak_ID"),
                                             Column_Of("Compound_ID"), Column_Of("Align_ID")};
  std::vector<Chromatogram_Peak_Group_Compound_Align> rows;
  try {
    Aligned_Result result(path);
    Result_Rows row =
        result.Scan({"SAMPLE_NAME", "SAMPLE_ID", "EIC_ID", "Peak_ID", "Compound_ID", "Align_ID"});
    while (row.Next()) {
      Chromatogram_Peak_Group_Compound_Align r;
      std::uint32_t* ids[] = {&r.SAMPLE_ID, &r.EIC_ID, &r.Peak_ID, &r.Compound_ID, &r.Align_ID};
      for (std::size_t c : kColumns) {
        if (row.Is_Null(c)) {
          Fail(path, "row " + std::to_string(rows.size() + 1) + ": " + kAlignColumns[c].name +
                         " is NULL");
        }
      }
      r.SAMPLE_NAME = std::string(row.Text(kColumns[0]));
      for (int c = 1; c < 6; ++c) {
        try {
          *ids[c - 1] = static_cast<std::uint32_t>(Strict_Int(row.Text(kColumns[c])));
        } catch (const std::exception&) {
          Fail(path, "row " + std::to_string(rows.size() + 1) + ": " +
                         kAlignColumns[kColumns[c]].name + " is not a 32-bit integer");
        }
      }
      rows.push_back(std::move(r));
    }
  } catch (const Aligned_Result_Error& e) {
    throw Evaluation_Error(e.what());
  }
  if (rows.empty()) Fail(path, "the aligned result holds no peaks");
  return Label_Peaks(rows, truth, path);
}

Evaluation Score_Alignment(const std::vector<Scored_Peak>& all, bool curated_only) {
  std::vector<Scored_Peak> curated;
  if (curated_only) {
    for (const Scored_Peak& p : all) {
      if (p.truth != 0) curated.push_back(p);
    }
  }
  const std::vector<Scored_Peak>& peaks = curated_only ? curated : all;
  Evaluation e;
  e.peaks = peaks.size();
  e.peak_level = Score(peaks);
  const std::vector<Scored_Peak> units = Compound_Units(peaks);
  e.compound_units = units.size();
  e.compound_level = Score(units);
  return e;
}

std::string Format_Evaluation(const Evaluation& evaluation) {
  std::ostringstream out;
  char line[160];
  std::snprintf(line, sizeof line, "%-9s %9s %14s %14s %14s %9s %9s %9s\n", "level", "units",
                "true_pairs", "found_pairs", "correct_pairs", "precision", "recall", "F1");
  out << line;
  auto row = [&](const char* name, std::size_t units, const Pair_Score& s) {
    std::snprintf(line, sizeof line, "%-9s %9zu %14llu %14llu %14llu %9.4f %9.4f %9.4f\n", name,
                  units, static_cast<unsigned long long>(s.true_pairs),
                  static_cast<unsigned long long>(s.found_pairs),
                  static_cast<unsigned long long>(s.correct_pairs), s.precision, s.recall, s.f1);
    out << line;
  };
  row("peak", evaluation.peaks, evaluation.peak_level);
  row("compound", evaluation.compound_units, evaluation.compound_level);
  return out.str();
}
