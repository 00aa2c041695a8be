// What the window suites start from: the real window over scripted dialogs,
// its controls found by name, shown on the offscreen platform.
#ifndef VARNEL_TESTS_UI_SUPPORT_WINDOW_TEST_H_
#define VARNEL_TESTS_UI_SUPPORT_WINDOW_TEST_H_

#include <QObject>
#include <QTest>
#include <memory>
#include <utility>

#include "tests/ui/support/form_controls.h"
#include "tests/ui/support/scripted_dialogs.h"
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

}  // namespace Varnel::Test

#endif  // VARNEL_TESTS_UI_SUPPORT_WINDOW_TEST_H_
