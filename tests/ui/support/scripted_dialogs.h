// The window's dialogs replaced by a script: file dialogs answer from a
// queue (a cancelled dialog once the queue is empty), every open call and
// every message is recorded instead of blocking.
#ifndef VARNEL_TESTS_UI_SUPPORT_SCRIPTED_DIALOGS_H_
#define VARNEL_TESTS_UI_SUPPORT_SCRIPTED_DIALOGS_H_

#include <QString>
#include <QStringList>
#include <deque>
#include <optional>
#include <vector>

#include "ui/widgets/varnel_form.h"

namespace Varnel::Test {

class Scripted_Dialogs final : public Form_Dialogs {
 public:
  struct Open_Call {
    QString title, folder, filter;
    bool multi_select;
  };

  std::optional<QStringList> Open_Files(QWidget*, const QString& title, const QString& folder,
                                        const QString& filter, bool multi_select) override {
    open_calls.push_back({title, folder, filter, multi_select});
    if (answers.empty()) return std::nullopt;
    std::optional<QStringList> answer = answers.front();
    answers.pop_front();
    return answer;
  }
  void Show_Message(QWidget*, const QString& text) override { messages.push_back(text); }

  std::deque<std::optional<QStringList>> answers;
  std::vector<Open_Call> open_calls;
  QStringList messages;
};

}  // namespace Varnel::Test

#endif  // VARNEL_TESTS_UI_SUPPORT_SCRIPTED_DIALOGS_H_
