// Writers of an aligned peak list: the .aligndb database (table Align_Peaklist)
// and the CSV file.
#ifndef VARNEL_STORAGE_ALIGNED_WRITERS_H_
#define VARNEL_STORAGE_ALIGNED_WRITERS_H_

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "model/peak.h"

class CppSQLite3DB;

// Called every 10000 rows and once more when all rows are written (before the
// file replaces the old one), with the number written so far. An exception
// from it abandons the write: the old file stays as it was.
using Row_Progress = std::function<void(std::size_t rows_written)>;

// Writes further tables into the new database on a connection of the
// writer's own, in one transaction after the rows and the indexes are
// written, before the file is synced. An exception from it abandons the write as a failure of the
// writer does (the old file stays as it was); a CppSQLite3Exception gets the file's name put in
// front.
using Extra_Tables = std::function<void(CppSQLite3DB& db)>;

// Writes Join_Path(Path, FileName) as a fresh database holding Align_Peaklist
// with its six indexes and one row per record, in list order. The file is
// built under a temporary name in Path and renamed over any old file only when
// complete: on failure the old file is left intact and nothing half-written
// remains. Stored values are those of the formatted insert "%d" (32-bit
// signed), "%f" (six decimals), '%s' (texts stored exactly), "%Q" (the encoded
// shape as TEXT); NaN is stored as NULL and +-infinity as REAL infinity.
// extra_tables, when given, adds tables before the commit; without it the
// file holds Align_Peaklist and its indexes only.
// Throws CppSQLite3Exception naming the file.
void OutputAlignedAnnotatedGroupedChromatographPeaklist2database(
    const std::vector<Chromatogram_Peak_Group_Compound_Align>& peaklist_aligned, std::string Path,
    std::string FileName, const Row_Progress& progress = {}, const Extra_Tables& extra_tables = {});

// Writes Join_Path(Path, FileName) as CSV: the header line, then one line per
// record (20 fields, no shape), replacing any old file only when complete.
// Integers unsigned, doubles as an output stream's default ("%g"), texts as
// they are unless they hold a comma, a double quote or a line break (then
// quoted, RFC 4180); "\n" line ends.
// Throws CppSQLite3Exception (code 1000) naming the file on any write failure.
void OutputAlignedAnnotatedGroupedChromatographPeaklist2CSVFile(
    const std::vector<Chromatogram_Peak_Group_Compound_Align>& peaklist_aligned, std::string Path,
    std::string FileName, const Row_Progress& progress = {});

class Replacement_File;

// A result file written completely under a temporary name in its folder and
// waiting to replace its target, so that a run can replace several files
// together: first Sync() each, then Commit() each. Destroying it uncommitted
// removes the temporary file; the target is never touched before Commit().
class Pending_Result_File {
 public:
  Pending_Result_File();
  Pending_Result_File(std::unique_ptr<Replacement_File> file, std::string target);
  Pending_Result_File(Pending_Result_File&&) noexcept;
  Pending_Result_File& operator=(Pending_Result_File&&) noexcept;
  ~Pending_Result_File();

  // Flushes the file to disk. Commit() renames it over the target (syncing
  // first if Sync() was not called). Both throw CppSQLite3Exception naming
  // the target; the target is then unchanged.
  void Sync();
  void Commit();

  // Nothing pending: empty, committed or released.
  bool empty() const { return file_ == nullptr; }
  // The temporary file and the target (REQUIRES: !empty()).
  const std::string& temp_path() const;
  const std::string& target() const { return target_; }
  // Leaves the temporary file to someone else (renamed together with other
  // files, or kept for a later completion): nothing is pending any more, and
  // the destructor leaves the file.
  void Release();
  // Keeps the temporary file when a stop signal ends the program (see
  // Replacement_File::Keep_On_Stop).
  void Keep_On_Stop();

 private:
  std::unique_ptr<Replacement_File> file_;
  std::string target_;
};

// The two writers above without the final replacement: the same bytes,
// checks, progress calls and errors, left pending.
Pending_Result_File Write_Pending_Aligned_Database(
    const std::vector<Chromatogram_Peak_Group_Compound_Align>& peaklist_aligned,
    const std::string& Path, const std::string& FileName, const Row_Progress& progress = {},
    const Extra_Tables& extra_tables = {});
Pending_Result_File Write_Pending_Aligned_Csv(
    const std::vector<Chromatogram_Peak_Group_Compound_Align>& peaklist_aligned,
    const std::string& Path, const std::string& FileName, const Row_Progress& progress = {});

// One row as the writers take it: the record's fields (its Peak_shape is not
// read) and the shape's stored form as the database holds it (see
// storage/stored_shape.h).
struct Aligned_Row {
  const Chromatogram_Peak_Group_Compound_Align* record = nullptr;
  std::string_view written_shape;
};
// Row i of the rows to write, asked for once per row, i = 0, 1, ..., by one
// writer on one thread; with_shape false when the writer needs no shape (the
// CSV file). What it returns must stay valid until the next call.
using Aligned_Row_Source = std::function<Aligned_Row(std::size_t i, bool with_shape)>;

// The pending writers over `count` rows from a source: the same files as
// from a list of the same records.
Pending_Result_File Write_Pending_Aligned_Database(std::size_t count,
                                                   const Aligned_Row_Source& rows,
                                                   const std::string& Path,
                                                   const std::string& FileName,
                                                   const Row_Progress& progress = {},
                                                   const Extra_Tables& extra_tables = {});
Pending_Result_File Write_Pending_Aligned_Csv(std::size_t count, const Aligned_Row_Source& rows,
                                              const std::string& Path, const std::string& FileName,
                                              const Row_Progress& progress = {});

// Turns the record's columns into the values the aligned database stores and
// its readers read back: reals as the "%f" text becomes (NaN and infinities
// kept), texts up to their first NUL; integers are kept.
void To_Stored_Values(Chromatogram_Peak_Group_Compound_Align& record);

#endif  // VARNEL_STORAGE_ALIGNED_WRITERS_H_
