// The dialog behind "Import feature lists...": the format, the feature lists,
// the folder to write into and the unit of the retention times.
#ifndef VARNEL_UI_WIDGETS_IMPORT_DIALOG_H_
#define VARNEL_UI_WIDGETS_IMPORT_DIALOG_H_

#include <QDialog>
#include <QStringList>
#include <optional>

#include "ui/import_ui.h"

class QComboBox;
class QLineEdit;
class QPushButton;

namespace Varnel {

// Opens with the values given (the last ones asked, so that nothing typed is
// lost after a refusal or a failed import). Choosing feature lists (or typing
// them) sets the format that the first one holds, guessed from its name and
// content (Guess_Import_Format), unless the user chose the format himself
// since. OK with a request that Check_Import refuses says why and keeps the
// dialog open.
class Import_Dialog : public QDialog {
  Q_OBJECT

 public:
  Import_Dialog(QWidget* parent, const Import_Form_Values& start);

  Import_Form_Values Values() const;
  void Set_Inputs(const QStringList& paths);

  QComboBox* format_box() const { return format_; }
  QLineEdit* inputs_box() const { return inputs_; }
  QLineEdit* folder_box() const { return folder_; }
  QComboBox* rt_unit_box() const { return rt_unit_; }

  void accept() override;

 private:
  void Guess_Format();

  QComboBox* format_ = nullptr;
  QLineEdit* inputs_ = nullptr;
  QLineEdit* folder_ = nullptr;
  QComboBox* rt_unit_ = nullptr;
  QStringList chosen_;          // the paths last browsed, as the box shows them joined
  bool format_chosen_ = false;  // the user picked the format: no more guesses
  bool guessing_ = false;
};

// Shows the dialog modally, filled with `start`; nullopt when it is not closed
// with OK.
std::optional<Import_Form_Values> Exec_Import_Dialog(QWidget* parent,
                                                     const Import_Form_Values& start = {});

}  // namespace Varnel

#endif  // VARNEL_UI_WIDGETS_IMPORT_DIALOG_H_
