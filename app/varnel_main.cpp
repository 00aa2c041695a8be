// varnel: the window. Takes no command-line options; returns 0 once the
// window is closed. SIGINT, SIGTERM and SIGHUP stop a run in progress the way
// Cancel does (its temporary files go, earlier results stay), end the program
// without a question and make it exit with 130, 143 or 129 (see
// storage/stop_signals.h).
#include <QApplication>
#include <QTimer>

#include "storage/stop_signals.h"
#include "ui/widgets/align_process_tab.h"
#include "ui/widgets/varnel_form.h"

namespace {
// How often the window looks for a stop signal.
constexpr int kSignalPollMs = 100;
}  // namespace

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  Install_Stop_Handlers();
  {
    Varnel::Varnel_Form form;
    // Looked for in every event loop, the progress dialog's included.
    QTimer signal_watch;
    QObject::connect(&signal_watch, &QTimer::timeout, &form, [&form, &signal_watch] {
      if (Stop_Signal() == 0) return;
      signal_watch.stop();
      form.Align_Tab()->Stop_Run_For_Close();
      QCoreApplication::exit(Stop_Exit_Status());
    });
    signal_watch.start(kSignalPollMs);
    form.show();
    QApplication::exec();
  }  // the window and all its controls are released here, however the loop ended
  return Stop_Signal() != 0 ? Stop_Exit_Status() : 0;
}
