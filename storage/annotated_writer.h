// Writer of annotated peak-list databases (table Annotate_Peaklist, the 17
// columns in the order the reader expects, shapes in the stored Peak_shape
// form, an index on EIC_ID): the input form of an alignment run, as the
// simulator and the import write it.
#ifndef VARNEL_STORAGE_ANNOTATED_WRITER_H_
#define VARNEL_STORAGE_ANNOTATED_WRITER_H_

#include <memory>
#include <string>
#include <vector>

#include "model/peak.h"

class Replacement_File;

// Writes one database row by row, in one transaction, rows in the order
// added. Throws CppSQLite3Exception on any failure.
class Annotated_Database_Writer {
 public:
  // Starts the database at path, in pages of page_size bytes (0: SQLite's
  // default). REQUIRES: no database at path (a missing or an empty file).
  explicit Annotated_Database_Writer(const std::string& path, int page_size = 0);
  Annotated_Database_Writer(const Annotated_Database_Writer&) = delete;
  Annotated_Database_Writer& operator=(const Annotated_Database_Writer&) = delete;
  // Closes the file; rows of an unfinished database may or may not be in it.
  ~Annotated_Database_Writer();

  void Add(const Chromatogram_Peak_Group_Compound& peak);
  // Commits the rows, makes the EIC_ID index and closes the file.
  void Finish();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// A database written under a temporary name beside folder/name and renamed
// over it by Commit(), so that a failure never leaves a partial file under
// the final name. Throws CppSQLite3Exception with the system's or SQLite's
// reason on any failure.
// Its pages are 64 KiB: a large database goes to the disk in a sixteenth of
// the calls that 4 KiB pages take.
class Annotated_Database_Replacement {
 public:
  Annotated_Database_Replacement(const std::string& folder, const std::string& name);
  Annotated_Database_Replacement(const Annotated_Database_Replacement&) = delete;
  Annotated_Database_Replacement& operator=(const Annotated_Database_Replacement&) = delete;
  // Removes the temporary file unless Commit() succeeded.
  ~Annotated_Database_Replacement();

  void Add(const Chromatogram_Peak_Group_Compound& peak) { writer_->Add(peak); }
  // Completes the database and flushes it to disk, still under its temporary name.
  void Finish();
  // Renames the finished database over folder/name. REQUIRES: Finish() returned.
  void Commit();
  const std::string& temp_path() const;
  // Keeps the temporary file on a stop signal: a record names it.
  void Keep_On_Stop();
  // Forgets the temporary file: someone else renamed it or keeps it.
  void Release();

 private:
  std::unique_ptr<Replacement_File> file_;
  std::unique_ptr<Annotated_Database_Writer> writer_;
};

// Writes `peaks` as a fresh annotated database at `path`, replacing any file
// there (not atomically: the file is removed first). Throws
// std::runtime_error naming the file on any failure.
void Write_Annotated_Database(const std::string& path,
                              const std::vector<Chromatogram_Peak_Group_Compound>& peaks);

#endif  // VARNEL_STORAGE_ANNOTATED_WRITER_H_
