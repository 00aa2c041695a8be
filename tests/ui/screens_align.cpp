// Pictures of the alignment tab: at start, after loading a simulated study,
// and after "Align Process Finished!". Usage: screens_align OUTPUT_FOLDER
#include <QApplication>
#include <QCheckBox>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>

#include "storage/path.h"
#include "tests/ui/support/form_controls.h"
#include "tests/ui/support/screens.h"
#include "tests/ui/support/scripted_dialogs.h"
#include "ui/text_codec.h"
#include "ui/widgets/varnel_form.h"

using namespace Varnel;

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  Test::Screens screens("screens_align", argc, argv);
  if (!screens.Prepare(6, 150, 1)) return 1;

  auto dialogs = std::make_unique<Test::Scripted_Dialogs>();
  Test::Scripted_Dialogs* script = dialogs.get();
  Varnel_Form form(std::move(dialogs));
  const Test::Form_Controls ui(form);
  form.show();
  QApplication::processEvents();
  bool ok = screens.Save(&form, "align_1_start.png");

  QStringList paths;
  for (const std::string& path : Study_Paths(screens.folder(), screens.study())) {
    paths.push_back(From_Engine_String(path));
  }
  script->answers.push_back(paths);
  ui.button_Annotation_File_Browse->click();
  ui.button_Annotation_Load->click();
  ok = screens.Save(&form, "align_2_loaded.png") && ok;

  auto* header_box =
      ui.dataGridView_Annotation_Filelist->findChild<QCheckBox*>("checkboxHeader_Align");
  if (header_box == nullptr) return 1;
  header_box->click();
  ui.radioButton_Two_Phase_Align->setChecked(true);
  ui.button_Align_Process->click();
  if (script->messages != QStringList{"Align Process Finished!"}) {
    screens.Fail("unexpected messages: " + script->messages.join(" | ").toStdString());
    return 1;
  }
  ok = screens.Save(&form, "align_3_finished.png") && ok;

  // The completion message as the user sees it, beside the window.
  QMessageBox box(QMessageBox::NoIcon, QString(), script->messages.back(), QMessageBox::Ok, &form);
  box.show();
  ok = screens.Save(&box, "align_4_finished_message.png") && ok;
  return ok ? 0 : 1;
}
