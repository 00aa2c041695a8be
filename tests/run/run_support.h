// Helpers shared by the run and command-line tests: a temporary folder, small
// hand-made annotated databases, and reading the results back.
#ifndef VARNEL_TESTS_RUN_RUN_SUPPORT_H_
#define VARNEL_TESTS_RUN_RUN_SUPPORT_H_

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "model/peak.h"

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

// An annotated peak with the compound fields the alignment looks at; the
// rest is filled with plausible values and a three-point shape.
Chromatogram_Peak_Group_Compound Make_Peak(std::uint32_t eic, double mass, double rt,
                                           double intensity, std::uint32_t compound_id = 1);

// Writes an annotated database `folder/name` holding `peaks`.
void Write_Sample(const std::string& folder, const std::string& name,
                  const std::vector<Chromatogram_Peak_Group_Compound>& peaks);
// Writes a valid SQLite database without the Annotate_Peaklist table.
void Write_Database_Without_Table(const std::string& path);
// Runs `sql` on the database at `path`; throws on failure.
void Exec_Sql(const std::string& path, const std::string& sql);
// Writes `bytes` as a file.
void Write_File(const std::string& path, const std::string& bytes);
std::string Read_File(const std::string& path);

// One CSV line split at commas, keyed by the header's names.
using Csv_Row = std::map<std::string, std::string>;
std::vector<Csv_Row> Read_Csv(const std::string& path);

// (SAMPLE_ID, EIC_ID, Peak_ID, Align_ID) of every Align_Peaklist row, in rowid
// order. Throws when the file or the table is missing.
std::vector<std::vector<long long>> Read_Aligned_Keys(const std::string& aligndb);

// Names of the entries of a folder, sorted.
std::vector<std::string> List_Folder(const std::string& folder);

#endif  // VARNEL_TESTS_RUN_RUN_SUPPORT_H_
