#include "export/sample_sheet.h"

#include <array>
#include <charconv>
#include <cmath>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <stdexcept>

namespace {

std::string Trim(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t");
  return std::string(text.substr(first, last - first + 1));
}

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// A header name as compared: lower case, without spaces, "_", "-" and ".".
std::string Header_Key(std::string_view text) {
  std::string key;
  for (char c : text) {
    if (c == ' ' || c == '_' || c == '-' || c == '.' || c == '\t') continue;
    key.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
  }
  return key;
}

enum Sheet_Fact { kSampleFact, kGroupFact, kOrderFact, kBatchFact, kConditioningFact, kFacts };

constexpr const char* kFactNames[kFacts] = {"sample", "group", "order", "batch", "conditioning"};

int Fact_Of(std::string_view header) {
  static const std::map<std::string, int> kKnown = {
      {"sample", kSampleFact},
      {"samplename", kSampleFact},
      {"sampleid", kSampleFact},
      {"name", kSampleFact},
      {"filename", kSampleFact},
      {"group", kGroupFact},
      {"class", kGroupFact},
      {"classes", kGroupFact},
      {"label", kGroupFact},
      {"sampletype", kGroupFact},
      {"order", kOrderFact},
      {"injectionorder", kOrderFact},
      {"runorder", kOrderFact},
      {"sampleorder", kOrderFact},
      {"acquisitionorder", kOrderFact},
      {"batch", kBatchFact},
      {"batchid", kBatchFact},
      {"batchnumber", kBatchFact},
      {"batchno", kBatchFact},
      {"conditioning", kConditioningFact},
      {"conditioningqc", kConditioningFact},
  };
  const auto it = kKnown.find(Header_Key(header));
  return it == kKnown.end() ? -1 : it->second;
}

// The column of each fact in a header of named columns (-1: none); nullopt
// when the line names no sample or no group column. Sets twice to the fact
// named by two columns.
std::optional<std::array<int, kFacts>> Named_Columns(const std::vector<std::string>& fields,
                                                     int& twice) {
  std::array<int, kFacts> column;
  column.fill(-1);
  twice = -1;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const int fact = Fact_Of(fields[i]);
    if (fact < 0) continue;
    if (column[fact] >= 0 && twice < 0) twice = fact;
    if (column[fact] < 0) column[fact] = static_cast<int>(i);
  }
  if (column[kSampleFact] < 0 || column[kGroupFact] < 0) return std::nullopt;
  return column;
}

bool Parse_Order(const std::string& text, double& order) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), order);
  return !text.empty() && ec == std::errc() && end == text.data() + text.size() &&
         std::isfinite(order);
}

}  // namespace

bool Split_Csv_Line(std::string_view line, std::vector<std::string>& fields) {
  fields.clear();
  std::string field;
  bool quoted = false;
  bool was_quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted) {
      if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
        field.push_back('"');
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        field.push_back(c);
      }
    } else if (c == '"' && Trim(field).empty() && !was_quoted) {
      quoted = was_quoted = true;
      field.clear();
    } else if (c == ',') {
      fields.push_back(was_quoted ? field : Trim(field));
      field.clear();
      was_quoted = false;
    } else if (!(was_quoted && (c == ' ' || c == '\t'))) {
      field.push_back(c);
    }
  }
  if (quoted) return false;
  fields.push_back(was_quoted ? field : Trim(field));
  return true;
}

Sample_Sheet Read_Sample_Sheet(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  if (in) content << in.rdbuf();
  if (!in || in.bad()) throw std::runtime_error(path + ": cannot read the sample sheet");
  std::string text = content.str();
  if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
  Sample_Sheet sheet;
  sheet.path = path;
  std::map<std::string, std::size_t> line_of;
  std::vector<std::string> fields;
  std::size_t line_number = 0;
  std::size_t start = 0;
  bool first = true;
  bool with_order = false;
  std::optional<std::array<int, kFacts>> named;
  std::size_t named_fields = 0;
  auto fail = [&](const std::string& what) {
    throw std::runtime_error(path + " line " + std::to_string(line_number) + ": " + what);
  };
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string_view line(text.data() + start, end - start);
    start = end + 1;
    ++line_number;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (Trim(line).empty()) continue;
    if (!Split_Csv_Line(line, fields)) fail("unterminated quote");
    const bool header = first && (fields.size() == 2 || fields.size() == 3) &&
                        Lower(fields[0]) == "sample" && Lower(fields[1]) == "group" &&
                        (fields.size() == 2 || Lower(fields[2]) == "order");
    if (first && !header) {
      int twice = -1;
      named = Named_Columns(fields, twice);
      if (named && twice >= 0) {
        fail(std::string("two columns give the ") + kFactNames[twice]);
      }
      if (named) {
        first = false;
        named_fields = fields.size();
        continue;
      }
    }
    first = false;
    if (header) {
      with_order = fields.size() == 3;
      continue;
    }
    if (named) {
      if (fields.size() != named_fields) {
        fail("expected " + std::to_string(named_fields) + " fields, as the header names, found " +
             std::to_string(fields.size()));
      }
      const std::array<int, kFacts>& c = *named;
      const std::string& sample = fields[c[kSampleFact]];
      const std::string& group = fields[c[kGroupFact]];
      if (sample.empty()) fail("empty sample name");
      if (group.empty()) fail("empty group for sample \"" + sample + "\"");
      if (c[kOrderFact] >= 0) {
        double order = 0.0;
        const std::string& text = fields[c[kOrderFact]];
        if (!Parse_Order(text, order)) {
          fail("order \"" + text + "\" of sample \"" + sample + "\" is not a number");
        }
        sheet.order.push_back(order);
      }
      if (c[kBatchFact] >= 0) {
        const std::string& batch = fields[c[kBatchFact]];
        if (batch.empty()) fail("empty batch for sample \"" + sample + "\"");
        sheet.batch.push_back(batch);
      }
      if (c[kConditioningFact] >= 0) {
        const std::string mark = Lower(fields[c[kConditioningFact]]);
        const bool yes = mark == "yes" || mark == "true" || mark == "1" || mark == "y";
        const bool no =
            mark.empty() || mark == "no" || mark == "false" || mark == "0" || mark == "n";
        if (!yes && !no) {
          fail("conditioning \"" + fields[c[kConditioningFact]] + "\" of sample \"" + sample +
               "\" is not yes or no");
        }
        sheet.conditioning.push_back(yes ? 1 : 0);
      }
      const auto [it, added] = line_of.emplace(sample, line_number);
      if (!added) {
        fail("sample \"" + sample + "\" named again (first on line " + std::to_string(it->second) +
             ")");
      }
      sheet.rows.emplace_back(sample, group);
      continue;
    }
    if (with_order && fields.size() != 3) {
      fail("expected three fields, sample, group and order, found " +
           std::to_string(fields.size()));
    }
    if (!with_order && fields.size() != 2) {
      fail("expected two fields, sample and group, found " + std::to_string(fields.size()));
    }
    if (with_order) {
      double order = 0.0;
      const std::string& text = fields[2];
      if (!Parse_Order(text, order)) {
        fail("order \"" + text + "\" of sample \"" + fields[0] + "\" is not a number");
      }
      sheet.order.push_back(order);
    }
    if (fields[0].empty()) fail("empty sample name");
    if (fields[1].empty()) fail("empty group for sample \"" + fields[0] + "\"");
    const auto [it, added] = line_of.emplace(fields[0], line_number);
    if (!added) {
      fail("sample \"" + fields[0] + "\" named again (first on line " + std::to_string(it->second) +
           ")");
    }
    sheet.rows.emplace_back(fields[0], fields[1]);
  }
  if (sheet.rows.empty()) throw std::runtime_error(path + ": the sample sheet names no sample");
  return sheet;
}

std::vector<std::size_t> Sheet_Rows_Of(const std::vector<Result_Sample>& samples,
                                       const Sample_Sheet& sheet) {
  std::map<std::string, std::size_t> row_of;
  for (std::size_t r = 0; r < sheet.rows.size(); ++r) row_of.emplace(sheet.rows[r].first, r);
  std::vector<std::size_t> rows;
  std::vector<std::string> missing;
  for (const Result_Sample& s : samples) {
    auto it = row_of.find(s.shown);
    if (it == row_of.end()) it = row_of.find(s.name);
    if (it == row_of.end()) {
      missing.push_back(s.shown);
      continue;
    }
    rows.push_back(it->second);
  }
  if (!missing.empty()) {
    std::string list;
    for (std::size_t i = 0; i < missing.size() && i < 5; ++i) {
      list += (i ? ", \"" : "\"") + missing[i] + "\"";
    }
    if (missing.size() > 5) list += " and " + std::to_string(missing.size() - 5) + " more";
    throw std::runtime_error(sheet.path + ": no group for sample" +
                             (missing.size() > 1 ? "s " : " ") + list);
  }
  return rows;
}

std::vector<std::string> Groups_Of(const std::vector<Result_Sample>& samples,
                                   const Sample_Sheet& sheet) {
  std::vector<std::string> groups;
  for (std::size_t r : Sheet_Rows_Of(samples, sheet)) groups.push_back(sheet.rows[r].second);
  return groups;
}
