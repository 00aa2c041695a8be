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
#include <string>
#include <string_view>

inline constexpr std::string_view kTemporaryPrefix = ".varnel-part-";

// The mkstemp pattern of a temporary file of this process in folder:
// Join_Path(folder, ".varnel-part-<pid>-XXXXXX").
std::string Own_Temporary_Pattern(const std::string& folder);

// True when name (a bare file name) starts as a Varnel temporary name
// (".varnel-part-<pid>-XXXXXX"); *maker then holds the process id in it and
// *rest what follows the six characters (an SQLite side file's "-journal").
bool Parse_Own_Temporary_Name(std::string_view name, long* maker, std::string_view* rest);

// Removes from folder the temporary files and folders of Varnel programs no
// longer running: those named ".varnel-part-<pid>-XXXXXX" (and their SQLite
// side files) whose process is gone and whose lock nobody holds. Never
// touches anything of another name, and never throws; a folder that cannot be
// read is left as it is. Returns how many were removed.
std::size_t Remove_Dead_Temporaries(const std::string& folder);

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

 private:
  std::string folder_;
  std::string target_path_;
  std::string temp_path_;
  int fd_ = -1;
  int lock_fd_ = -1;  // shares fd_'s open file and its flock, outlives Close()
  bool synced_ = false;
  bool committed_ = false;
};

#endif  // VARNEL_STORAGE_REPLACEMENT_FILE_H_
