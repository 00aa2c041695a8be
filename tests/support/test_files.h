// Helpers shared by the tests of every area: a temporary folder, whole-file
// reads and writes, SQL on a database file, CSV rows, small studies.
#ifndef VARNEL_TESTS_SUPPORT_TEST_FILES_H_
#define VARNEL_TESTS_SUPPORT_TEST_FILES_H_

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "model/peak.h"
#include "run/alignment_request.h"
#include "tools/simulate.h"

// A fresh folder (0755, so that a child without privileges can enter it),
// removed with its contents when the object goes, also after a test made
// folders inside it unwritable.
class Temp_Folder {
 public:
  Temp_Folder();
  ~Temp_Folder();
  Temp_Folder(const Temp_Folder&) = delete;
  Temp_Folder& operator=(const Temp_Folder&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Whole files, byte for byte. Both throw std::runtime_error naming the path.
std::string Read_File(const std::string& path);
void Write_File(const std::string& path, const std::string& bytes);
void Copy_File(const std::string& from, const std::string& to);

// Runs sql on the database at path (created when missing); throws
// std::runtime_error with SQLite's message on failure.
void Exec_Sql(const std::string& path, const std::string& sql);

// The data lines of a CSV file split at plain commas (no quoting), keyed by
// the header's names. Throws when the file cannot be read.
using Csv_Row = std::map<std::string, std::string>;
std::vector<Csv_Row> Read_Csv(const std::string& path);

// Names of the entries of a folder, sorted.
std::vector<std::string> List_Folder(const std::string& folder);

// Simulates a small study into folder (created when missing).
Simulation_Result Make_Study(const std::string& folder, std::uint32_t samples,
                             std::uint32_t compounds, std::uint64_t seed = 1);
// Full paths of a study's databases, in sample order.
std::vector<std::string> Study_Paths(const std::string& folder, const Simulation_Result& study);

// An annotated peak with the compound fields the alignment looks at; the
// rest is filled with plausible values and a three-point shape.
Chromatogram_Peak_Group_Compound Make_Annotated_Peak(std::uint32_t eic, double mass, double rt,
                                                     double intensity,
                                                     std::uint32_t compound_id = 1);

// A run request with the three numbers, the files and the result folder; the
// rest as a new request has it.
Alignment_Request Request_For(Compound_Align_Mode mode, double mass_tol, double window1,
                              double window2, std::vector<Annotated_File> files,
                              std::string result_folder);

#endif  // VARNEL_TESTS_SUPPORT_TEST_FILES_H_
