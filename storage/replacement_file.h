// A file written under a temporary name beside its target and renamed over
// the target only when complete, so a failed or interrupted write leaves the
// previous file intact.
//
// Every temporary file a Varnel program makes in a result folder is named
// ".varnel-part-<pid>-XXXXXX" (the process id of its maker, then six random
// characters); SQLite's side files of such a file add "-journal", "-wal" or
// "-shm". The maker holds an exclusive flock on the file while it lives, so
// that a program tidying the folder can tell it is alive.
#ifndef VARNEL_STORAGE_REPLACEMENT_FILE_H_
#define VARNEL_STORAGE_REPLACEMENT_FILE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

inline constexpr std::string_view kTemporaryPrefix = ".varnel-part-";

// True when name (a bare file name) has the form of a temporary file's name,
// maybe followed by more; *maker gets the process id in it, *rest what
// follows the six random characters.
bool Parse_Temporary_Name(std::string_view name, long* maker, std::string_view* rest);

// The mkstemp pattern of a temporary file of this process in folder:
// Join_Path(folder, ".varnel-part-<pid>-XXXXXX").
std::string Own_Temporary_Pattern(const std::string& folder);

// The commit record's name in a result folder (run/result_pair.h): a folder
// holding one may have temporary files waiting for it, which only the
// record's completion touches.
inline constexpr const char* kCommitRecordName = ".varnel-pair-commit";

// Removes the temporary files (and their side files) that Varnel programs no
// longer running left in folder: a file of Own_Temporary_Pattern's form whose
// maker's process is gone and whose flock nobody holds. Never touches a file
// of any other name, and nothing in a folder that holds a commit record
// (Recover_Result_Folder tidies those) or an import's record
// (storage/import_commit.h). Returns the number removed; never
// throws. Cost: one listing of the folder.
std::size_t Remove_Dead_Temporaries(const std::string& folder);
// The same, once per folder and process: for a writer about to make its
// temporary files there.
void Remove_Dead_Temporaries_Once(const std::string& folder);

// Files a program removes when a stop signal ends it at once (see
// storage/stop_signals.h, Install_Exit_Handlers): a temporary file, with its
// SQLite journal, or a temporary folder (removed after the files, when
// empty). Remove_On_Stop returns a ticket for Keep_On_Stop (-1: the path was
// too long to hold; the dead-maker tidying gets it later). Both are
// thread-safe.
int Remove_On_Stop(const std::string& path, bool folder = false);
void Keep_On_Stop(int ticket);
// Removes every path still held. Async-signal-safe: for a signal handler.
void Remove_Files_Held_For_Stop() noexcept;

class Replacement_File {
 public:
  // Creates an empty temporary file in folder (named by
  // Own_Temporary_Pattern), open for writing, with the permissions a new file
  // would get, and holds an exclusive flock on it until it is committed,
  // released or removed. Throws CppSQLite3Exception(1000) with the system's
  // reason.
  Replacement_File(const std::string& folder, const std::string& name);
  Replacement_File(const Replacement_File&) = delete;
  Replacement_File& operator=(const Replacement_File&) = delete;
  // Removes the temporary file unless Commit() succeeded.
  ~Replacement_File();

  const std::string& temp_path() const { return temp_path_; }
  const std::string& target_path() const { return target_path_; }

  // Writes all of data to the temporary file. Throws CppSQLite3Exception(1000)
  // with the system's reason (a full disk included).
  void Write(std::string_view data);
  // Writes all of data at `offset`, leaving the file position alone. Throws
  // as Write.
  void Write_At(std::string_view data, std::uint64_t offset);
  // Closes the descriptor (for a file that another library writes by path).
  void Close();
  // Flushes the temporary file to disk and closes it. Throws
  // CppSQLite3Exception(1000) with the system's reason.
  void Sync();
  // Flushes the temporary file to disk (unless Sync() did), renames it over
  // folder/name and syncs the folder. Throws CppSQLite3Exception(1000) when
  // any step fails; the target is then unchanged.
  void Commit();
  // Forgets the temporary file: someone else renamed it or keeps it. The
  // destructor then leaves it, and the lock is dropped.
  void Release();
  // Keeps the temporary file when a stop signal ends the program: a commit
  // record names it.
  void Keep_On_Stop() {
    ::Keep_On_Stop(stop_ticket_);
    stop_ticket_ = -1;
  }

 private:
  std::string folder_;
  std::string target_path_;
  std::string temp_path_;
  int fd_ = -1;
  int lock_fd_ = -1;  // shares fd_'s open file and its flock, outlives Close()
  bool synced_ = false;
  bool committed_ = false;
  int stop_ticket_ = -1;  // Remove_On_Stop's
};

#endif  // VARNEL_STORAGE_REPLACEMENT_FILE_H_
