#include "storage/result_export.h"
#include "storage/csv_field.h"

#include <sqlite3.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>
#include <unordered_set>

#include "storage/cppsqlite3.h"
#include "storage/path.h"
#include "storage/replacement_file.h"
#include "storage/aligned_result.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr std::size_t kWriteChunk = std::size_t{1} << 20;

// ---------------------------------------------------------------- numbers

// Shortest plain decimal that reads back to value; "" for NaN and infinity.
void Append_Number(double value, std::string& out) {
  if (!std::isfinite(value)) return;
  if (value == 0.0) value = 0.0;  // no "-0"
  char buf[400];
  out.append(buf, std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed).ptr);
}

void Append_Fixed(double value, int decimals, std::string& out) {
  if (!std::isfinite(value)) {
    out += "NA";
    return;
  }
  char buf[400];
  out.append(buf,
             std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals).ptr);
}

void Append_Unsigned(std::uint64_t value, std::string& out) {
  char buf[24];
  out.append(buf, std::to_chars(buf, buf + sizeof buf, value).ptr);
}

// ---------------------------------------------------------------- texts

// An mzTab cell: tabs and line breaks become spaces; empty text is "null".
void Append_Cell(std::string_view text, std::string& out) {
  if (text.empty()) {
    out += "null";
    return;
  }
  for (char c : text) out.push_back(c == '\t' || c == '\r' || c == '\n' ? ' ' : c);
}

void Append_Cell_Number(double value, std::string& out) {
  const std::size_t before = out.size();
  Append_Number(value, out);
  if (out.size() == before) out += "null";
}

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

// ---------------------------------------------------------------- output

// The output file, filled in chunks and renamed into place by Commit().
// A scratch file (scratch_suffix not empty) is a temporary file beside path
// that is never renamed: Append_To copies it into another file, and it goes
// away with the object.
class Export_File {
 public:
  explicit Export_File(const std::string& path, const std::string& scratch_suffix = "")
      : path_(path) {
    const Split_Path_Result where = Split_Path(path);
    try {
      file_.emplace(where.folder, where.name + scratch_suffix);
    } catch (const CppSQLite3Exception& e) {
      Fail(e);
    }
    buffer_.reserve(kWriteChunk + 65536);
  }
  std::string& buffer() { return buffer_; }
  void Flush_If_Full() {
    if (buffer_.size() >= kWriteChunk) Flush();
  }
  void Commit() {
    Flush();
    try {
      file_->Commit();
    } catch (const CppSQLite3Exception& e) {
      Fail(e);
    }
  }
  // Copies everything written so far to the end of target.
  void Append_To(Export_File& target) {
    Flush();
    std::ifstream in(file_->temp_path(), std::ios::binary);
    std::string& b = target.buffer();
    while (in) {
      const std::size_t old = b.size();
      b.resize(old + kWriteChunk);
      in.read(b.data() + old, static_cast<std::streamsize>(kWriteChunk));
      b.resize(old + static_cast<std::size_t>(in.gcount()));
      target.Flush_If_Full();
    }
    if (in.bad()) throw std::runtime_error(path_ + ": cannot read back a temporary file");
  }

 private:
  void Flush() {
    try {
      file_->Write(buffer_);
    } catch (const CppSQLite3Exception& e) {
      Fail(e);
    }
    buffer_.clear();
  }
  [[noreturn]] void Fail(const CppSQLite3Exception& e) {
    throw std::runtime_error(path_ + ": " + std::string(e.errorDetail()));
  }

  std::string path_;
  std::optional<Replacement_File> file_;
  std::string buffer_;
};

// ---------------------------------------------------------------- reading

struct Sample {
  std::uint32_t id = 0;
  std::string name;   // SAMPLE_NAME
  std::string shown;  // name, or "name (id)" when the name is shared
};

// One row of a group, with the columns the exports use.
struct Member {
  std::uint32_t sample = 0;
  std::uint32_t compound = 0;
  double mass = kNaN;
  double compound_rt = kNaN;
  double compound_intensity = kNaN;
  double area = kNaN;
  double height = kNaN;
  double apex_mz = kNaN;
  double apex_rt = kNaN;
  double align_rt = kNaN;
  std::string adduct;
};

struct Group {
  std::uint32_t align_id = 0;
  std::vector<Member> members;
};

constexpr const char* kSelectGroups =
    "SELECT Align_ID, SAMPLE_ID, Compound_ID, Compound_MolecularMass, Compound_Retention_Time, "
    "Compound_Intensity, Peak_Area, Apex_Intensity, Apex_MZ, Apex_Retention_Time, Align_RT, "
    "Adduct_Annotation FROM Align_Peaklist WHERE Align_ID >= 1 ORDER BY Align_ID";

// The result, opened read-only and checked to be an aligned result.
class Result_Reader {
 public:
  explicit Result_Reader(const std::string& path) : path_(path) {
    Guard([&] {
      db_.open(path.c_str(), CppSQLite3OpenMode::kReadOnly);
      if (!db_.tableExists("Align_Peaklist")) {
        throw std::runtime_error(path + ": not an aligned result (no table Align_Peaklist)");
      }
      groups_ = db_.compileStatement(kSelectGroups);  // checks every column
      if (db_.execScalar("SELECT EXISTS (SELECT 1 FROM Align_Peaklist)") == 0) {
        throw std::runtime_error(path + ": the result holds no peaks");
      }
      if (db_.execScalar("SELECT EXISTS (SELECT 1 FROM Align_Peaklist WHERE Align_ID >= 1)") == 0) {
        throw std::runtime_error(path + ": the result holds no aligned peaks (Align_ID 1 or more)");
      }
    });
  }

  std::vector<Sample> Samples() {
    std::set<std::uint32_t> ids;
    std::map<std::uint32_t, std::string> names;
    Guard([&] {
      CppSQLite3Statement distinct =
          db_.compileStatement("SELECT DISTINCT SAMPLE_ID FROM Align_Peaklist");
      while (distinct.step()) ids.insert(static_cast<std::uint32_t>(distinct.fieldInt64(0)));
      CppSQLite3Statement name = db_.compileStatement(
          "SELECT SAMPLE_NAME FROM Align_Peaklist WHERE SAMPLE_ID = ?1 LIMIT 1");
      for (std::uint32_t id : ids) {
        name.bind(1, static_cast<int>(id));
        if (name.step() && name.fieldText(0)) names[id] = name.fieldText(0);
        name.reset();
      }
    });
    // A file of the run that gave no peak still is a sample of the study.
    if (const std::optional<Run_Record> record = Aligned_Result(path_).Read_Run_Record()) {
      for (const Run_Input& in : record->inputs) {
        if (ids.insert(in.sample_id).second) names[in.sample_id] = in.sample_name;
      }
    }
    std::map<std::string, int> uses;
    for (std::uint32_t id : ids) ++uses[names[id]];
    std::vector<Sample> samples;
    for (std::uint32_t id : ids) {
      Sample s{id, names[id], names[id]};
      if (uses[s.name] > 1) s.shown += " (" + std::to_string(id) + ")";
      samples.push_back(std::move(s));
    }
    return samples;
  }

  // Starts (again) at the first group.
  void Rewind() {
    Guard([&] { groups_.reset(); });
    pending_ = Step();
  }

  // The next group in Align_ID order; false after the last.
  bool Next(Group& group) {
    if (!pending_) return false;
    group.members.clear();
    group.align_id = pending_id_;
    while (pending_ && pending_id_ == group.align_id) {
      group.members.push_back(pending_member_);
      pending_ = Step();
    }
    return true;
  }

 private:
  template <typename Body>
  void Guard(Body body) {
    try {
      body();
    } catch (const CppSQLite3Exception& e) {
      throw std::runtime_error(path_ + ": not an aligned result (" + std::string(e.errorDetail()) +
                               ")");
    }
  }

  double Real(int column) const {
    return groups_.fieldDataType(column) == SQLITE_NULL ? kNaN : groups_.fieldDouble(column);
  }

  bool Step() {
    bool row = false;
    Guard([&] { row = groups_.step(); });
    if (!row) return false;
    pending_id_ = static_cast<std::uint32_t>(groups_.fieldInt64(0));
    Member& m = pending_member_;
    m.sample = static_cast<std::uint32_t>(groups_.fieldInt64(1));
    m.compound = static_cast<std::uint32_t>(groups_.fieldInt64(2));
    m.mass = Real(3);
    m.compound_rt = Real(4);
    m.compound_intensity = Real(5);
    m.area = Real(6);
    m.height = Real(7);
    m.apex_mz = Real(8);
    m.apex_rt = Real(9);
    m.align_rt = Real(10);
    const char* adduct = groups_.fieldText(11);
    m.adduct.assign(adduct ? adduct : "");
    return true;
  }

  std::string path_;
  CppSQLite3DB db_;
  CppSQLite3Statement groups_;
  bool pending_ = false;
  std::uint32_t pending_id_ = 0;
  Member pending_member_;
};

// ---------------------------------------------------------------- group facts

double Median(std::vector<double>& values) {
  if (values.empty()) return kNaN;
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Larger of two values where NaN means "none".
double Max_Of(double a, double b) { return std::isnan(a) || b > a ? b : a; }
double Min_Of(double a, double b) { return std::isnan(a) || b < a ? b : a; }
double Sum_Of(double a, double b) {
  if (std::isnan(b)) return a;
  return std::isnan(a) ? b : a + b;
}

// Column of each sample: SAMPLE_IDs sorted ascending.
class Sample_Columns {
 public:
  explicit Sample_Columns(const std::vector<Sample>& samples) {
    for (const Sample& s : samples) ids_.push_back(s.id);
  }
  std::size_t size() const { return ids_.size(); }
  std::size_t Of(std::uint32_t id) const {
    return static_cast<std::size_t>(std::lower_bound(ids_.begin(), ids_.end(), id) - ids_.begin());
  }

 private:
  std::vector<std::uint32_t> ids_;
};

// Fills values (one per sample, NaN when absent) with each sample's quantity
// over the members for which keep(member) is true; returns how many samples
// have a member at all.
template <typename Keep>
std::size_t Quantities(const std::vector<Member>& members, Export_Quantity quantity,
                       const Sample_Columns& columns, std::vector<double>& values,
                       std::vector<char>& present, Keep keep) {
  values.assign(columns.size(), kNaN);
  present.assign(columns.size(), 0);
  std::size_t count = 0;
  for (const Member& m : members) {
    if (!keep(m)) continue;
    const std::size_t c = columns.Of(m.sample);
    if (!present[c]) {
      present[c] = 1;
      ++count;
    }
    double& v = values[c];
    switch (quantity) {
      case Export_Quantity::kCompound:
        v = Max_Of(v, m.compound_intensity);
        break;
      case Export_Quantity::kArea:
        v = Sum_Of(v, m.area);
        break;
      case Export_Quantity::kHeight:
        v = Max_Of(v, m.height);
        break;
    }
  }
  return count;
}

struct Group_Summary {
  double mass = kNaN;      // median over the group's compounds
  double align_rt = kNaN;  // the group's Align_RT
  double rt_min = kNaN;
  double rt_max = kNaN;
  std::vector<std::string> adducts;  // distinct, sorted
};

Group_Summary Summarize(std::vector<Member>& members) {
  Group_Summary s;
  // One mass per compound: sort by (sample, compound) and take the first row of each.
  std::sort(members.begin(), members.end(), [](const Member& a, const Member& b) {
    return a.sample != b.sample ? a.sample < b.sample : a.compound < b.compound;
  });
  std::vector<double> masses;
  for (std::size_t i = 0; i < members.size(); ++i) {
    const Member& m = members[i];
    if (std::isnan(s.align_rt)) s.align_rt = m.align_rt;
    s.rt_min = Min_Of(s.rt_min, m.compound_rt);
    s.rt_max = Max_Of(s.rt_max, m.compound_rt);
    const bool first_of_compound =
        i == 0 || members[i - 1].sample != m.sample || members[i - 1].compound != m.compound;
    if (first_of_compound && !std::isnan(m.mass)) masses.push_back(m.mass);
    s.adducts.push_back(m.adduct);
  }
  s.mass = Median(masses);
  std::sort(s.adducts.begin(), s.adducts.end());
  s.adducts.erase(std::unique(s.adducts.begin(), s.adducts.end()), s.adducts.end());
  return s;
}

// ---------------------------------------------------------------- groups

// The group of every sample, from the sheet (see Export_Options::groups).
std::vector<std::string> Groups_Of(const std::vector<Sample>& samples, const Sample_Sheet& sheet) {
  std::map<std::string, std::string> group_of(sheet.rows.begin(), sheet.rows.end());
  std::vector<std::string> groups;
  std::vector<std::string> missing;
  for (const Sample& s : samples) {
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

// ---------------------------------------------------------------- feature table

void Write_Feature_Table(Result_Reader& reader, const std::vector<Sample>& samples,
                         Export_Quantity quantity, Export_File& out) {
  std::string& b = out.buffer();
  b += "Align_ID,Mass,Align_RT,RT_Min,RT_Max,Adducts,Samples_Present";
  for (const Sample& s : samples) {
    b.push_back(',');
    Append_Csv_Field(s.shown, b);
  }
  b.push_back('\n');
  const Sample_Columns columns(samples);
  std::vector<double> values;
  std::vector<char> present;
  Group g;
  std::string adducts;
  reader.Rewind();
  while (reader.Next(g)) {
    const std::size_t n = Quantities(g.members, quantity, columns, values, present,
                                     [](const Member&) { return true; });
    const Group_Summary s = Summarize(g.members);
    Append_Unsigned(g.align_id, b);
    b.push_back(',');
    Append_Number(s.mass, b);
    b.push_back(',');
    Append_Number(s.align_rt, b);
    b.push_back(',');
    Append_Number(s.rt_min, b);
    b.push_back(',');
    Append_Number(s.rt_max, b);
    b.push_back(',');
    adducts.clear();
    for (const std::string& a : s.adducts) {
      if (a.empty()) continue;
      if (!adducts.empty()) adducts.push_back(';');
      adducts += a;
    }
    Append_Csv_Field(adducts, b);
    b.push_back(',');
    Append_Unsigned(n, b);
    for (double v : values) {
      b.push_back(',');
      Append_Number(v, b);
    }
    b.push_back('\n');
    out.Flush_If_Full();
  }
}

// ---------------------------------------------------------------- MetaboAnalyst

void Write_MetaboAnalyst(Result_Reader& reader, const std::vector<Sample>& samples,
                         const std::vector<std::string>& groups, Export_Quantity quantity,
                         Export_File& out) {
  std::string& b = out.buffer();
  b += "Sample";
  for (const Sample& s : samples) {
    b.push_back(',');
    Append_Csv_Field(s.shown, b);
  }
  b += "\nLabel";
  for (const std::string& g : groups) {
    b.push_back(',');
    Append_Csv_Field(g, b);
  }
  b.push_back('\n');
  const Sample_Columns columns(samples);
  std::vector<double> values;
  std::vector<char> present;
  std::unordered_set<std::string> names;
  std::string name;
  Group g;
  reader.Rewind();
  while (reader.Next(g)) {
    Quantities(g.members, quantity, columns, values, present, [](const Member&) { return true; });
    const Group_Summary s = Summarize(g.members);
    name.clear();
    Append_Fixed(s.mass, 4, name);
    name.push_back('_');
    Append_Fixed(s.align_rt, 2, name);
    if (!names.insert(name).second) {
      name.push_back('_');
      Append_Unsigned(g.align_id, name);
    }
    Append_Csv_Field(name, b);
    for (double v : values) {
      b.push_back(',');
      Append_Number(v, b);
    }
    b.push_back('\n');
    out.Flush_If_Full();
  }
}

// ---------------------------------------------------------------- mzTab-M

// The charge of an adduct text such as "[M+2Na]2+" (2) or "[M-H]-" (1): the
// digits between the closing bracket and the final sign; 1 when there are none
// or the text has no such ending.
int Charge_Of(std::string_view adduct) {
  const auto bracket = adduct.rfind(']');
  if (bracket == std::string_view::npos || adduct.empty()) return 1;
  const char sign = adduct.back();
  if (sign != '+' && sign != '-') return 1;
  const std::string_view digits = adduct.substr(bracket + 1, adduct.size() - bracket - 2);
  int charge = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), charge);
  if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() ||
      charge < 1) {
    return 1;
  }
  return charge;
}

// '+', '-' or 0 for an adduct text with no sign at its end.
char Polarity_Of(std::string_view adduct) {
  if (adduct.empty() || adduct.find(']') == std::string_view::npos) return 0;
  return adduct.back() == '+' || adduct.back() == '-' ? adduct.back() : 0;
}

// file:// URI of an absolute path, every byte outside [A-Za-z0-9/._~-]
// percent-encoded; "null" for a relative path.
std::string File_Uri(const std::string& path) {
  if (path.empty() || path[0] != '/') return "null";
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string uri = "file://";
  for (unsigned char c : path) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '/' ||
        c == '.' || c == '_' || c == '~' || c == '-') {
      uri.push_back(static_cast<char>(c));
    } else {
      uri.push_back('%');
      uri.push_back(kHex[c >> 4]);
      uri.push_back(kHex[c & 0xF]);
    }
  }
  return uri;
}

const char* Unit_Of(Export_Quantity quantity, bool feature) {
  switch (quantity) {
    case Export_Quantity::kCompound:
      return feature ? "[,,Apex_Intensity,]" : "[,,Compound_Intensity,]";
    case Export_Quantity::kArea:
      return "[,,Peak_Area,]";
    case Export_Quantity::kHeight:
      break;
  }
  return "[,,Apex_Intensity,]";
}

struct Study_Variable {
  std::string name;
  std::vector<std::size_t> assays;  // 0-based assay (sample column) numbers
};

std::vector<Study_Variable> Study_Variables(const std::vector<Sample>& samples,
                                            const std::optional<std::vector<std::string>>& groups) {
  std::vector<Study_Variable> variables;
  if (!groups) {
    variables.push_back({"undefined", {}});
    for (std::size_t i = 0; i < samples.size(); ++i) variables[0].assays.push_back(i);
    return variables;
  }
  std::map<std::string, std::size_t> index;  // in order of first appearance
  for (std::size_t i = 0; i < groups->size(); ++i) {
    auto [it, added] = index.emplace((*groups)[i], variables.size());
    if (added) variables.push_back({(*groups)[i], {}});
    variables[it->second].assays.push_back(i);
  }
  return variables;
}

void Write_Metadata(const std::string& result_path, const std::vector<Sample>& samples,
                    const std::vector<Study_Variable>& variables,
                    const std::set<std::string>& adducts, const Export_Options& options,
                    Export_File& out) {
  std::string& b = out.buffer();
  auto item = [&b](std::string_view key, std::string_view value) {
    b += "MTD\t";
    b += key;
    b.push_back('\t');
    Append_Cell(value, b);
    b.push_back('\n');
  };
  auto indexed = [](const char* what, std::size_t i) {
    return std::string(what) + "[" + std::to_string(i + 1) + "]";
  };
  std::string id = Split_Path(result_path).name;
  if (const auto dot = id.rfind('.'); dot != std::string::npos && dot > 0) id.resize(dot);
  item("mzTab-version", "2.0.0-M");
  item("mzTab-ID", id);
  item("software[1]", "[,,Varnel," + options.software_version + "]");
  item("quantification_method", "[MS, MS:1001834, LC-MS label-free quantitation analysis, ]");

  bool positive = false;
  bool negative = false;
  for (const std::string& a : adducts) {
    positive |= Polarity_Of(a) == '+';
    negative |= Polarity_Of(a) == '-';
  }
  if (!negative) positive = true;  // also when no adduct tells
  std::map<std::uint32_t, Run_Input> inputs;
  if (const std::optional<Run_Record> record = Aligned_Result(result_path).Read_Run_Record()) {
    for (const Run_Input& in : record->inputs) inputs[in.sample_id] = in;
  }
  for (std::size_t i = 0; i < samples.size(); ++i) {
    const std::string run = indexed("ms_run", i);
    const auto in = inputs.find(samples[i].id);
    item(run + "-location", in == inputs.end()
                                ? "null"
                                : File_Uri(Join_Path(in->second.folder, in->second.file_name)));
    int polarity = 0;
    if (positive)
      item(run + "-scan_polarity[" + std::to_string(++polarity) + "]",
           "[MS, MS:1000130, positive scan, ]");
    if (negative)
      item(run + "-scan_polarity[" + std::to_string(++polarity) + "]",
           "[MS, MS:1000129, negative scan, ]");
    if (in != inputs.end() && !in->second.xxh3_128.empty()) {
      item(run + "-hash", in->second.xxh3_128);
      item(run + "-hash_method", "[,,XXH3-128,]");
    }
  }
  for (std::size_t i = 0; i < samples.size(); ++i) {
    item(indexed("assay", i), samples[i].shown);
    item(indexed("assay", i) + "-ms_run_ref", indexed("ms_run", i));
  }
  for (std::size_t k = 0; k < variables.size(); ++k) {
    item(indexed("study_variable", k), variables[k].name);
    std::string refs;
    for (std::size_t a : variables[k].assays) {
      if (!refs.empty()) refs.push_back('|');
      refs.append(indexed("assay", a));
    }
    item(indexed("study_variable", k) + "-assay_refs", refs);
    item(indexed("study_variable", k) + "-description", variables[k].name);
  }
  item("cv[1]-label", "MS");
  item("cv[1]-full_name", "PSI-MS controlled vocabulary");
  item("cv[1]-version", "4.1.11");
  item("cv[1]-uri", "https://raw.githubusercontent.com/HUPO-PSI/psi-ms-CV/master/psi-ms.obo");
  item("database[1]", "[,,\"no database\",null]");
  item("database[1]-prefix", "null");
  item("database[1]-version", "Unknown");
  item("database[1]-uri", "null");
  item("small_molecule-quantification_unit", Unit_Of(options.quantity, false));
  item("small_molecule_feature-quantification_unit", Unit_Of(options.quantity, true));
  item("id_confidence_measure[1]", "[,,no identification score,]");
}

// Mean of the present values and their coefficient of variation (sample
// standard deviation over the mean); NaN where there are too few values.
std::pair<double, double> Mean_And_Cv(const std::vector<double>& values,
                                      const std::vector<std::size_t>& assays) {
  double sum = 0.0;
  std::size_t n = 0;
  for (std::size_t a : assays) {
    if (std::isfinite(values[a])) {
      sum += values[a];
      ++n;
    }
  }
  if (n == 0) return {kNaN, kNaN};
  const double mean = sum / static_cast<double>(n);
  if (n < 2 || mean == 0.0) return {mean, kNaN};
  double squares = 0.0;
  for (std::size_t a : assays) {
    if (std::isfinite(values[a])) squares += (values[a] - mean) * (values[a] - mean);
  }
  return {mean, std::sqrt(squares / static_cast<double>(n - 1)) / mean};
}

// The SML and SMF sections in one pass over the groups, each into its own
// file; adducts receives every adduct text met.
//
// SMF columns: exp_mass_to_charge the median Apex_MZ of the feature's peaks;
// charge from the adduct text (Charge_Of); retention_time_in_seconds the
// group's Align_RT, start and end the smallest and largest Apex_Retention_Time
// of its peaks; abundances by quantity, but per feature "compound" is the
// largest Apex_Intensity (a compound's intensity covers all its adducts).
void Write_Molecules_And_Features(Result_Reader& reader, const std::vector<Sample>& samples,
                                  const std::vector<Study_Variable>& variables,
                                  Export_Quantity quantity, Export_File& sml_out,
                                  Export_File& smf_out, std::set<std::string>& adducts) {
  std::string& b = sml_out.buffer();
  std::string& f = smf_out.buffer();
  b += "SMH\tSML_ID\tSMF_ID_REFS\tdatabase_identifier\tchemical_formula\tsmiles\tinchi\t"
       "chemical_name\turi\ttheoretical_neutral_mass\tadduct_ions\treliability\t"
       "best_id_confidence_measure\tbest_id_confidence_value";
  f += "SFH\tSMF_ID\tSME_ID_REFS\tSME_ID_REF_ambiguity_code\tadduct_ion\tisotopomer\t"
       "exp_mass_to_charge\tcharge\tretention_time_in_seconds\tretention_time_in_seconds_start\t"
       "retention_time_in_seconds_end";
  for (std::size_t i = 0; i < samples.size(); ++i) {
    const std::string column = "\tabundance_assay[" + std::to_string(i + 1) + "]";
    b += column;
    f += column;
  }
  for (std::size_t k = 0; k < variables.size(); ++k) {
    b += "\tabundance_study_variable[" + std::to_string(k + 1) + "]";
  }
  for (std::size_t k = 0; k < variables.size(); ++k) {
    b += "\tabundance_variation_study_variable[" + std::to_string(k + 1) + "]";
  }
  b.push_back('\n');
  f.push_back('\n');
  const Export_Quantity feature_quantity =
      quantity == Export_Quantity::kCompound ? Export_Quantity::kHeight : quantity;
  const Sample_Columns columns(samples);
  std::vector<double> values;
  std::vector<char> present;
  std::vector<double> mzs;
  std::vector<std::pair<double, double>> stats;
  std::string ions;
  std::uint64_t next_feature = 1;
  Group g;
  reader.Rewind();
  while (reader.Next(g)) {
    Quantities(g.members, quantity, columns, values, present, [](const Member&) { return true; });
    const Group_Summary s = Summarize(g.members);
    b += "SML\t";
    Append_Unsigned(g.align_id, b);
    b.push_back('\t');
    for (std::size_t i = 0; i < s.adducts.size(); ++i) {
      if (i) b.push_back('|');
      Append_Unsigned(next_feature + i, b);
    }
    b += "\tnull\tnull\tnull\tnull\tnull\tnull\t";
    Append_Cell_Number(s.mass, b);
    b.push_back('\t');
    ions.clear();
    for (const std::string& a : s.adducts) {
      if (a.empty()) continue;
      if (!ions.empty()) ions.push_back('|');
      ions += a;
    }
    Append_Cell(ions, b);
    b += "\t4\tnull\tnull";  // reliability 4: unknown compound (not identified)
    for (double v : values) {
      b.push_back('\t');
      Append_Cell_Number(v, b);
    }
    stats.clear();
    for (const Study_Variable& sv : variables) stats.push_back(Mean_And_Cv(values, sv.assays));
    for (const auto& st : stats) {
      b.push_back('\t');
      Append_Cell_Number(st.first, b);
    }
    for (const auto& st : stats) {
      b.push_back('\t');
      Append_Cell_Number(st.second, b);
    }
    b.push_back('\n');

    for (const std::string& adduct : s.adducts) {
      adducts.insert(adduct);
      Quantities(g.members, feature_quantity, columns, values, present,
                 [&adduct](const Member& m) { return m.adduct == adduct; });
      mzs.clear();
      double rt_start = kNaN;
      double rt_end = kNaN;
      for (const Member& m : g.members) {
        if (m.adduct != adduct) continue;
        if (!std::isnan(m.apex_mz)) mzs.push_back(m.apex_mz);
        rt_start = Min_Of(rt_start, m.apex_rt);
        rt_end = Max_Of(rt_end, m.apex_rt);
      }
      const double mz = Median(mzs);
      f += "SMF\t";
      Append_Unsigned(next_feature++, f);
      f += "\tnull\tnull\t";
      Append_Cell(adduct, f);
      f += "\tnull\t";
      if (std::isfinite(mz)) {
        Append_Number(mz, f);
      } else {
        f += "NaN";  // not nullable: incalculable
      }
      f.push_back('\t');
      Append_Unsigned(static_cast<std::uint64_t>(Charge_Of(adduct)), f);
      f.push_back('\t');
      Append_Cell_Number(s.align_rt, f);
      f.push_back('\t');
      Append_Cell_Number(rt_start, f);
      f.push_back('\t');
      Append_Cell_Number(rt_end, f);
      for (double v : values) {
        f.push_back('\t');
        Append_Cell_Number(v, f);
      }
      f.push_back('\n');
    }
    sml_out.Flush_If_Full();
    smf_out.Flush_If_Full();
  }
}

// ---------------------------------------------------------------- sample sheet

// Splits one CSV line into fields (RFC 4180 quoting within the line).
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

}  // namespace

std::optional<Export_Format> Parse_Export_Format(std::string_view text) {
  if (text == "table") return Export_Format::kFeatureTable;
  if (text == "metaboanalyst") return Export_Format::kMetaboAnalyst;
  if (text == "mztab") return Export_Format::kMzTab;
  return std::nullopt;
}

std::optional<Export_Quantity> Parse_Export_Quantity(std::string_view text) {
  if (text == "compound") return Export_Quantity::kCompound;
  if (text == "area") return Export_Quantity::kArea;
  if (text == "height") return Export_Quantity::kHeight;
  return std::nullopt;
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
    const bool header =
        first && fields.size() == 2 && Lower(fields[0]) == "sample" && Lower(fields[1]) == "group";
    first = false;
    if (header) continue;
    if (fields.size() != 2) {
      fail("expected two fields, sample and group, found " + std::to_string(fields.size()));
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

void Export_Result(const std::string& result_path, const Export_Options& options,
                   const std::string& out_path) {
  if (options.format == Export_Format::kMetaboAnalyst && !options.groups) {
    throw std::runtime_error(
        "a MetaboAnalyst table needs a sample sheet (CSV sample,group) giving each sample's group");
  }
  // Writing over an input would lose it.
  for (const std::string* input :
       {&result_path, options.groups ? &options.groups->path : nullptr}) {
    std::error_code error;
    if (input && std::filesystem::equivalent(*input, out_path, error)) {
      throw std::runtime_error(out_path + ": is an input of the export; choose another file");
    }
  }
  Result_Reader reader(result_path);
  const std::vector<Sample> samples = reader.Samples();
  std::optional<std::vector<std::string>> groups;
  if (options.groups && options.format != Export_Format::kFeatureTable) {
    groups = Groups_Of(samples, *options.groups);
  }
  Export_File out(out_path);
  switch (options.format) {
    case Export_Format::kFeatureTable:
      Write_Feature_Table(reader, samples, options.quantity, out);
      break;
    case Export_Format::kMetaboAnalyst:
      Write_MetaboAnalyst(reader, samples, *groups, options.quantity, out);
      break;
    case Export_Format::kMzTab: {
      // The metadata needs every adduct (for the scan polarity): the tables
      // go to scratch files in one pass and follow the metadata.
      const std::vector<Study_Variable> variables = Study_Variables(samples, groups);
      Export_File sml(out_path, ".sml");
      Export_File smf(out_path, ".smf");
      std::set<std::string> adducts;
      Write_Molecules_And_Features(reader, samples, variables, options.quantity, sml, smf, adducts);
      Write_Metadata(result_path, samples, variables, adducts, options, out);
      out.buffer().push_back('\n');
      sml.Append_To(out);
      out.buffer().push_back('\n');
      smf.Append_To(out);
      break;
    }
  }
  out.Commit();
}
