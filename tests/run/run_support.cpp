#include "run_support.h"

#include <sqlite3.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

#include "storage/path.h"
#include "tools/simulate.h"

Temp_Folder::Temp_Folder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "varnel-run-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

Temp_Folder::~Temp_Folder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

Chromatogram_Peak_Group_Compound Make_Peak(std::uint32_t eic, double mass, double rt,
                                           double intensity, std::uint32_t compound_id) {
  Chromatogram_Peak_Group_Compound p;
  p.EIC_ID = eic;
  p.Peak_ID = eic;
  p.Apex_MZ = mass + 1.007276;
  p.Apex_Pos = 100;
  p.Apex_Retention_Time = rt;
  p.Apex_Intensity = intensity;
  p.Peak_Area = intensity * 3.0;
  p.Peak_SNR = 50.0;
  p.Left_Boundary = 99;
  p.Right_Boundary = 101;
  p.Group_ID = eic;
  p.Adduct_Annotation = "[M+H]+";
  p.Compound_ID = compound_id;
  p.Compound_MolecularMass = mass;
  p.Compound_Retention_Time = rt;
  p.Compound_Intensity = intensity;
  for (std::uint32_t i = 0; i < 3; ++i) {
    p.Peak_shape.push_back(
        {99 + i, rt - 0.5 + 0.5 * i, p.Apex_MZ, intensity * (i == 1 ? 1.0 : 0.5)});
  }
  return p;
}

void Write_Sample(const std::string& folder, const std::string& name,
                  const std::vector<Chromatogram_Peak_Group_Compound>& peaks) {
  Write_Annotated_Database(Join_Path(folder, name), peaks);
}

void Write_Database_Without_Table(const std::string& path) {
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  const int rc = sqlite3_exec(db, "create table Other(x int); insert into Other values(1);",
                              nullptr, nullptr, nullptr);
  sqlite3_close(db);
  if (rc != SQLITE_OK) throw std::runtime_error("cannot write " + path);
}

void Exec_Sql(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
  sqlite3_close(db);
  if (rc != SQLITE_OK) throw std::runtime_error("cannot run " + sql + " on " + path);
}

void Write_File(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::string Read_File(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

namespace {

std::vector<std::string> Split(const std::string& line) {
  std::vector<std::string> fields;
  std::stringstream stream(line);
  std::string field;
  while (std::getline(stream, field, ',')) fields.push_back(field);
  if (!line.empty() && line.back() == ',') fields.emplace_back();
  return fields;
}

}  // namespace

std::vector<Csv_Row> Read_Csv(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::string line;
  std::getline(in, line);
  const std::vector<std::string> header = Split(line);
  std::vector<Csv_Row> rows;
  while (std::getline(in, line)) {
    const std::vector<std::string> fields = Split(line);
    Csv_Row row;
    for (std::size_t i = 0; i < header.size() && i < fields.size(); ++i) row[header[i]] = fields[i];
    rows.push_back(std::move(row));
  }
  return rows;
}

std::vector<std::vector<long long>> Read_Aligned_Keys(const std::string& aligndb) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(aligndb.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    throw std::runtime_error("cannot open " + aligndb);
  }
  sqlite3_stmt* query = nullptr;
  std::vector<std::vector<long long>> rows;
  if (sqlite3_prepare_v2(db,
                         "select SAMPLE_ID, EIC_ID, Peak_ID, Align_ID from Align_Peaklist "
                         "order by rowid",
                         -1, &query, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    throw std::runtime_error("no Align_Peaklist in " + aligndb);
  }
  {
    while (sqlite3_step(query) == SQLITE_ROW) {
      std::vector<long long> row;
      for (int c = 0; c < 4; ++c) row.push_back(sqlite3_column_int64(query, c));
      rows.push_back(std::move(row));
    }
  }
  sqlite3_finalize(query);
  sqlite3_close(db);
  return rows;
}

std::vector<std::string> List_Folder(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}
