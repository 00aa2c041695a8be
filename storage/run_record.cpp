#include "storage/run_record.h"

#include <charconv>
#include <stdexcept>
#include <string_view>
#include <system_error>
#include <utility>

#include "storage/cppsqlite3.h"
#include "storage/file_hash.h"
#include "storage/path.h"

namespace {

constexpr const char* kCreateRun = "CREATE TABLE Align_Run (Item TEXT PRIMARY KEY, Value TEXT)";
constexpr const char* kCreateRunInput =
    "CREATE TABLE Align_Run_Input (SAMPLE_ID INTEGER PRIMARY KEY, SAMPLE_NAME TEXT, Folder TEXT, "
    "File_Name TEXT, Size INTEGER, XXH3_128 TEXT, Peaks_Read INTEGER)";

// Shortest decimal text that reads back to the same double ("0.1", "20", "1e-05").
std::string Number_Text(double value) {
  char buf[64];
  return std::string(buf, std::to_chars(buf, buf + sizeof buf, value).ptr);
}

std::string Number_Text(std::uint64_t value) { return std::to_string(value); }

double Parse_Double(const std::string& path, const std::string& item, std::string_view text) {
  double value = 0.0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || text.empty()) {
    throw std::runtime_error(path + ": run record item " + item + " is not a number: \"" +
                             std::string(text) + "\"");
  }
  return value;
}

std::uint64_t Parse_Count(const std::string& path, const std::string& item, std::string_view text) {
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || text.empty()) {
    throw std::runtime_error(path + ": run record item " + item + " is not a count: \"" +
                             std::string(text) + "\"");
  }
  return value;
}

std::string Text_Of(const CppSQLite3Statement& stmt, int column) {
  const char* text = stmt.fieldText(column);
  return text ? std::string(text, static_cast<std::size_t>(stmt.fieldBytes(column)))
              : std::string();
}

void Set_Item(const std::string& path, Run_Record& record, const std::string& item,
              const std::string& value) {
  if (item == "program") {
    record.program = value;
  } else if (item == "version") {
    record.version = value;
  } else if (item == "mode") {
    record.mode = value;
  } else if (const std::optional<Mass_Tolerance::Unit> unit = Mass_Tolerance_Unit_Of_Item(item)) {
    record.mass_tol = {*unit, Parse_Double(path, item, value)};
  } else if (item == "fast_window") {
    record.fast_window = Parse_Double(path, item, value);
  } else if (item == "deep_window") {
    record.deep_window = Parse_Double(path, item, value);
  } else if (item == "rt_correction") {
    record.rt_correction = value == "on";
  } else if (item == "samples") {
    record.samples = Parse_Count(path, item, value);
  } else if (item == "peaks") {
    record.peaks = Parse_Count(path, item, value);
  } else if (item == "groups") {
    record.groups = Parse_Count(path, item, value);
  } else if (item == "unaligned") {
    record.unaligned = Parse_Count(path, item, value);
  }
}

}  // namespace

Run_Input Describe_Run_Input(std::uint32_t sample_id, std::string sample_name, std::string folder,
                             std::string file_name, std::uint64_t peaks_read) {
  const File_Digest digest = Digest_File(Join_Path(folder, file_name));
  Run_Input input;
  input.sample_id = sample_id;
  input.sample_name = std::move(sample_name);
  input.folder = std::move(folder);
  input.file_name = std::move(file_name);
  input.size = digest.size;
  input.xxh3_128 = digest.xxh3_128;
  input.peaks_read = peaks_read;
  return input;
}

void Write_Run_Record(CppSQLite3DB& db, const Run_Record& record) {
  db.execDML(kCreateRun);
  db.execDML(kCreateRunInput);
  CppSQLite3Statement item = db.compileStatement("INSERT INTO Align_Run VALUES (?1, ?2)");
  auto put = [&item](const char* name, const std::string& value) {
    item.bind(1, name);
    item.bind(2, value.c_str(), static_cast<int>(value.size()));
    item.execDML();
  };
  put("program", record.program);
  put("version", record.version);
  put("mode", record.mode);
  put(record.mass_tol.Record_Item(), Number_Text(record.mass_tol.value));
  put("fast_window", Number_Text(record.fast_window));
  put("deep_window", Number_Text(record.deep_window));
  put("rt_correction", record.rt_correction ? "on" : "off");
  put("samples", Number_Text(record.samples));
  put("peaks", Number_Text(record.peaks));
  put("groups", Number_Text(record.groups));
  put("unaligned", Number_Text(record.unaligned));
  item.finalize();

  CppSQLite3Statement input =
      db.compileStatement("INSERT INTO Align_Run_Input VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)");
  auto bind_text = [&input](int param, const std::string& text) {
    input.bind(param, text.c_str(), static_cast<int>(text.size()));
  };
  for (const Run_Input& in : record.inputs) {
    // Text of the 64-bit counts: the layer binds 32-bit integers only; the
    // INTEGER affinity stores them as integers.
    const std::string id = std::to_string(in.sample_id);
    const std::string size = std::to_string(in.size);
    const std::string peaks = std::to_string(in.peaks_read);
    bind_text(1, id);
    bind_text(2, in.sample_name);
    bind_text(3, in.folder);
    bind_text(4, in.file_name);
    bind_text(5, size);
    bind_text(6, in.xxh3_128);
    bind_text(7, peaks);
    input.execDML();
  }
  input.finalize();
}

std::optional<Run_Record> Read_Run_Record(const std::string& path) {
  try {
    CppSQLite3DB db;
    db.open(path.c_str(), CppSQLite3OpenMode::kReadOnly);
    if (!db.tableExists("Align_Run")) return std::nullopt;
    if (!db.tableExists("Align_Run_Input")) {
      throw std::runtime_error(path + ": the run record has no table Align_Run_Input");
    }
    Run_Record record;
    record.program.clear();
    CppSQLite3Statement items = db.compileStatement("SELECT Item, Value FROM Align_Run");
    while (items.step()) {
      if (items.fieldText(0) == nullptr || items.fieldText(1) == nullptr) continue;
      Set_Item(path, record, Text_Of(items, 0), Text_Of(items, 1));
    }
    CppSQLite3Statement inputs = db.compileStatement(
        "SELECT SAMPLE_ID, SAMPLE_NAME, Folder, File_Name, Size, XXH3_128, Peaks_Read "
        "FROM Align_Run_Input ORDER BY SAMPLE_ID");
    while (inputs.step()) {
      Run_Input in;
      in.sample_id = static_cast<std::uint32_t>(inputs.fieldInt64(0));
      in.sample_name = Text_Of(inputs, 1);
      in.folder = Text_Of(inputs, 2);
      in.file_name = Text_Of(inputs, 3);
      in.size = static_cast<std::uint64_t>(inputs.fieldInt64(4));
      in.xxh3_128 = Text_Of(inputs, 5);
      in.peaks_read = static_cast<std::uint64_t>(inputs.fieldInt64(6));
      record.inputs.push_back(std::move(in));
    }
    return record;
  } catch (const CppSQLite3Exception& e) {
    throw std::runtime_error(path +
                             ": cannot read the run record: " + std::string(e.errorDetail()));
  }
}

std::string Format_Run_Record(const Run_Record& r) {
  std::string out;
  auto line = [&out](std::string_view label, const std::string& value) {
    out.append(label).append(value).push_back('\n');
  };
  line("Program:             ", r.program + (r.version.empty() ? "" : " " + r.version));
  line("Mode:                ", r.mode);
  line("Mass tolerance:      ", r.mass_tol.Text());
  line("Fast_Align window:   ", Number_Text(r.fast_window) + " s");
  line("Deep_Align window:   ", Number_Text(r.deep_window) + " s");
  line("RT drift correction: ", r.rt_correction ? "on" : "off");
  line("Samples:             ", Number_Text(r.samples));
  line("Peaks:               ", Number_Text(r.peaks));
  line("Groups:              ", Number_Text(r.groups));
  line("Unaligned peaks:     ", Number_Text(r.unaligned));
  out += "\nInputs (" + std::to_string(r.inputs.size()) + "):\n";
  for (const Run_Input& in : r.inputs) {
    out += "  SAMPLE_ID " + std::to_string(in.sample_id) + "  " + in.sample_name + "\n";
    out += "    " + Join_Path(in.folder, in.file_name) + "\n";
    out += "    " + std::to_string(in.size) + " bytes, XXH3-128 " + in.xxh3_128 + ", " +
           std::to_string(in.peaks_read) + " peaks read\n";
  }
  return out;
}
