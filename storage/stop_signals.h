// The signals that stop a program running an alignment, shared by
// varnel-align and the window: SIGINT (Ctrl+C), SIGTERM (a service manager, a
// log-out) and SIGHUP (a closed terminal) ask the work to stop; it stops at
// its next report, removes its temporary files and leaves earlier results as
// they were, and the program exits with 128 + the signal (130, 143, 129).
#ifndef VARNEL_STORAGE_STOP_SIGNALS_H_
#define VARNEL_STORAGE_STOP_SIGNALS_H_

// Installs the handlers. Each is reset by its first signal, so a second one
// ends the program the default way at once. A signal that was ignored when
// the program started (nohup, a background job of a non-interactive shell)
// stays ignored.
void Install_Stop_Handlers();

// The signal that asked to stop, or 0. Cheap: a load of one variable.
int Stop_Signal();
// 128 + Stop_Signal().
int Stop_Exit_Status();
// "SIGINT", "SIGTERM" or "SIGHUP"; "" before a signal.
const char* Stop_Signal_Name();

#endif  // VARNEL_STORAGE_STOP_SIGNALS_H_
