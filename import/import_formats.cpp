#include "import/import_formats.h"

#include <cstdio>
#include <memory>

#include "import/import_common.h"

namespace {

constexpr Import_Format_Info kFormats[] = {
    {Import_Format::kFeatureXml, "featurexml", "OpenMS featureXML (one file per sample)",
     "featureXML Files (*.featureXML *.featurexml)", Rt_Unit::kSeconds, true,
     &import_detail::Read_FeatureXml},
    {Import_Format::kMzmine, "mzmine", "MZmine feature-list CSV export", "CSV Files (*.csv)",
     Rt_Unit::kMinutes, false, &import_detail::Read_Mzmine},
    {Import_Format::kXcms, "xcms", "XCMS chromPeaks as CSV", "CSV Files (*.csv *.tsv *.txt)",
     Rt_Unit::kSeconds, false, &import_detail::Read_Table},
    {Import_Format::kTable, "table", "CSV/TSV table with a header", "Tables (*.csv *.tsv *.txt)",
     Rt_Unit::kSeconds, false, &import_detail::Read_Table},
};

bool Ends_With_Lower(std::string_view text, std::string_view suffix) {
  if (text.size() < suffix.size()) return false;
  text = text.substr(text.size() - suffix.size());
  for (std::size_t i = 0; i < suffix.size(); ++i) {
    const char c = text[i] >= 'A' && text[i] <= 'Z' ? static_cast<char>(text[i] + 32) : text[i];
    if (c != suffix[i]) return false;
  }
  return true;
}

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  return out;
}

// The names of a header line's fields (any of tab, comma, semicolon), lower
// case, without quotes and blanks.
std::vector<std::string> Header_Names(std::string_view line) {
  const char delimiter = line.find('\t') != std::string_view::npos  ? '\t'
                         : line.find(',') != std::string_view::npos ? ','
                                                                    : ';';
  std::vector<std::string> names;
  std::size_t begin = 0;
  for (;;) {
    const std::size_t end = line.find(delimiter, begin);
    std::string_view field = import_detail::Trim(line.substr(begin, end - begin));
    if (field.size() >= 2 && field.front() == '"' && field.back() == '"') {
      field = field.substr(1, field.size() - 2);
    }
    names.push_back(Lower(field));
    if (end == std::string_view::npos) break;
    begin = end + 1;
  }
  return names;
}

// The format a file's name suggests, for content that fits none: ".featureXML"
// is featureXML, ".csv", ".tsv" and ".txt" a table.
std::optional<Import_Format> Format_Of_Name(std::string_view path) {
  if (Ends_With_Lower(path, ".featurexml")) return Import_Format::kFeatureXml;
  for (const std::string_view suffix : {".csv", ".tsv", ".txt"}) {
    if (Ends_With_Lower(path, suffix)) return Import_Format::kTable;
  }
  return std::nullopt;
}

}  // namespace

std::span<const Import_Format_Info> Import_Formats() { return kFormats; }

const Import_Format_Info& Format_Info(Import_Format format) {
  for (const Import_Format_Info& info : kFormats) {
    if (info.format == format) return info;
  }
  return kFormats[0];  // every enumerator is in the table
}

std::optional<Import_Format> Parse_Import_Format(std::string_view name) {
  for (const Import_Format_Info& info : kFormats) {
    if (info.name == name) return info.format;
  }
  return std::nullopt;
}

std::string Import_Format_Names(std::string_view separator) {
  std::string names;
  for (const Import_Format_Info& info : kFormats) {
    if (!names.empty()) names += separator;
    names += info.name;
  }
  return names;
}

namespace {

// The format that a file's first bytes show, nullopt when they fit none.
std::optional<Import_Format> Format_Of_Content(std::string_view text) {
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  const std::string_view trimmed = import_detail::Trim(text);
  if (trimmed.starts_with("<")) {
    // XML: featureXML when its root element is featureMap.
    std::size_t at = 0;
    while ((at = trimmed.find('<', at)) != std::string_view::npos) {
      const std::string_view rest = trimmed.substr(at + 1);
      if (!rest.starts_with("?") && !rest.starts_with("!")) {
        return rest.starts_with("featureMap") ? std::optional(Import_Format::kFeatureXml)
                                              : std::nullopt;
      }
      ++at;
    }
    return std::nullopt;
  }
  // A table: the header line decides.
  std::string_view line = trimmed.substr(0, trimmed.find_first_of("\r\n"));
  if (line.empty()) return std::nullopt;
  const std::vector<std::string> names = Header_Names(line);
  bool sample = false, mz = false, rt = false, xcms_intensity = false;
  for (const std::string& name : names) {
    if (name.starts_with("datafile:") && name.ends_with(":mz")) return Import_Format::kMzmine;
    if (name.ends_with(" peak m/z") || name.ends_with(" feature m/z")) {
      return Import_Format::kMzmine;
    }
    sample = sample || name == "sample";
    mz = mz || name == "mz";
    rt = rt || name == "rt";
    xcms_intensity = xcms_intensity || name == "maxo" || name == "into";
  }
  if (sample && mz && rt && xcms_intensity) return Import_Format::kXcms;
  if (names.size() >= 2) return Import_Format::kTable;
  return std::nullopt;
}

}  // namespace

std::optional<Import_Format> Guess_Import_Format(const std::string& path) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                       &std::fclose);
  if (!file) return std::nullopt;
  std::string start(1 << 16, '\0');
  start.resize(std::fread(start.data(), 1, start.size(), file.get()));
  if (const std::optional<Import_Format> format = Format_Of_Content(start)) return format;
  return Format_Of_Name(path);
}
