#include "export/sample_sheet.h"

#include <charconv>
#include <cmath>
#include <fstream>
#include <map>
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
    first = false;
    if (header) {
      with_order = fields.size() == 3;
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
      const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), order);
      if (text.empty() || ec != std::errc() || end != text.data() + text.size() ||
          !std::isfinite(order)) {
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

std::vector<std::string> Groups_Of(const std::vector<Result_Sample>& samples,
                                   const Sample_Sheet& sheet) {
  std::map<std::string, std::string> group_of(sheet.rows.begin(), sheet.rows.end());
  std::vector<std::string> groups;
  std::vector<std::string> missing;
  for (const Result_Sample& s : samples) {
    auto it = group_of.find(s.shown);
    if (it == group_of.end()) it = group_of.find(s.name);
    if (it == group_of.end()) {
      missing.push_back(s.shown);
      continue;
    }
    groups.push_back(it->second);
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
  return groups;
}
