// The window's dialogs replaced by a script: file dialogs answer from a
// queue (a cancelled dialog once the queue is empty), every file dialog call
// and every message is recorded instead of blocking.
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
  struct Save_Call {
    QString title, folder, filter, selected_filter;
  };

  std::optional<QString> Save_File(QWidget*, const QString& title, const QString& folder,
                                   const QString& filter, QString* selected_filter) override {
    save_calls.push_back({title, folder, filter, selected_filter ? *selected_filter : QString()});
    if (save_answers.empty()) return std::nullopt;
    std::optional<QString> answer = save_answers.front();
    save_answers.pop_front();
    return answer;
  }

  void Show_Message(QWidget*, const QString& text) override { messages.push_back(text); }

  std::deque<std::optional<QStringList>> answers;
  std::vector<Open_Call> open_calls;
  std::deque<std::optional<QString>> save_answers;  // the selected filter is kept as given
  std::vector<Save_Call> save_calls;
  QStringList messages;
};

}  // namespace Varnel::Test

#endif  // VARNEL_TESTS_UI_SUPPORT_SCRIPTED_DIALOGS_H_
