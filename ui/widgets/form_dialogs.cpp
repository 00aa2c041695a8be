#include "ui/widgets/form_dialogs.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <exception>

#include "storage/path.h"
#include "storage/sqlite/cppsqlite3.h"
#include "ui/result_export_ui.h"
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
    const auto suffix_of = [](const QString& f) {
      return Name_With_Filter_Extension(QString(), f).mid(1);
    };
    dialog.setDefaultSuffix(suffix_of(dialog.selectedNameFilter()));
    // Qt's own dialog shows the name in its line edit: it follows the type.
    auto* name = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                     [&dialog, name, suffix_of](const QString& chosen) {
                       dialog.setDefaultSuffix(suffix_of(chosen));
                       if (name != nullptr && !name->text().isEmpty()) {
                         // An export's name follows its format ("_features.csv"
                         // becomes "_metaboanalyst.csv"); others take the extension.
                         const std::optional<Export_Format> format =
                             Export_Format_Of_Filter(chosen);
                         name->setText(format ? Fit_Export_Path(name->text(), *format)
                                              : Name_With_Filter_Extension(name->text(), chosen));
                       }
                     });
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    if (selected_filter != nullptr) *selected_filter = dialog.selectedNameFilter();
    return dialog.selectedFiles().front();
  }

  void Show_Message(QWidget* parent, const QString& text) override {
    QMessageBox box(QMessageBox::NoIcon, QString(), text, QMessageBox::Ok, parent);
    box.exec();
  }

  bool Show_Notice(QWidget* parent, const QString& text, const QString& details,
                   const QString& action) override {
    QMessageBox box(QMessageBox::NoIcon, QString(), text, QMessageBox::Ok, parent);
    box.setInformativeText(details);
    QPushButton* act = action.isEmpty() ? nullptr : box.addButton(action, QMessageBox::AcceptRole);
    box.setDefaultButton(QMessageBox::Ok);
    box.exec();
    return act != nullptr && box.clickedButton() == act;
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
                                  Find_Key::kAlign_RT};
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

  // Opens with the values last asked, so that a refused or failed import
  // loses nothing typed.
  std::optional<Import_Form_Values> Ask_Import(QWidget* parent) override {
    std::optional<Import_Form_Values> values = Exec_Import_Dialog(parent, last_import_);
    if (values) last_import_ = *values;
    return values;
  }

  std::optional<Export_Quantity> Ask_Export_Quantity(QWidget* parent) override {
    QDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("Export_Quantity_Dialog"));
    dialog.setWindowTitle(QStringLiteral("Export"));
    auto* quantity = new QComboBox(&dialog);
    for (const Export_Quantity q :
         {Export_Quantity::kCompound, Export_Quantity::kArea, Export_Quantity::kHeight}) {
      quantity->addItem(Export_Quantity_Caption(q), static_cast<int>(q));
    }
    quantity->setCurrentIndex(quantity->findData(static_cast<int>(last_quantity_)));
    // The QC correction: off unless chosen; it asks for the sample sheet.
    auto* method = new QComboBox(&dialog);
    method->setObjectName(QStringLiteral("comboBox_Signal_Method"));
    for (const char* name : kSignalMethodNames) method->addItem(QString::fromUtf8(name));
    method->setCurrentIndex(static_cast<int>(last_signal_.method));
    auto* normalize = new QComboBox(&dialog);
    normalize->setObjectName(QStringLiteral("comboBox_Signal_Normalize"));
    for (const char* name : kSignalNormalizationNames) normalize->addItem(QString::fromUtf8(name));
    normalize->setCurrentIndex(static_cast<int>(last_signal_.normalize));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto* layout = new QFormLayout(&dialog);
    layout->addRow(QStringLiteral("Quantity of each sample:"), quantity);
    layout->addRow(QStringLiteral("QC drift and batch correction:"), method);
    layout->addRow(QStringLiteral("Normalisation before it:"), normalize);
    layout->addRow(buttons);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    last_quantity_ = static_cast<Export_Quantity>(quantity->currentData().toInt());
    last_signal_.method = static_cast<Signal_Method>(method->currentIndex());
    last_signal_.normalize = static_cast<Signal_Normalization>(normalize->currentIndex());
    return last_quantity_;
  }

  Signal_Options Export_Signal_Options() override { return last_signal_; }

 private:
  Export_Quantity last_quantity_ = Export_Quantity::kCompound;
  Signal_Options last_signal_;
  Import_Form_Values last_import_;
};

}  // namespace

std::optional<QString> Form_Dialogs::Save_File(QWidget*, const QString&, const QString&,
                                               const QString&, QString*) {
  return std::nullopt;
}

bool Form_Dialogs::Ask_Yes_No(QWidget*, const QString&) { return false; }

bool Form_Dialogs::Show_Notice(QWidget* parent, const QString& text, const QString& details,
                               const QString&) {
  Show_Message(parent, details.isEmpty() ? text : text + QStringLiteral("\n\n") + details);
  return false;
}

std::optional<Find_Request> Form_Dialogs::Ask_Find(QWidget*) { return std::nullopt; }

std::optional<Import_Form_Values> Form_Dialogs::Ask_Import(QWidget*) { return std::nullopt; }

std::optional<Export_Quantity> Form_Dialogs::Ask_Export_Quantity(QWidget*) {
  return Export_Quantity::kCompound;
}

Signal_Options Form_Dialogs::Export_Signal_Options() { return {}; }

QString Name_With_Filter_Extension(const QString& name, const QString& filter) {
  const qsizetype star = filter.indexOf(QStringLiteral("*."));
  if (star < 0) return name;
  qsizetype end = star + 2;
  while (end < filter.size() && filter[end] != QLatin1Char(')') &&
         filter[end] != QLatin1Char(' ') && filter[end] != QLatin1Char('*')) {
    ++end;
  }
  const QString extension = filter.mid(star + 1, end - star - 1);  // ".csv"
  if (extension.size() < 2) return name;
  const QString file = From_Engine_String(Split_Path(To_Engine_String(name)).name);
  const qsizetype base = name.size() - file.size();  // where the file name starts
  const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
  return (dot > base ? name.left(dot) : name) + extension;
}

std::unique_ptr<Form_Dialogs> Make_Standard_Dialogs() {
  return std::make_unique<Standard_Dialogs>();
}

bool Failure_Guard::Run(const std::function<void()>& body, QWidget* asker) const {
  QString failure;
  try {
    body();
    return true;
  } catch (const CppSQLite3Exception& e) {
    // The detail names the file and the problem; SQLite's code name
    // ("UNKNOWN_ERROR[26]") tells a user nothing.
    failure = From_Engine_String(std::string(
        e.errorDetail().empty() ? std::string_view(e.errorMessage()) : e.errorDetail()));
  } catch (const std::exception& e) {
    failure = From_Engine_String(e.what());
  } catch (...) {
    failure = kUnexpectedFailure;
  }
  while (QApplication::overrideCursor() != nullptr) QApplication::restoreOverrideCursor();
  if (failure.isEmpty()) failure = kUnexpectedFailure;
  try {
    dialogs_.Show_Message(asker != nullptr ? asker : window_, failure);
  } catch (...) {
    // Nothing is left to tell the user with; Qt must not see it either.
  }
  return false;
}

}  // namespace Varnel
