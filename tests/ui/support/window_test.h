// What the window suites start from: the real window over scripted dialogs,
// its controls found by name, shown on the offscreen platform; with a small
// result to open for the suites of the visualization tab and the viewer.
#ifndef VARNEL_TESTS_UI_SUPPORT_WINDOW_TEST_H_
#define VARNEL_TESTS_UI_SUPPORT_WINDOW_TEST_H_

#include <QObject>
#include <QTest>
#include <memory>
#include <string>
#include <utility>

#include "storage/path.h"
#include "tests/support/test_files.h"
#include "tests/ui/support/form_controls.h"
#include "tests/ui/support/scripted_dialogs.h"
#include "tests/ui/support/viz_study.h"
#include "ui/widgets/varnel_form.h"

namespace Varnel::Test {

// The base of a Qt Test class that drives the window: its init() calls
// Make_Window(), sets up what the suite needs, then QVERIFY(Show_Window());
// its cleanup() resets form_.
class Window_Test : public QObject {
 protected:
  // A new window whose dialogs are a script; ui_ and dialogs_ point into it.
  void Make_Window() {
    auto dialogs = std::make_unique<Scripted_Dialogs>();
    dialogs_ = dialogs.get();
    form_ = std::make_unique<Varnel_Form>(std::move(dialogs));
    ui_ = Form_Controls(*form_);
  }

  // Shows the window; false when it was never exposed.
  bool Show_Window() {
    form_->show();
    return QTest::qWaitForWindowExposed(form_.get());
  }

  std::unique_ptr<Varnel_Form> form_;
  Form_Controls ui_;
  Scripted_Dialogs* dialogs_ = nullptr;  // owned by form_
};

// A Window_Test over a small result, "study.aligndb" in a fresh folder:
// Align_ID 7 in samples 2, 2 and 5; Align_ID 3 in samples 0 and 1; one
// unaligned peak of sample 1 (Lone_Peak each).
class Study_Window_Test : public Window_Test {
 protected:
  // Writes the study into a fresh folder and makes a window (Make_Window) on
  // the visualization tab; the suite shows it (Show_Window).
  void Make_Study_Window() {
    dir_ = std::make_unique<Temp_Folder>();
    Write_Aligned_Result(
        {Make_Peak(Lone_Peak(1, 30, 0, 140.0)), Make_Peak(Lone_Peak(0, 10, 3, 98.0)),
         Make_Peak(Lone_Peak(1, 11, 3, 102.0)), Make_Peak(Lone_Peak(2, 20, 7, 60.0)),
         Make_Peak(Lone_Peak(2, 21, 7, 61.0)), Make_Peak(Lone_Peak(5, 50, 7, 62.0))},
        dir_->path(), "study.aligndb");
    Make_Window();
    ui_.tabControl1->setCurrentWidget(ui_.Tab_Align_Visualization);
  }

  // The path of file in the study's folder.
  std::string Path_Of(const std::string& file) const { return Join_Path(dir_->path(), file); }

  // Opens file of the study's folder with the tab's Browse button, the
  // script answering its file dialog.
  void Open(const std::string& file) {
    dialogs_->answers.push_back(QStringList{QString::fromStdString(Path_Of(file))});
    QTest::mouseClick(ui_.button_Align_File_Browse, Qt::LeftButton);
  }

  // The window goes before its folder.
  void Close_Study_Window() {
    form_.reset();
    dir_.reset();
  }

  std::unique_ptr<Temp_Folder> dir_;
};

}  // namespace Varnel::Test

#endif  // VARNEL_TESTS_UI_SUPPORT_WINDOW_TEST_H_
