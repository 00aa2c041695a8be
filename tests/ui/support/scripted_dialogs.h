// The window's dialogs replaced by a script: file dialogs, questions, the
// find, the import and the export quantity dialogs answer from queues (a cancelled dialog or No
// once a queue is empty; compound for the quantity), every call and every message is recorded
// instead of blocking.
#ifndef VARNEL_TESTS_UI_SUPPORT_SCRIPTED_DIALOGS_H_
#define VARNEL_TESTS_UI_SUPPORT_SCRIPTED_DIALOGS_H_

#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

#include "ui/widgets/varnel_form.h"

// GCC 12 takes the copy of a queued std::optional<QString...> for a read of
// uninitialized memory when optimizing (a known false positive).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace Varnel::Test {

class Scripted_Dialogs final : public Form_Dialogs {
 public:
  struct Open_Call {
    QString title, folder, filter;
    bool multi_select;
  };

  std::optional<QStringList> Open_Files(QWidget* parent, const QString& title,
                                        const QString& folder, const QString& filter,
                                        bool multi_select) override {
    parents.push_back(parent);
    open_calls.push_back({title, folder, filter, multi_select});
    if (answers.empty()) return std::nullopt;
    std::optional<QStringList> answer = answers.front();
    answers.pop_front();
    return answer;
  }
  struct Save_Call {
    QString title, folder, filter, selected_filter;
  };

  std::optional<QString> Save_File(QWidget* parent, const QString& title, const QString& folder,
                                   const QString& filter, QString* selected_filter) override {
    parents.push_back(parent);
    save_calls.push_back({title, folder, filter, selected_filter ? *selected_filter : QString()});
    if (selected_filter != nullptr && !save_filter_answer.isEmpty())
      *selected_filter = save_filter_answer;
    if (save_answers.empty()) return std::nullopt;
    std::optional<QString> answer = save_answers.front();
    save_answers.pop_front();
    return answer;
  }

  void Show_Message(QWidget* parent, const QString& text) override {
    parents.push_back(parent);
    messages.push_back(text);
  }

  struct Notice {
    QString text, details, action;
  };
  // Recorded in notices, and its text in messages; answers from notice_answers.
  bool Show_Notice(QWidget* parent, const QString& text, const QString& details,
                   const QString& action) override {
    parents.push_back(parent);
    notices.push_back({text, details, action});
    messages.push_back(text);
    if (notice_answers.empty()) return false;
    const bool answer = notice_answers.front();
    notice_answers.pop_front();
    return answer;
  }

  bool Ask_Yes_No(QWidget* parent, const QString& text) override {
    parents.push_back(parent);
    questions.push_back(text);
    if (on_question) on_question();
    if (yes_no_answers.empty()) return false;
    const bool answer = yes_no_answers.front();
    yes_no_answers.pop_front();
    return answer;
  }

  std::optional<Find_Request> Ask_Find(QWidget* parent) override {
    parents.push_back(parent);
    ++find_calls;
    if (find_answers.empty()) return std::nullopt;
    std::optional<Find_Request> answer = find_answers.front();
    find_answers.pop_front();
    return answer;
  }

  std::optional<Import_Form_Values> Ask_Import(QWidget* parent) override {
    parents.push_back(parent);
    ++import_calls;
    if (import_answers.empty()) return std::nullopt;
    std::optional<Import_Form_Values> answer = import_answers.front();
    import_answers.pop_front();
    return answer;
  }

  std::deque<std::optional<QStringList>> answers;
  std::vector<Open_Call> open_calls;
  std::optional<Export_Quantity> Ask_Export_Quantity(QWidget* parent) override {
    parents.push_back(parent);
    ++quantity_calls;
    if (quantity_answers.empty()) return Export_Quantity::kCompound;
    std::optional<Export_Quantity> answer = quantity_answers.front();
    quantity_answers.pop_front();
    return answer;
  }

  Signal_Options Export_Signal_Options() override { return signal_answer; }

  std::deque<std::optional<QString>> save_answers;
  QString save_filter_answer;  // the filter a save dialog reports; empty: kept as given
  std::vector<Save_Call> save_calls;
  QStringList messages;
  std::deque<bool> yes_no_answers;  // No once empty
  QStringList questions;
  std::vector<Notice> notices;
  std::deque<bool> notice_answers;                       // OK once empty
  std::function<void()> on_question;                     // called while a question is open
  std::deque<std::optional<Find_Request>> find_answers;  // cancelled once empty
  int find_calls = 0;
  std::deque<std::optional<Import_Form_Values>> import_answers;  // cancelled once empty
  int import_calls = 0;
  std::deque<std::optional<Export_Quantity>> quantity_answers;  // compound once empty
  int quantity_calls = 0;
  Signal_Options signal_answer;   // the export dialog's QC correction: none unless set
  std::vector<QWidget*> parents;  // the window each dialog and message was asked over, in order
};

}  // namespace Varnel::Test

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

#endif  // VARNEL_TESTS_UI_SUPPORT_SCRIPTED_DIALOGS_H_
