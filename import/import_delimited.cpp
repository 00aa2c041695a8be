// The delimited formats: a generic CSV/TSV table, XCMS's chromPeaks written
// as CSV, and MZmine's feature-list CSV export.
#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "import/import_common.h"

namespace import_detail {

namespace {

bool Same_Name(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// Records of a CSV or TSV text (RFC 4180 quoting: a field in double quotes
// may hold the delimiter, line breaks and "" for a quote). The delimiter is
// the header line's first tab, else comma, else semicolon. Blank lines are
// skipped; "\r\n" ends a line like "\n", and in a text without any "\n" so
// does "\r" (old Mac line ends). Quoted fields are unescaped in place. UTF-16
// text (with or without its byte-order mark) is refused with what to do.
class Delimited_Text {
 public:
  Delimited_Text(std::string text, const std::string& file) : text_(std::move(text)), file_(file) {
    const std::string_view start = std::string_view(text_).substr(0, 4096);
    if (start.starts_with("\xFF\xFE") || start.starts_with("\xFE\xFF") ||
        start.find('\0') != std::string_view::npos) {
      const bool utf16 = start.starts_with("\xFF\xFE") || start.starts_with("\xFE\xFF") ||
                         (start.size() >= 2 && (start[0] == '\0' || start[1] == '\0'));
      Place{&file_}.Fail(utf16 ? "the file is UTF-16 text; save it as UTF-8 (or \"CSV UTF-8\") "
                                 "and import that"
                               : "the file holds NUL bytes: not a text table");
    }
    if (text_.find('\n') == std::string::npos) std::replace(text_.begin(), text_.end(), '\r', '\n');
    if (text_.starts_with("\xEF\xBB\xBF")) pos_ = 3;  // a UTF-8 byte-order mark
    const std::string_view first =
        std::string_view(text_).substr(pos_, text_.find('\n', pos_) - pos_);
    delimiter_ = first.find('\t') != std::string_view::npos  ? '\t'
                 : first.find(',') != std::string_view::npos ? ','
                 : first.find(';') != std::string_view::npos ? ';'
                                                             : ',';
  }

  // The next record's fields (views into the text), false at the end.
  bool Next(std::vector<std::string_view>& fields);
  std::size_t line() const { return record_line_; }

 private:
  bool At_Line_End(std::size_t at) const {
    return at >= text_.size() || text_[at] == '\n' ||
           (text_[at] == '\r' && (at + 1 == text_.size() || text_[at + 1] == '\n'));
  }

  std::string text_;
  const std::string& file_;
  std::size_t pos_ = 0;
  std::size_t line_ = 1;
  std::size_t record_line_ = 0;
  char delimiter_ = ',';
};

bool Delimited_Text::Next(std::vector<std::string_view>& fields) {
  const std::size_t n = text_.size();
  while (pos_ < n) {  // blank lines
    std::size_t at = pos_;
    while (at < n && (text_[at] == ' ' || text_[at] == '\t' || text_[at] == '\r')) ++at;
    if (at < n && text_[at] != '\n') break;
    pos_ = at < n ? at + 1 : n;
    if (at < n) ++line_;
  }
  if (pos_ >= n) return false;
  record_line_ = line_;
  fields.clear();
  for (;;) {
    if (text_[pos_] == '"') {
      const std::size_t begin = ++pos_;
      std::size_t out = begin;
      for (;;) {
        if (pos_ >= n) Place{&file_, record_line_}.Fail("a quoted field is not closed");
        const char c = text_[pos_];
        if (c == '"') {
          if (pos_ + 1 < n && text_[pos_ + 1] == '"') {
            text_[out++] = '"';
            pos_ += 2;
            continue;
          }
          ++pos_;
          break;
        }
        if (c == '\n') ++line_;
        text_[out++] = c;
        ++pos_;
      }
      fields.emplace_back(text_.data() + begin, out - begin);
      if (pos_ < n && text_[pos_] != delimiter_ && !At_Line_End(pos_)) {
        Place{&file_, line_}.Fail("text after a closing quote");
      }
    } else {
      const std::size_t begin = pos_;
      while (pos_ < n && text_[pos_] != delimiter_ && text_[pos_] != '\n') ++pos_;
      std::size_t end = pos_;
      if (end > begin && text_[end - 1] == '\r') --end;
      fields.emplace_back(text_.data() + begin, end - begin);
    }
    if (pos_ >= n) return true;
    if (text_[pos_] == delimiter_) {
      ++pos_;
      if (pos_ >= n) {
        fields.emplace_back();
        return true;
      }
      continue;
    }
    if (text_[pos_] == '\r') ++pos_;
    if (pos_ < n && text_[pos_] == '\n') {
      ++pos_;
      ++line_;
    }
    return true;
  }
}

// The header's names, trimmed, and the lookups the readers make.
class Header {
 public:
  Header(const std::vector<std::string_view>& fields, const std::string& file, std::size_t line)
      : file_(file), line_(line) {
    for (std::string_view f : fields) names_.emplace_back(Trim(f));
  }
  std::size_t size() const { return names_.size(); }
  std::size_t line() const { return line_; }
  const std::string& name(std::size_t i) const { return names_[i]; }

  // The column named `chosen`, or when chosen is empty the first of
  // defaults present; -1 when none. A chosen name that is missing fails.
  int Find(const std::string& chosen, std::initializer_list<std::string_view> defaults) const {
    if (!chosen.empty()) {
      const int at = Index(chosen);
      if (at < 0) Place{&file_, line_}.Fail("no column \"" + Shown(chosen) + "\"");
      return at;
    }
    for (std::string_view name : defaults) {
      if (const int at = Index(name); at >= 0) return at;
    }
    return -1;
  }
  // As Find, failing when nothing is found; `option` names the option that chooses it.
  int Require(const std::string& chosen, std::initializer_list<std::string_view> defaults,
              std::string_view what, std::string_view option) const {
    const int at = Find(chosen, defaults);
    if (at >= 0) return at;
    std::string names;
    for (std::string_view name : defaults)
      names += (names.empty() ? "\"" : ", \"") + std::string(name) + '"';
    Place{&file_, line_}.Fail("no " + std::string(what) + " column (looked for " + names +
                              "; choose one with " + std::string(option) + " NAME)");
  }

 private:
  // The column of that name; one named twice fails (which one is meant?).
  int Index(std::string_view name) const {
    int found = -1;
    for (std::size_t i = 0; i < names_.size(); ++i) {
      if (!Same_Name(names_[i], Trim(name))) continue;
      if (found >= 0) {
        Place{&file_, line_}.Fail("column \"" + Shown(names_[i]) + "\" appears twice (columns " +
                                  std::to_string(found + 1) + " and " + std::to_string(i + 1) +
                                  ")");
      }
      found = static_cast<int>(i);
    }
    return found;
  }

  std::vector<std::string> names_;
  const std::string& file_;
  std::size_t line_;
};

// The first record of path's text as its header; fails for a file without one.
Header Read_Header(Delimited_Text& text, const std::string& path,
                   std::vector<std::string_view>& fields) {
  if (!text.Next(fields)) Place{&path}.Fail("empty file (no header line)");
  return Header(fields, path, text.line());
}

// Checks each record's field count against the header's. When the first
// record has one field more, the table has R's row names in front
// (write.table's default): then every record must have that field, and loses
// it. Otherwise every record has the header's count.
class Width_Check {
 public:
  explicit Width_Check(const Header& header) : header_(header) {}

  void Check(std::vector<std::string_view>& fields, const Place& place) {
    const std::size_t n = header_.size();
    if (!row_names_) row_names_ = fields.size() == n + 1;
    if (fields.size() != (*row_names_ ? n + 1 : n)) {
      place.Fail(std::to_string(fields.size()) + " fields, the header has " + std::to_string(n) +
                 (*row_names_ ? " and the rows before have a row name in front (" +
                                    std::to_string(n + 1) + " fields)"
                              : std::string()));
    }
    if (*row_names_) fields.erase(fields.begin());
  }

 private:
  const Header& header_;
  std::optional<bool> row_names_;  // unset before the first record
};

bool In_Minutes(const Import_Options& options, Rt_Unit format_unit) {
  return options.rt_unit.value_or(format_unit) == Rt_Unit::kMinutes;
}

// A cell of column `column` at place: a number, or nullopt when missing.
std::optional<double> Optional_Number(const std::vector<std::string_view>& fields, int column,
                                      const Header& header, Place place) {
  if (column < 0 || Missing(fields[column])) return std::nullopt;
  place.column = header.name(column);
  return Required_Number(fields[column], place);
}

double Number_At(const std::vector<std::string_view>& fields, int column, const Header& header,
                 Place place) {
  place.column = header.name(column);
  return Required_Number(fields[column], place);
}

// A charge cell: a whole number, 0 when missing.
int Charge_At(const std::vector<std::string_view>& fields, int column, const Header& header,
              Place place) {
  const std::optional<double> value = Optional_Number(fields, column, header, place);
  if (!value) return 0;
  if (*value != std::trunc(*value) || std::fabs(*value) > 100.0) {
    place.column = header.name(column);
    place.Fail('"' + Shown(fields[column]) + "\" is not a charge");
  }
  return static_cast<int>(*value);
}

// The span from the start and end cells, in seconds; 0 when either is missing.
double Width_At(const std::vector<std::string_view>& fields, int start, int end,
                const Header& header, double factor, const Place& place) {
  const std::optional<double> low = Optional_Number(fields, start, header, place);
  const std::optional<double> high = Optional_Number(fields, end, header, place);
  if (!low || !high) return 0.0;
  if (*high < *low) {
    Place at = place;
    at.column = header.name(end);
    at.Fail("the retention-time range ends before it starts");
  }
  return (*high - *low) * factor;
}

}  // namespace

std::vector<Imported_Sample> Read_Table(const std::string& path, const Import_Options& options) {
  const bool xcms = options.format == Import_Format::kXcms;
  const Import_Columns& chosen = options.columns;
  Delimited_Text text(Read_Input(path), path);
  std::vector<std::string_view> fields;
  const Header header = Read_Header(text, path, fields);

  const int mz = xcms ? header.Require(chosen.mz, {"mz"}, "m/z", "--mz")
                      : header.Require(chosen.mz, {"mz", "m/z", "m.z", "mass"}, "m/z", "--mz");
  const int rt =
      xcms ? header.Require(chosen.rt, {"rt"}, "retention time", "--rt")
           : header.Require(chosen.rt, {"rt", "retention_time", "retention time", "rtmed", "time"},
                            "retention time", "--rt");
  const int intensity =
      xcms ? header.Find(chosen.intensity, {"maxo"})
           : header.Find(chosen.intensity, {"intensity", "height", "maxo", "abundance"});
  const int area =
      xcms ? header.Find(chosen.area, {"into"}) : header.Find(chosen.area, {"area", "into"});
  // Neither found: the same search again, which fails naming what it looked for.
  if (intensity < 0 && area < 0) {
    if (xcms) {
      header.Require(chosen.intensity, {"maxo", "into"}, "intensity", "--intensity");
    } else {
      header.Require(chosen.intensity, {"intensity", "height", "maxo", "abundance", "area", "into"},
                     "intensity", "--intensity");
    }
  }
  const int sample =
      xcms ? header.Require(chosen.sample, {"sample"}, "sample", "--sample")
           : header.Find(chosen.sample, {"sample", "sample_name", "file", "filename"});
  const int charge = header.Find(chosen.charge, {"charge", "z"});
  const int adduct = header.Find(chosen.adduct, {"adduct", "adduct_annotation"});
  const int rt_start = header.Find("", {"rtmin", "rt_min", "rt_start"});
  const int rt_end = header.Find("", {"rtmax", "rt_max", "rt_end"});
  const bool minutes = In_Minutes(options, Rt_Unit::kSeconds);
  const double factor = minutes ? 60.0 : 1.0;
  const Feature_Columns names{header.name(mz), header.name(rt),
                              adduct >= 0 ? std::string_view(header.name(adduct)) : "adduct"};
  const int height_column = intensity >= 0 ? intensity : area;

  Sample_Set samples;
  Imported_Sample* current = sample < 0 ? &samples.Get(Stem(path), Place{&path}) : nullptr;
  std::string current_name;
  Width_Check width(header);
  while (text.Next(fields)) {
    Check_Stop(options);
    const Place place{&path, text.line()};
    width.Check(fields, place);
    if (sample >= 0) {
      std::string_view name = Trim(fields[sample]);
      if (current == nullptr || name != current_name) {
        current_name = name;
        std::string sample_name(name);
        // XCMS numbers its samples: sample 3 is "sample_3".
        if (xcms && Number(name)) sample_name = "sample_" + sample_name;
        Place at = place;
        at.column = header.name(sample);
        current = &samples.Get(sample_name, at, name);
      }
    }
    Imported_Feature f;
    Place at = place;
    at.column = header.name(height_column);
    const std::optional<double> height = Intensity_Value(fields[height_column], at);
    if (!height) {  // not detected: no feature
      ++current->not_detected;
      continue;
    }
    f.height = *height;
    f.mz = Number_At(fields, mz, header, place);
    f.rt = Number_At(fields, rt, header, place) * factor;
    const std::optional<double> area_value = Optional_Number(fields, area, header, place);
    if (area_value && *area_value < 0.0) {
      at.column = header.name(area);
      at.Fail("negative area " + Shown(Trim(fields[area])));
    }
    if (area_value) f.area = *area_value;
    f.width = Width_At(fields, rt_start, rt_end, header, factor, place);
    if (adduct >= 0 && !Missing(fields[adduct])) f.adduct = Trim(fields[adduct]);
    Finish_Feature(f, Charge_At(fields, charge, header, place), options, minutes, names, place);
    current->features.push_back(std::move(f));
  }
  return samples.Take();
}

namespace {

// The per-sample fields of MZmine's export, as MZmine 3 ("datafile:FILE:mz")
// and MZmine 2 ("FILE Peak m/z") name them.
enum Mzmine_Field { kMz, kRt, kRtStart, kRtEnd, kHeight, kArea, kCharge, kStatus, kFieldCount };

struct Mzmine_Suffix {
  std::string_view text;
  Mzmine_Field field;
};
constexpr Mzmine_Suffix kMzmine3Suffixes[] = {
    {":mz", kMz},
    {":rt", kRt},
    {":rt_range:min", kRtStart},
    {":rt_range:max", kRtEnd},
    {":height", kHeight},
    {":area", kArea},
    {":charge", kCharge},
    {":feature_state", kStatus},
};
constexpr Mzmine_Suffix kMzmine2Suffixes[] = {
    {" m/z", kMz},        {" RT", kRt},     {" RT start", kRtStart}, {" RT end", kRtEnd},
    {" height", kHeight}, {" area", kArea}, {" charge", kCharge},    {" status", kStatus},
};
constexpr std::string_view kMzmineFieldNames[kFieldCount] = {
    "m/z", "retention time", "start", "end", "height", "area", "charge", "status"};

struct Mzmine_Sample {
  std::string file;  // the raw file's name as the export writes it
  int column[kFieldCount] = {-1, -1, -1, -1, -1, -1, -1, -1};
  Imported_Sample* sample = nullptr;
};

bool Ends_With(std::string_view text, std::string_view suffix) {
  return text.size() > suffix.size() && Same_Name(text.substr(text.size() - suffix.size()), suffix);
}

// The raw file and field a header name stands for; false for a row column.
bool Mzmine_Column(std::string_view name, std::string& file, Mzmine_Field& field) {
  if (name.size() > 9 && Same_Name(name.substr(0, 9), "datafile:")) {
    name.remove_prefix(9);
    for (const Mzmine_Suffix& s : kMzmine3Suffixes) {
      if (Ends_With(name, s.text)) {
        file = name.substr(0, name.size() - s.text.size());
        field = s.field;
        return true;
      }
    }
    return false;
  }
  for (std::string_view kind : {std::string_view(" Peak"), std::string_view(" Feature")}) {
    for (const Mzmine_Suffix& s : kMzmine2Suffixes) {
      const std::string suffix = std::string(kind) + std::string(s.text);
      if (Ends_With(name, suffix)) {
        file = name.substr(0, name.size() - suffix.size());
        field = s.field;
        return true;
      }
    }
  }
  return false;
}

}  // namespace

std::vector<Imported_Sample> Read_Mzmine(const std::string& path, const Import_Options& options) {
  Delimited_Text text(Read_Input(path), path);
  std::vector<std::string_view> fields;
  const Header header = Read_Header(text, path, fields);

  std::vector<Mzmine_Sample> files;
  for (std::size_t i = 0; i < header.size(); ++i) {
    std::string file;
    Mzmine_Field field;
    if (!Mzmine_Column(header.name(i), file, field)) continue;
    auto it = std::find_if(files.begin(), files.end(),
                           [&](const Mzmine_Sample& s) { return s.file == file; });
    if (it == files.end()) {
      files.push_back({file});
      it = files.end() - 1;
    }
    if (it->column[field] >= 0) {
      Place{&path, header.line()}.Fail(
          "column \"" + Shown(header.name(i)) + "\" appears twice (columns " +
          std::to_string(it->column[field] + 1) + " and " + std::to_string(i + 1) + ")");
    }
    it->column[field] = static_cast<int>(i);
  }
  if (files.empty()) {
    Place{&path, header.line()}.Fail(
        "no per-sample columns (\"datafile:FILE:mz\" or \"FILE Peak m/z\"): not an MZmine "
        "feature-list export");
  }
  Sample_Set samples;
  for (Mzmine_Sample& s : files) {
    for (Mzmine_Field needed : {kMz, kRt}) {
      if (s.column[needed] < 0) {
        Place{&path, header.line()}.Fail("no " + std::string(kMzmineFieldNames[needed]) +
                                         " column for " + Shown(s.file));
      }
    }
    if (s.column[kHeight] < 0 && s.column[kArea] < 0) {
      Place{&path, header.line()}.Fail("no height or area column for " + Shown(s.file));
    }
    // Raw files of one stem ("a.mzML" and "a.mzXML", "run1/a.mzML" and
    // "run2/a.mzML") would be one sample: refused.
    s.sample = &samples.Get(Stem(s.file), Place{&path, header.line()}, s.file);
  }
  const int row_charge = header.Find(options.columns.charge, {"charge", "row charge"});
  const int adduct = header.Find(options.columns.adduct, {"adduct", "row adduct"});
  const bool minutes = In_Minutes(options, Rt_Unit::kMinutes);
  const double factor = minutes ? 60.0 : 1.0;

  Width_Check width(header);
  while (text.Next(fields)) {
    Check_Stop(options);
    const Place place{&path, text.line()};
    width.Check(fields, place);
    std::string_view adduct_text;
    if (adduct >= 0 && !Missing(fields[adduct])) adduct_text = Trim(fields[adduct]);
    for (const Mzmine_Sample& s : files) {
      const int* c = s.column;
      // A sample without the feature: no m/z, m/z 0, status UNKNOWN, or an
      // intensity that is missing or 0.
      if (Missing(fields[c[kMz]]) ||
          (c[kStatus] >= 0 && Same_Name(Trim(fields[c[kStatus]]), "UNKNOWN"))) {
        ++s.sample->not_detected;
        continue;
      }
      Imported_Feature f;
      f.mz = Number_At(fields, c[kMz], header, place);
      if (f.mz == 0.0) {
        ++s.sample->not_detected;
        continue;
      }
      std::optional<double> height;
      std::optional<double> area;
      Place at = place;
      if (c[kHeight] >= 0) {
        at.column = header.name(c[kHeight]);
        height = Intensity_Value(fields[c[kHeight]], at);
      }
      if (c[kArea] >= 0) {
        at.column = header.name(c[kArea]);
        area = Intensity_Value(fields[c[kArea]], at);
      }
      if (!height && !area) {
        ++s.sample->not_detected;
        continue;
      }
      f.rt = Number_At(fields, c[kRt], header, place) * factor;
      f.height = height ? *height : *area;
      // An area of 0 beside a height stays as written.
      if (const std::optional<double> written = Optional_Number(fields, c[kArea], header, place)) {
        f.area = *written;
      }
      f.width = Width_At(fields, c[kRtStart], c[kRtEnd], header, factor, place);
      f.adduct = adduct_text;
      const int charge = c[kCharge] >= 0 ? Charge_At(fields, c[kCharge], header, place)
                                         : Charge_At(fields, row_charge, header, place);
      const Feature_Columns names{header.name(c[kMz]), header.name(c[kRt]),
                                  adduct >= 0 ? std::string_view(header.name(adduct)) : "adduct"};
      Finish_Feature(f, charge, options, minutes, names, place);
      s.sample->features.push_back(std::move(f));
    }
  }
  return samples.Take();
}

}  // namespace import_detail
