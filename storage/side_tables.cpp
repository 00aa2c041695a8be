#include "storage/side_tables.h"

#include <sqlite3.h>

#include <charconv>
#include <limits>
#include <stdexcept>
#include <string_view>
#include <system_error>

#include "storage/sqlite/cppsqlite3.h"

namespace {

constexpr const char* kCreateRtCorrection =
    "CREATE TABLE Align_RT_Correction (SAMPLE_ID INTEGER, RT REAL, Shift REAL)";
constexpr const char* kInsertRtCorrection = "INSERT INTO Align_RT_Correction VALUES (?, ?, ?)";
constexpr const char* kSelectRtCorrection =
    "SELECT SAMPLE_ID, RT, Shift FROM Align_RT_Correction ORDER BY SAMPLE_ID, RT";

constexpr const char* kCreateRtAnchor =
    "CREATE TABLE Align_RT_Anchor (SAMPLE_ID INTEGER, RT REAL, Shift REAL)";
constexpr const char* kInsertRtAnchor = "INSERT INTO Align_RT_Anchor VALUES (?, ?, ?)";
constexpr const char* kSelectRtAnchor =
    "SELECT SAMPLE_ID, RT, Shift FROM Align_RT_Anchor ORDER BY SAMPLE_ID, RT";

constexpr const char* kCreateGrossShift =
    "CREATE TABLE Align_RT_Gross_Shift (SAMPLE_ID INTEGER PRIMARY KEY)";
constexpr const char* kInsertGrossShift = "INSERT INTO Align_RT_Gross_Shift VALUES (?)";
constexpr const char* kSelectGrossShift =
    "SELECT SAMPLE_ID FROM Align_RT_Gross_Shift ORDER BY SAMPLE_ID";

constexpr const char* kCreateRun = "CREATE TABLE Align_Run (Item TEXT PRIMARY KEY, Value TEXT)";
constexpr const char* kCreateRunInput =
    "CREATE TABLE Align_Run_Input (SAMPLE_ID INTEGER PRIMARY KEY, SAMPLE_NAME TEXT, Folder TEXT, "
    "File_Name TEXT, Size INTEGER, XXH3_128 TEXT, Peaks_Read INTEGER)";
constexpr const char* kInsertRun = "INSERT INTO Align_Run VALUES (?1, ?2)";
constexpr const char* kInsertRunInput =
    "INSERT INTO Align_Run_Input VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)";
constexpr const char* kSelectRun = "SELECT Item, Value FROM Align_Run ORDER BY rowid";
constexpr const char* kSelectRunInput =
    "SELECT SAMPLE_ID, SAMPLE_NAME, Folder, File_Name, Size, XXH3_128, Peaks_Read "
    "FROM Align_Run_Input ORDER BY SAMPLE_ID";
constexpr const char* kCreateMemberChoice =
    "CREATE TABLE Align_Member_Choice (Item TEXT PRIMARY KEY, Value TEXT)";
constexpr const char* kInsertMemberChoice = "INSERT INTO Align_Member_Choice VALUES (?1, ?2)";
constexpr const char* kSelectMemberChoice =
    "SELECT Item, Value FROM Align_Member_Choice ORDER BY rowid";
constexpr const char* kSelectRunInputAsStored = "SELECT * FROM Align_Run_Input ORDER BY rowid";

double Real_Or_NaN(const CppSQLite3Statement& stmt, int column) {
  return stmt.fieldDataType(column) == SQLITE_NULL ? std::numeric_limits<double>::quiet_NaN()
                                                   : stmt.fieldDouble(column);
}

std::string Text_Of(const CppSQLite3Statement& stmt, int column) {
  const char* text = stmt.fieldText(column);
  return text ? std::string(text, static_cast<std::size_t>(stmt.fieldBytes(column)))
              : std::string();
}

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

void Set_Choice_Item(const std::string& path, Member_Choice_Record& choice, const std::string& item,
                     const std::string& value) {
  if (item == "pick") {
    choice.pick = value;
  } else if (item == "join_splits") {
    choice.join_splits = value == "on";
  } else if (item == "spread_rt") {
    choice.spread_rt = Parse_Double(path, item, value);
  } else if (item == "spread_mass" || item == "spread_mass_ppm") {
    choice.spread_mass = Parse_Double(path, item, value);
    choice.spread_mass_ppm = item == "spread_mass_ppm";
  } else if (item == "spread_log_intensity") {
    choice.spread_log_intensity = Parse_Double(path, item, value);
  } else if (item == "spread_groups") {
    choice.spread_groups = Parse_Count(path, item, value);
  } else if (item == "joins") {
    choice.joins = Parse_Count(path, item, value);
  }
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
  } else if (item == "pick" || item == "join_splits" || item.rfind("spread_", 0) == 0 ||
             item == "joins") {
    if (!record.member_choice) record.member_choice.emplace();
    Set_Choice_Item(path, *record.member_choice, item, value);
  }
}

// Creates a (SAMPLE_ID, RT, Shift) table and stores points in their order.
void Write_Points(CppSQLite3DB& db, const char* create, const char* insert_sql,
                  const std::vector<Rt_Shift_Point>& points) {
  db.execDML(create);
  CppSQLite3Statement insert = db.compileStatement(insert_sql);
  for (const Rt_Shift_Point& p : points) {
    insert.bindInt64(1, p.sample);
    insert.bind(2, p.rt);
    insert.bind(3, p.shift);
    insert.execDML();
  }
}

}  // namespace

void Write_Rt_Correction(CppSQLite3DB& db, const std::vector<Rt_Shift_Point>& points) {
  Write_Points(db, kCreateRtCorrection, kInsertRtCorrection, points);
}

std::optional<std::vector<Rt_Shift_Point>> Read_Rt_Correction(CppSQLite3DB& db) {
  if (!db.tableExists("Align_RT_Correction")) return std::nullopt;
  std::vector<Rt_Shift_Point> points;
  CppSQLite3Statement stmt = db.compileStatement(kSelectRtCorrection);
  while (stmt.step()) {
    points.push_back({stmt.fieldInt64(0), Real_Or_NaN(stmt, 1), Real_Or_NaN(stmt, 2)});
  }
  return points;
}

void Write_Rt_Anchors(CppSQLite3DB& db, const std::vector<Rt_Shift_Point>& points) {
  Write_Points(db, kCreateRtAnchor, kInsertRtAnchor, points);
}

std::optional<std::vector<Rt_Shift_Point>> Read_Rt_Anchors(CppSQLite3DB& db,
                                                           const std::string& path) {
  const std::string what = path + ": cannot read the correction's anchors (Align_RT_Anchor): ";
  try {
    if (!db.tableExists("Align_RT_Anchor")) return std::nullopt;
    std::vector<Rt_Shift_Point> points;
    CppSQLite3Statement stmt = db.compileStatement(kSelectRtAnchor);
    while (stmt.step()) {
      for (int c = 0; c < 3; ++c) {
        const int type = stmt.fieldDataType(c);
        if (type == SQLITE_TEXT || type == SQLITE_BLOB || (c == 0 && type != SQLITE_INTEGER)) {
          throw std::runtime_error(what + "a value of column " + stmt.fieldName(c) + " is not " +
                                   (c == 0 ? "an integer" : "a number"));
        }
      }
      points.push_back({stmt.fieldInt64(0), Real_Or_NaN(stmt, 1), Real_Or_NaN(stmt, 2)});
    }
    return points;
  } catch (const CppSQLite3Exception& e) {
    throw std::runtime_error(what + std::string(e.errorDetail()));
  }
}

void Write_Gross_Shift_Not_Applied(CppSQLite3DB& db, const std::vector<std::int64_t>& samples) {
  db.execDML(kCreateGrossShift);
  CppSQLite3Statement insert = db.compileStatement(kInsertGrossShift);
  for (const std::int64_t sample : samples) {
    insert.bindInt64(1, sample);
    insert.execDML();
  }
}

std::optional<std::vector<std::int64_t>> Read_Gross_Shift_Not_Applied(CppSQLite3DB& db,
                                                                      const std::string& path) {
  const std::string what = path +
                           ": cannot read the samples whose gross shift was not applied "
                           "(Align_RT_Gross_Shift): ";
  try {
    if (!db.tableExists("Align_RT_Gross_Shift")) return std::nullopt;
    std::vector<std::int64_t> samples;
    CppSQLite3Statement stmt = db.compileStatement(kSelectGrossShift);
    while (stmt.step()) {
      if (stmt.fieldDataType(0) != SQLITE_INTEGER) {
        throw std::runtime_error(what + "a SAMPLE_ID is not an integer");
      }
      samples.push_back(stmt.fieldInt64(0));
    }
    return samples;
  } catch (const CppSQLite3Exception& e) {
    throw std::runtime_error(what + std::string(e.errorDetail()));
  }
}

void Write_Run_Record(CppSQLite3DB& db, const Run_Record& record) {
  db.execDML(kCreateRun);
  db.execDML(kCreateRunInput);
  CppSQLite3Statement item = db.compileStatement(kInsertRun);
  auto put = [&item](const char* name, const std::string& value) {
    item.bind(1, name);
    item.bind(2, value.c_str(), static_cast<int>(value.size()));
    item.execDML();
  };
  put("program", record.program);
  put("version", record.version);
  put("mode", record.mode);
  put(record.mass_tol.Record_Item(), Run_Number_Text(record.mass_tol.value));
  put("fast_window", Run_Number_Text(record.fast_window));
  put("deep_window", Run_Number_Text(record.deep_window));
  put("rt_correction", record.rt_correction ? "on" : "off");
  put("samples", std::to_string(record.samples));
  put("peaks", std::to_string(record.peaks));
  put("groups", std::to_string(record.groups));
  put("unaligned", std::to_string(record.unaligned));
  if (record.member_choice) {
    for (const auto& [name, value] : Member_Choice_Items(*record.member_choice)) {
      put(name.c_str(), value);
    }
  }
  item.finalize();

  CppSQLite3Statement input = db.compileStatement(kInsertRunInput);
  auto bind_text = [&input](int param, const std::string& text) {
    input.bind(param, text.c_str(), static_cast<int>(text.size()));
  };
  for (const Run_Input& in : record.inputs) {
    // Text of the 64-bit counts: the INTEGER affinity stores them as integers.
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

std::optional<Run_Record> Read_Run_Record(CppSQLite3DB& db, const std::string& path) {
  try {
    if (!db.tableExists("Align_Run")) return std::nullopt;
    if (!db.tableExists("Align_Run_Input")) {
      throw std::runtime_error(path + ": the run record has no table Align_Run_Input");
    }
    Run_Record record;
    record.program.clear();
    CppSQLite3Statement items = db.compileStatement(kSelectRun);
    while (items.step()) {
      if (items.fieldText(0) == nullptr || items.fieldText(1) == nullptr) continue;
      Set_Item(path, record, Text_Of(items, 0), Text_Of(items, 1));
    }
    CppSQLite3Statement inputs = db.compileStatement(kSelectRunInput);
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

Run_Record_Text Read_Run_Record_Text(CppSQLite3DB& db) {
  Run_Record_Text text;
  if (db.tableExists("Align_Run")) {
    text.has_items = true;
    CppSQLite3Statement stmt = db.compileStatement(kSelectRun);
    while (stmt.step()) text.items.emplace_back(Text_Of(stmt, 0), Text_Of(stmt, 1));
  }
  if (db.tableExists("Align_Run_Input")) {
    text.has_inputs = true;
    CppSQLite3Statement stmt = db.compileStatement(kSelectRunInputAsStored);
    for (int c = 0; c < stmt.numFields(); ++c) text.input_columns.emplace_back(stmt.fieldName(c));
    while (stmt.step()) {
      std::vector<std::string> row;
      for (int c = 0; c < stmt.numFields(); ++c) row.push_back(Text_Of(stmt, c));
      text.inputs.push_back(std::move(row));
    }
  }
  return text;
}

void Write_Member_Choice(CppSQLite3DB& db, const Member_Choice_Record& choice) {
  db.execDML(kCreateMemberChoice);
  CppSQLite3Statement item = db.compileStatement(kInsertMemberChoice);
  for (const auto& [name, value] : Member_Choice_Items(choice)) {
    item.bind(1, name.c_str());
    item.bind(2, value.c_str(), static_cast<int>(value.size()));
    item.execDML();
  }
  item.finalize();
}

std::optional<Member_Choice_Record> Read_Member_Choice(CppSQLite3DB& db, const std::string& path) {
  try {
    if (!db.tableExists("Align_Member_Choice")) return std::nullopt;
    Member_Choice_Record choice;
    CppSQLite3Statement items = db.compileStatement(kSelectMemberChoice);
    while (items.step()) {
      if (items.fieldText(0) == nullptr || items.fieldText(1) == nullptr) continue;
      Set_Choice_Item(path, choice, Text_Of(items, 0), Text_Of(items, 1));
    }
    return choice;
  } catch (const CppSQLite3Exception& e) {
    throw std::runtime_error(path + ": cannot read the member choice (Align_Member_Choice): " +
                             std::string(e.errorDetail()));
  }
}
