// Result files that are replaced as one (a run's CSV file and database), and
// the tidying of a result folder after a program was killed in it.
//
// Replacing a pair. Both new files are complete and synced under temporary
// names first. Then, with the folder locked (flock on the folder), a commit
// record is written: a hidden file kCommitRecordName in the folder naming each
// temporary file and the file it replaces, itself written under a temporary
// name, synced and renamed into place, and the folder synced. Only then are
// the temporary files renamed over their targets, in the record's order; the
// folder is synced and the record removed. A kill before the record is in
// place leaves every old file; a kill after it leaves a record that the next
// program to touch the folder completes (Recover_Result_Folder): the renames
// not yet done are done, so the folder ends with every new file. A reader that
// calls Recover_Result_Folder before it reads never sees old and new files
// mixed.
//
// Only Varnel's own records are carried out: each names a Varnel temporary
// file (with its device and inode) and one of the pair's two names, the CSV
// file first. Any other record is refused and reported, and nothing is
// renamed; a record whose new file went missing after the first rename
// leaves the pair mixed and is reported by every later open, until a new
// run replaces both files.
//
// Temporary files (storage/replacement_file.h). Recover_Result_Folder removes
// a temporary file of a Varnel program only when its maker's process is gone
// and nobody holds the file's lock, and never touches a file of any other
// name.
#ifndef VARNEL_RUN_RESULT_PAIR_H_
#define VARNEL_RUN_RESULT_PAIR_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "storage/replacement_file.h"

class Pending_Result_File;

// The commit record's name in a result folder: kCommitRecordName
// (storage/replacement_file.h).
// The writer lock's name in a result folder.
inline constexpr const char* kWriterLockName = ".varnel-lock";

// True when name (a bare file name) is a Varnel temporary name or one of its
// SQLite side files; *maker then holds the process id in it.
bool Is_Own_Temporary_Name(std::string_view name, long* maker = nullptr);

// What Recover_Result_Folder found and did.
struct Result_Folder_Recovery {
  bool finished = false;   // an interrupted replacement was completed
  bool abandoned = false;  // a record whose new file went missing before any rename was
                           // dropped; every target keeps the file it had
  std::size_t temporaries_removed = 0;  // files of killed programs removed
  // Empty, or one line naming the folder or the record: a record refused
  // (not Varnel's own), dropped (abandoned), or one that cannot be completed
  // (a read-only folder, a new file gone missing): the folder may then hold
  // new and old files side by side. A record kept is reported again by every
  // open.
  std::string problem;
};

// Completes or drops an interrupted replacement in folder (see above), then
// removes the temporary files of Varnel programs that are no longer running.
// Takes the folder's lock for the time it works. Never throws; a folder that
// does not exist or cannot be read or written is left as it is (problem set
// only when a replacement stays unfinished). Cost: one listing of the folder.
// Call it before reading or writing a result folder.
Result_Folder_Recovery Recover_Result_Folder(const std::string& folder);
// The same for the folder of a result file's path.
Result_Folder_Recovery Recover_Result_Folder_Of(const std::string& result_file);

// One writer per result folder. A run holds the folder's writer lock from
// its start to its end: the file kWriterLockName, holding one line
// "<pid> <host> <process start>" of its holder, with an exclusive flock on
// it. The line is checked beside the flock, since flock is unreliable on
// network file systems: a lock whose holder runs (or ran on another host) is
// in use. A lock file of a process of this host that has ended is stale and
// taken over; Recover_Result_Folder removes it.
class Result_Folder_Writer {
 public:
  // Takes folder's lock. Throws CppSQLite3Exception(1000)
  // "<folder>: in use by process N on HOST" at once when another run holds
  // it. A folder in which no lock file can be made (read-only, say) is
  // worked on unlocked: writing there fails anyway.
  explicit Result_Folder_Writer(const std::string& folder);
  Result_Folder_Writer(const Result_Folder_Writer&) = delete;
  Result_Folder_Writer& operator=(const Result_Folder_Writer&) = delete;
  // Removes the lock file and drops the lock.
  ~Result_Folder_Writer();

 private:
  std::string path_;
  int fd_ = -1;
  int stop_ticket_ = -1;  // Remove_On_Stop's
};

// Replaces the targets of files, all in one folder, as one (see above):
// syncs each, writes the commit record, renames each in list order, removes
// the record. Files already replaced or empty are skipped; what is left must
// be the result pair (kAlignedCsvName, then kAlignedDbName), the only files
// a record may name. An interrupted replacement left in the folder by a
// killed program is completed first; a record that cannot be carried out is
// replaced by this one.
// Throws CppSQLite3Exception naming the target when a step fails: before the
// first rename every target is unchanged (and the temporary files go with
// files); after it the record stays, the temporary files are kept, and the
// next Recover_Result_Folder completes the replacement.
// Test hook: when the environment holds VARNEL_TEST_PAUSE_BETWEEN_RENAMES=MS,
// the process sleeps MS milliseconds between two renames.
void Replace_Together(std::vector<Pending_Result_File>& files);

#endif  // VARNEL_RUN_RESULT_PAIR_H_
