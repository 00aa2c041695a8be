// Pictures of the result grid's helpers: the context menu, a row's tooltip
// and the "Find..." dialog, over the result of an aligned demo study.
// Usage: screens_result_grid OUTPUT_FOLDER
#include <QApplication>
#include <QHelpEvent>
#include <QMenu>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <QToolTip>

#include "storage/path.h"
#include "tests/ui/support/form_controls.h"
#include "tests/ui/support/scripted_dialogs.h"
#include "tests/ui/support/viz_study.h"
#include "tools/screens/screens.h"
#include "ui/text_codec.h"
#include "ui/widgets/varnel_form.h"

using namespace Varnel;

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  Test::Screens screens("screens_result_grid", argc, argv);
  if (!screens.Prepare(1, 1, 1)) return 1;
  Test::Write_Aligned_Result(Test::Make_Demo_Study(4, 30, 3), screens.folder(), "demo.aligndb");

  auto dialogs = std::make_unique<Test::Scripted_Dialogs>();
  Test::Scripted_Dialogs* script = dialogs.get();
  Varnel_Form form(std::move(dialogs));
  const Test::Form_Controls ui(form);
  ui.tabControl1->setCurrentWidget(ui.Tab_Align_Visualization);
  form.show();
  script->answers.push_back(
      QStringList{From_Engine_String(Join_Path(screens.folder(), "demo.aligndb"))});
  ui.button_Align_File_Browse->click();
  QTableView* grid = ui.dataGridView_Align_Peaklist_Table;
  script->find_answers.push_back(Find_Request{Find_Key::kAlign_RT, "300"});
  for (QAction* action : grid->actions()) {
    if (action->text() == QLatin1String("Find...")) action->trigger();
  }
  bool ok = screens.Save(&form, "grid_1_found.png");

  const QPoint at = grid->visualRect(grid->currentIndex()).center();
  emit grid->customContextMenuRequested(at);
  QApplication::processEvents();
  auto* menu = grid->findChild<QMenu*>();
  ok = (menu != nullptr ? screens.Save(menu, "grid_2_menu.png") : screens.Fail("no menu")) && ok;
  delete menu;

  QHelpEvent tip(QEvent::ToolTip, at, grid->viewport()->mapToGlobal(at));
  QApplication::sendEvent(grid->viewport(), &tip);
  QWidget* label = nullptr;
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget->inherits("QTipLabel") && widget->isVisible()) label = widget;
  }
  ok =
      (label != nullptr ? screens.Save(label, "grid_3_tooltip.png") : screens.Fail("no tooltip")) &&
      ok;
  QToolTip::hideText();

  // The window's own find dialog, pictured and closed from a timer.
  std::unique_ptr<Form_Dialogs> standard = Make_Standard_Dialogs();
  QTimer::singleShot(300, &form, [&] {
    QWidget* dialog = QApplication::activeModalWidget();
    ok =
        (dialog != nullptr ? screens.Save(dialog, "grid_4_find.png") : screens.Fail("no dialog")) &&
        ok;
    if (dialog != nullptr) dialog->close();
  });
  standard->Ask_Find(&form);
  return ok ? 0 : 1;
}
