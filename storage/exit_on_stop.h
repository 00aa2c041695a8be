// Stop signals for a program that has no place to stop at (an export, a
// merge, a step of an alignment in shards, a report): SIGINT, SIGTERM and
// SIGHUP end it at once, leaving nothing of its own behind.
// (varnel-align and the window stop at their next report instead:
// storage/stop_signals.h.)
#ifndef VARNEL_STORAGE_EXIT_ON_STOP_H_
#define VARNEL_STORAGE_EXIT_ON_STOP_H_

// Installs the handlers. A handler removes the files the program holds for
// removal (Remove_On_Stop in storage/replacement_file.h: every temporary
// file of Replacement_File among them; those a commit record names are kept
// for its completion), writes "<program>: stopped by SIGTERM; earlier files
// are unchanged" on stderr and exits with 128 + the signal (130, 143, 129).
// A signal ignored when the program started (nohup) stays ignored.
void Install_Exit_Handlers(const char* program);

#endif  // VARNEL_STORAGE_EXIT_ON_STOP_H_
