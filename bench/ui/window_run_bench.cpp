// An alignment started from the window, as a user starts it: the real
// Varnel_Form (offscreen unless QT_QPA_PLATFORM says otherwise) picks the
// databases through its file dialog, ticks them all with the header box and
// runs Align with the default settings under its progress dialog.
//
//   bench_window_run DATABASE...
//
// Prints the window's messages, the run's wall time, and the process's peak
// RSS before and after the run (before: Qt and the window alone) on stderr,
// as the window writes its run log on stdout. The result goes where the
// window puts it: a "Result" folder beside the first database. Run it under
// /usr/bin/time -v (scripts/bench_scale.sh does with VARNEL_SCALE_WINDOW=1)
// for the figures of the whole process.
#include <sys/resource.h>

#include <QApplication>
#include <QCheckBox>
#include <QPushButton>
#include <QWidget>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>

#include "ui/text_codec.h"
#include "ui/widgets/form_dialogs.h"
#include "ui/widgets/varnel_form.h"

namespace {

// The file dialog answers with the databases once; messages are printed.
class Bench_Dialogs final : public Varnel::Form_Dialogs {
 public:
  explicit Bench_Dialogs(QStringList files) : files_(std::move(files)) {}
  std::optional<QStringList> Open_Files(QWidget*, const QString&, const QString&, const QString&,
                                        bool) override {
    return files_;
  }
  void Show_Message(QWidget*, const QString& text) override {
    std::fprintf(stderr, "message:        %s\n", text.toLocal8Bit().constData());
    ++messages;
  }
  int messages = 0;

 private:
  QStringList files_;
};

double Peak_Rss_Mb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

template <typename T>
T* Find(QWidget& window, const char* name) {
  T* found = window.findChild<T*>(name);
  if (found == nullptr) {
    std::fprintf(stderr, "bench_window_run: the window has no %s\n", name);
    std::exit(1);
  }
  return found;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: bench_window_run DATABASE...\n");
    return 2;
  }
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  QStringList files;
  for (int i = 1; i < argc; ++i) files.push_back(Varnel::From_Engine_String(argv[i]));
  auto dialogs = std::make_unique<Bench_Dialogs>(files);
  Bench_Dialogs& said = *dialogs;
  Varnel::Varnel_Form form(std::move(dialogs));
  form.show();
  QApplication::processEvents();

  Find<QPushButton>(form, "button_Annotation_File_Browse")->click();
  Find<QPushButton>(form, "button_Annotation_Load")->click();
  Find<QCheckBox>(form, "checkboxHeader_Align")->click();
  const double before = Peak_Rss_Mb();
  // The click returns when the run's progress dialog has closed.
  const auto start = std::chrono::steady_clock::now();
  Find<QPushButton>(form, "button_Align_Process")->click();
  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::fprintf(stderr, "files:          %d\n", static_cast<int>(files.size()));
  std::fprintf(stderr, "run wall:       %.2f s\n", wall);
  std::fprintf(stderr, "peak RSS:       %.1f MB before the run, %.1f MB after it\n", before,
               Peak_Rss_Mb());
  return said.messages == 1 ? 0 : 1;
}
