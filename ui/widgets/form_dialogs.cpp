#include "ui/widgets/form_dialogs.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <exception>

#include "storage/cppsqlite3.h"
#include "ui/text_codec.h"
#include "ui/widgets/import_dialog.h"

namespace Varnel {

namespace {

const QString kUnexpectedFailure = QStringLiteral("Unexpected failure.");

class Standard_Dialogs final : public Form_Dialogs {
 public:
  std::optional<QStringList> Open_Files(QWidget* parent, const QString& title,
                                        const QString& folder, const QString& filter,
                                        bool multi_select) override {
    QFileDialog dialog(parent, title, folder, filter);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(multi_select ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.selectedFiles();
  }

  std::optional<QString> Save_File(QWidget* parent, const QString& title, const QString& folder,
                                   const QString& filter, QString* selected_filter) override {
    QFileDialog dialog(parent, title, folder, filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    if (selected_filter != nullptr && !selected_filter->isEmpty())
      dialog.selectNameFilter(*selected_filter);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    if (selected_filter != nullptr) *selected_filter = dialog.selectedNameFilter();
    return dialog.selectedFiles().front();
  }

  void Show_Message(QWidget* parent, const QString& text) override {
    QMessageBox box(QMessageBox::NoIcon, QString(), text, QMessageBox::Ok, parent);
    box.exec();
  }

  bool Ask_Yes_No(QWidget* parent, const QString& text) override {
    QMessageBox box(QMessageBox::Question, QString(), text, QMessageBox::Yes | QMessageBox::No,
                    parent);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
  }

  std::optional<Find_Request> Ask_Find(QWidget* parent) override {
    QDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("Find_Dialog"));
    dialog.setWindowTitle(QStringLiteral("Find"));
    auto* key = new QComboBox(&dialog);
    constexpr Find_Key kKeys[] = {Find_Key::kAlign_ID, Find_Key::kCompound_MolecularMass,
                                  Find_Key::kCompound_Retention_Time};
    for (const Find_Key k : kKeys) key->addItem(Find_Key_Name(k), static_cast<int>(k));
    auto* value = new QLineEdit(&dialog);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto* layout = new QFormLayout(&dialog);
    layout->addRow(QStringLiteral("Go to:"), key);
    layout->addRow(QStringLiteral("Value:"), value);
    layout->addRow(buttons);
    value->setFocus();
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return Find_Request{static_cast<Find_Key>(key->currentData().toInt()), value->text()};
  }

  std::optional<Import_Form_Values> Ask_Import(QWidget* parent) override {
    return Exec_Import_Dialog(parent);
  }
};

}  // namespace

std::optional<QString> Form_Dialogs::Save_File(QWidget*, const QString&, const QString&,
                                               const QString&, QString*) {
  return std::nullopt;
}

bool Form_Dialogs::Ask_Yes_No(QWidget*, const QString&) { return false; }

std::optional<Find_Request> Form_Dialogs::Ask_Find(QWidget*) { return std::nullopt; }

std::optional<Import_Form_Values> Form_Dialogs::Ask_Import(QWidget*) { return std::nullopt; }

std::unique_ptr<Form_Dialogs> Make_Standard_Dialogs() {
  return std::make_unique<Standard_Dialogs>();
}

bool Failure_Guard::Run(const std::function<void()>& body) const {
  QString failure;
  try {
    body();
    return true;
  } catch (const CppSQLite3Exception& e) {
    failure = From_Engine_String(e.errorMessage());
  } catch (const std::exception& e) {
    failure = From_Engine_String(e.what());
  } catch (...) {
    failure = kUnexpectedFailure;
  }
  while (QApplication::overrideCursor() != nullptr) QApplication::restoreOverrideCursor();
  if (failure.isEmpty()) failure = kUnexpectedFailure;
  try {
    dialogs_.Show_Message(window_, failure);
  } catch (...) {
    // Nothing is left to tell the user with; Qt must not see it either.
  }
  return false;
}

}  // namespace Varnel
