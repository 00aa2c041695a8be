// "Run details...": a non-modal window showing the record of the run that
// made the opened result, read-only.
#ifndef VARNEL_UI_WIDGETS_RUN_DETAILS_DIALOG_H_
#define VARNEL_UI_WIDGETS_RUN_DETAILS_DIALOG_H_

#include <QDialog>
#include <QString>

class QPlainTextEdit;

namespace Varnel {

class Run_Details_Dialog : public QDialog {
  Q_OBJECT

 public:
  // Shows text (Run_Details_Text of the result) under the result's file name.
  // The dialog deletes itself when closed.
  Run_Details_Dialog(const QString& result_file_name, const QString& text,
                     QWidget* parent = nullptr);

  QString text() const;

 private:
  QPlainTextEdit* text_ = nullptr;
};

// Reads the record of the result at result_path (an engine string), then
// opens a Run_Details_Dialog on it without blocking and returns it. Throws
// what Run_Details_Text throws, before any window is made; call it inside the
// slot's guard.
Run_Details_Dialog* Show_Run_Details(const std::string& result_path, QWidget* parent);

}  // namespace Varnel

#endif  // VARNEL_UI_WIDGETS_RUN_DETAILS_DIALOG_H_
