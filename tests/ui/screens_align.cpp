// Pictures of the alignment tab: at start, after loading a simulated study,
// and after "Align Process Finished!". Usage: screens_align OUTPUT_FOLDER
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTemporaryDir>
#include <cstdio>
#include <deque>

#include "tests/ui/support/align_study.h"
#include "tools/simulate.h"
#include "ui/widgets/varnel_form.h"

using namespace Varnel;

namespace {

class Scripted_Dialogs : public Form_Dialogs {
 public:
  std::deque<QStringList> answers;
  QStringList messages;

  std::optional<QStringList> Open_Files(QWidget*, const QString&, const QString&, const QString&,
                                        bool) override {
    if (answers.empty()) return std::nullopt;
    QStringList answer = answers.front();
    answers.pop_front();
    return answer;
  }
  void Show_Message(QWidget*, const QString& text) override { messages.push_back(text); }
};

bool Save(QWidget* widget, const QDir& out, const char* name) {
  QApplication::processEvents();
  const QString path = Test::Join(out.path(), QString::fromLatin1(name));
  if (!widget->grab().save(path)) {
    std::fprintf(stderr, "screens_align: cannot write %s\n", qPrintable(path));
    return false;
  }
  std::printf("%s\n", qPrintable(path));
  return true;
}

}  // namespace

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  const QDir out(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath());
  if (!QDir().mkpath(out.path())) {
    std::fprintf(stderr, "screens_align: cannot create %s\n", qPrintable(out.path()));
    return 1;
  }
  QTemporaryDir study_dir;
  if (!study_dir.isValid()) return 1;
  Simulation_Options options;
  options.samples = 6;
  options.compounds = 150;
  Simulation_Result study;
  try {
    study = Simulate_Study(options, Test::To_Std(study_dir.path()));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "screens_align: %s\n", e.what());
    return 1;
  }

  auto dialogs = std::make_unique<Scripted_Dialogs>();
  Scripted_Dialogs* script = dialogs.get();
  Varnel_Form form(std::move(dialogs));
  form.show();
  QApplication::processEvents();
  bool ok = Save(&form, out, "align_1_start.png");

  QStringList paths;
  for (const std::string& name : study.database_names) {
    paths.push_back(Test::Join(study_dir.path(), QString::fromStdString(name)));
  }
  script->answers.push_back(paths);
  form.button_Annotation_File_Browse->click();
  form.button_Annotation_Load->click();
  ok = Save(&form, out, "align_2_loaded.png") && ok;

  auto* header_box =
      form.dataGridView_Annotation_Filelist->findChild<QCheckBox*>("checkboxHeader_Align");
  if (header_box == nullptr) return 1;
  header_box->click();
  form.radioButton_Two_Phase_Align->setChecked(true);
  form.button_Align_Process->click();
  if (script->messages != QStringList{"Align Process Finished!"}) {
    std::fprintf(stderr, "screens_align: unexpected messages: %s\n",
                 qPrintable(script->messages.join(" | ")));
    return 1;
  }
  ok = Save(&form, out, "align_3_finished.png") && ok;

  // The completion message as the user sees it, beside the window.
  QMessageBox box(QMessageBox::NoIcon, QString(), script->messages.back(), QMessageBox::Ok, &form);
  box.show();
  ok = Save(&box, out, "align_4_finished_message.png") && ok;
  return ok ? 0 : 1;
}
