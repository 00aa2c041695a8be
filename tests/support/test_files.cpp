#include "tests/support/test_files.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

#include <sqlite3.h>

#include "storage/path.h"

namespace fs = std::filesystem;

Temp_Folder::Temp_Folder() {
  std::string pattern = (fs::temp_directory_path() / "varnel-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
  chmod(path_.c_str(), 0755);
}

Temp_Folder::~Temp_Folder() {
  std::error_code ignored;
  for (auto it = fs::recursive_directory_iterator(path_, ignored);
       it != fs::recursive_directory_iterator(); it.increment(ignored)) {
    if (it->is_directory(ignored)) chmod(it->path().c_str(), 0755);
  }
  fs::remove_all(path_, ignored);
}

std::string Read_File(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Write_File(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  out.close();
  if (!out) throw std::runtime_error("cannot write " + path);
}

void Copy_File(const std::string& from, const std::string& to) { Write_File(to, Read_File(from)); }

void Exec_Sql(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  int rc = sqlite3_open(path.c_str(), &db);
  char* error = nullptr;
  if (rc == SQLITE_OK) rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
  const std::string message = error != nullptr ? error : sqlite3_errmsg(db);
  sqlite3_free(error);
  sqlite3_close(db);
  if (rc != SQLITE_OK) throw std::runtime_error(path + ": " + sql + ": " + message);
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

std::vector<std::string> List_Folder(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

Simulation_Result Make_Study(const std::string& folder, std::uint32_t samples,
                             std::uint32_t compounds, std::uint64_t seed) {
  Simulation_Options options;
  options.samples = samples;
  options.compounds = compounds;
  options.seed = seed;
  return Simulate_Study(options, folder);
}

std::vector<std::string> Study_Paths(const std::string& folder, const Simulation_Result& study) {
  std::vector<std::string> paths;
  for (const std::string& name : study.database_names) paths.push_back(Join_Path(folder, name));
  return paths;
}

Chromatogram_Peak_Group_Compound Make_Annotated_Peak(std::uint32_t eic, double mass, double rt,
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

Alignment_Request Request_For(Compound_Align_Mode mode, double mass_tol, double window1,
                              double window2, std::vector<Annotated_File> files,
                              std::string result_folder) {
  Alignment_Request request;
  request.mode = mode;
  request.Mass_Tol.value = mass_tol;
  request.Align_Window1 = window1;
  request.Align_Window2 = window2;
  request.files = std::move(files);
  request.result_folder = std::move(result_folder);
  return request;
}
