// The replacement of a study folder's databases as one, for an import into a
// folder that already holds files.
//
// Every new database is complete and synced under a temporary name in the
// folder first. Then, with the folder locked (flock on the folder), the
// record kImportRecordName is written (itself under a temporary name, synced
// and renamed into place, the folder synced), naming each temporary file with
// its device and inode and the database it becomes. Only then are the
// temporary files renamed in the record's order; the folder is synced and the
// record removed.
//
// A kill before the record is in place leaves every earlier database and no
// new one; a kill after it leaves the record, which the next import into the
// folder carries out first (Recover_Import_Folder). Until then every reader
// of an annotated database in that folder refuses it (Interrupted_Import):
// the folder may hold old and new databases side by side, or only part of the
// new samples.
//
// Only Varnel's own records are carried out: Varnel temporary names replacing
// plain names of annotated databases (kAnnotatedSuffix), each at most once.
// Any other record is refused, nothing is renamed, and every reader and
// import reports it until it is removed by hand.
#ifndef VARNEL_STORAGE_IMPORT_COMMIT_H_
#define VARNEL_STORAGE_IMPORT_COMMIT_H_

#include <string>
#include <vector>

inline constexpr const char* kImportRecordName = ".varnel-import-commit";

// One database of an import: its temporary file (a path in the folder) and
// the bare name it takes.
struct Import_Rename {
  std::string temp_path;
  std::string target_name;
};

// What Recover_Import_Folder found and did.
struct Import_Folder_Recovery {
  bool finished = false;   // an interrupted import was completed
  bool abandoned = false;  // a record whose new database went missing before any
                           // rename was dropped: every database is as it was
  bool refused = false;    // the record is not Varnel's own; nothing was renamed
  // The databases the record left old, when its new file went missing after
  // the first rename (the folder then holds new and old databases side by
  // side and the record stays).
  std::vector<std::string> left_old;
  std::string problem;  // empty, or one line naming the folder or the record
};

// Carries out or drops an interrupted import in folder (see above). Takes
// the folder's lock while it works. Never throws; a folder without a record
// is left alone. Cost: one read of the record and a stat per database it
// names.
Import_Folder_Recovery Recover_Import_Folder(const std::string& folder);

// Renames the synced temporary files of renames (all in folder) over their
// targets as one (see above). An interrupted import in the folder is carried
// out first; a record that left databases old is replaced by this one when
// this import renews every database it names. REQUIRES: every temporary file
// is complete and synced, its maker keeps it on a stop (storage/
// replacement_file.h Keep_On_Stop) from the call on, and the targets are
// distinct names ending in kAnnotatedSuffix.
// Throws std::runtime_error naming the folder or the database when a step
// fails: before the first rename the folder is as it was; after it the record
// stays and the next import completes it. *recorded (when given) is set once
// the record is in place: the temporary files are the record's from then on.
// Test hooks: VARNEL_TEST_PAUSE_BETWEEN_IMPORT_RENAMES=MS sleeps MS
// milliseconds between two renames; VARNEL_TEST_KILL_AT_IMPORT_STEP=N ends
// the process by SIGKILL at step N (0: the record written, not yet in place;
// 1: in place; 1 + i: i databases renamed; 1 + renames: all renamed, the
// record not yet removed).
void Replace_Databases_Together(const std::string& folder,
                                const std::vector<Import_Rename>& renames,
                                bool* recorded = nullptr);

// Empty, or the reason a reader must not take folder's databases: an
// interrupted import's record is there. One stat.
std::string Interrupted_Import(const std::string& folder);

#endif  // VARNEL_STORAGE_IMPORT_COMMIT_H_
