// What the window asks of the user outside itself (file dialogs, message
// boxes) and the one place where a handler's failure becomes a message.
#ifndef VARNEL_UI_WIDGETS_FORM_DIALOGS_H_
#define VARNEL_UI_WIDGETS_FORM_DIALOGS_H_

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

#include "export/quantities.h"
#include "export/signal_correction.h"
#include "ui/import_ui.h"
#include "ui/result_find.h"

class QWidget;

namespace Varnel {

// File dialogs and message boxes. Tests inject their own so that nothing
// ever blocks.
class Form_Dialogs {
 public:
  virtual ~Form_Dialogs() = default;
  // An open-file dialog. std::nullopt when it is not closed with OK; otherwise
  // the chosen full paths (possibly none), in the dialog's order.
  virtual std::optional<QStringList> Open_Files(QWidget* parent, const QString& title,
                                                const QString& folder, const QString& filter,
                                                bool multi_select) = 0;
  // A save-file dialog over `filter` (Qt's "Name (*.ext);;Name (*.ext)" form).
  // std::nullopt when cancelled; otherwise the chosen path, and the chosen
  // filter entry in *selected_filter (when given). When the user picks
  // another filter, the name typed takes its extension
  // (Name_With_Filter_Extension), and a name typed without one gets it. The
  // default cancels.
  virtual std::optional<QString> Save_File(QWidget* parent, const QString& title,
                                           const QString& folder, const QString& filter,
                                           QString* selected_filter);
  // A message box with the text alone, one OK button and an empty title.
  virtual void Show_Message(QWidget* parent, const QString& text) = 0;
  // A question with Yes and No (No preselected): true for Yes. The default
  // answers No, which leaves everything as it is.
  virtual bool Ask_Yes_No(QWidget* parent, const QString& text);
  // A notice: text, details below it, an OK button and, when action is not
  // empty, a button of that caption; true when that button was chosen. The
  // default shows text and details as one message (Show_Message) and
  // answers false.
  virtual bool Show_Notice(QWidget* parent, const QString& text, const QString& details,
                           const QString& action);
  // The result grid's "Find..." dialog: what to search and the number as
  // typed, or std::nullopt when cancelled. The default cancels.
  virtual std::optional<Find_Request> Ask_Find(QWidget* parent);
  // The "Import feature lists..." dialog: the format, the inputs and the
  // folder, or std::nullopt when cancelled. The default cancels.
  virtual std::optional<Import_Form_Values> Ask_Import(QWidget* parent);
  // The quantity an export writes (compound, area or height; the last one
  // chosen preselected), or std::nullopt when cancelled. The default answers
  // compound.
  virtual std::optional<Export_Quantity> Ask_Export_Quantity(QWidget* parent);
  // The intensity correction and normalisation chosen in the last export
  // dialog Ask_Export_Quantity showed (export/signal_correction.h). The
  // default: none.
  virtual Signal_Options Export_Signal_Options();
};

// name (a file name or a path) with its extension replaced by the first
// pattern's of filter ("Feature table (*.csv)" gives ".csv"); a name without
// an extension gets it; unchanged when the filter has no "*.ext" pattern.
QString Name_With_Filter_Extension(const QString& name, const QString& filter);

// QFileDialog and QMessageBox.
std::unique_ptr<Form_Dialogs> Make_Standard_Dialogs();

// Runs handler bodies so that Qt never sees an exception leave a slot: a
// failure (CppSQLite3Exception, std::exception, anything else) restores the
// default cursor and is shown through the dialogs, parented to `window`.
class Failure_Guard {
 public:
  Failure_Guard(Form_Dialogs& dialogs, QWidget* window) : dialogs_(dialogs), window_(window) {}
  // True when body returned normally, false when it failed (already shown).
  bool Run(const std::function<void()>& body) const { return Run(body, window_); }
  // The same, with a failure shown over `asker` (another window of the
  // program that ran body), or over `window` when asker is null.
  bool Run(const std::function<void()>& body, QWidget* asker) const;

 private:
  Form_Dialogs& dialogs_;
  QWidget* window_;
};

}  // namespace Varnel

#endif  // VARNEL_UI_WIDGETS_FORM_DIALOGS_H_
