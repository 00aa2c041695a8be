#include "ui/widgets/import_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

#include "import/import_formats.h"
#include "ui/text_codec.h"

namespace Varnel {

namespace {

// A line edit with a "Browse..." button beside it.
QWidget* With_Browse(QDialog& dialog, QLineEdit* box, QPushButton*& button) {
  auto* row = new QWidget(&dialog);
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(box);
  button = new QPushButton(QStringLiteral("Browse\u2026"), row);
  layout->addWidget(button);
  return row;
}

QString Text_Of(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

Import_Dialog::Import_Dialog(QWidget* parent, const Import_Form_Values& start) : QDialog(parent) {
  setObjectName(QStringLiteral("Import_Dialog"));
  setWindowTitle(QString::fromUtf8(kImportDialogTitle));
  format_ = new QComboBox(this);
  format_->setObjectName(QStringLiteral("comboBox_Import_Format"));
  for (const Import_Format_Info& info : Import_Formats()) {
    format_->addItem(Text_Of(info.caption), Text_Of(info.name));
  }
  inputs_ = new QLineEdit(this);
  inputs_->setObjectName(QStringLiteral("textBox_Import_Inputs"));
  inputs_->setMinimumWidth(360);
  QPushButton* browse_inputs = nullptr;
  QWidget* inputs_row = With_Browse(*this, inputs_, browse_inputs);
  folder_ = new QLineEdit(this);
  folder_->setObjectName(QStringLiteral("textBox_Import_Folder"));
  QPushButton* browse_folder = nullptr;
  QWidget* folder_row = With_Browse(*this, folder_, browse_folder);
  rt_unit_ = new QComboBox(this);
  rt_unit_->setObjectName(QStringLiteral("comboBox_Import_Rt_Unit"));
  rt_unit_->addItem(QStringLiteral("As the format states (MZmine: minutes, others: seconds)"),
                    QString());
  rt_unit_->addItem(QStringLiteral("Seconds"), QStringLiteral("s"));
  rt_unit_->addItem(QStringLiteral("Minutes"), QStringLiteral("min"));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);

  // The values of the last request.
  if (const int at = format_->findData(start.format); at >= 0) {
    format_->setCurrentIndex(at);
    format_chosen_ = true;
  }
  chosen_ = start.inputs;
  inputs_->setText(start.inputs.join(QLatin1Char(';')));
  folder_->setText(start.out_dir);
  if (const int at = rt_unit_->findData(start.rt_unit); at >= 0) rt_unit_->setCurrentIndex(at);

  connect(format_, qOverload<int>(&QComboBox::activated), this,
          [this] { format_chosen_ = !guessing_; });
  connect(inputs_, &QLineEdit::editingFinished, this, [this] { Guess_Format(); });
  connect(browse_inputs, &QPushButton::clicked, this, [this] {
    const Import_Format_Info& info = Import_Formats()[format_->currentIndex()];
    const QStringList paths =
        QFileDialog::getOpenFileNames(this, QStringLiteral("Select Feature Lists"), QString(),
                                      Text_Of(info.filter) + QStringLiteral(";;All Files (*)"));
    if (!paths.isEmpty()) Set_Inputs(paths);
  });
  connect(browse_folder, &QPushButton::clicked, this, [this] {
    const QString path = QFileDialog::getExistingDirectory(
        this, QStringLiteral("Select the Folder for the Databases"), folder_->text());
    if (!path.isEmpty()) folder_->setText(path);
  });
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QFormLayout(this);
  layout->addRow(QStringLiteral("Format:"), format_);
  layout->addRow(QStringLiteral("Feature lists:"), inputs_row);
  layout->addRow(QStringLiteral("Write into:"), folder_row);
  layout->addRow(QStringLiteral("Retention times:"), rt_unit_);
  layout->addRow(buttons);
}

void Import_Dialog::Set_Inputs(const QStringList& paths) {
  chosen_ = paths;
  inputs_->setText(paths.join(QLatin1Char(';')));
  format_chosen_ = false;  // new files: their format is guessed again
  Guess_Format();
}

void Import_Dialog::Guess_Format() {
  const QStringList inputs = Values().inputs;
  if (format_chosen_ || inputs.isEmpty()) return;
  const std::optional<Import_Format> guess = Guess_Import_Format(To_Engine_String(inputs.front()));
  if (!guess) return;
  guessing_ = true;
  format_->setCurrentIndex(format_->findData(Text_Of(Format_Info(*guess).name)));
  guessing_ = false;
}

Import_Form_Values Import_Dialog::Values() const {
  Import_Form_Values values;
  values.format = format_->currentData().toString();
  // Paths typed by hand are separated by ";" as the box shows them.
  values.inputs = inputs_->text() == chosen_.join(QLatin1Char(';'))
                      ? chosen_
                      : inputs_->text().split(QLatin1Char(';'), Qt::SkipEmptyParts);
  values.out_dir = folder_->text().trimmed();
  values.rt_unit = rt_unit_->currentData().toString();
  return values;
}

void Import_Dialog::accept() {
  if (const std::optional<QString> refusal = Check_Import(Values())) {
    QMessageBox box(QMessageBox::NoIcon, QString(), *refusal, QMessageBox::Ok, this);
    box.setObjectName(QStringLiteral("Import_Refusal"));
    box.exec();
    return;  // the dialog stays, with every field as it was
  }
  QDialog::accept();
}

std::optional<Import_Form_Values> Exec_Import_Dialog(QWidget* parent,
                                                     const Import_Form_Values& start) {
  Import_Dialog dialog(parent, start);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.Values();
}

}  // namespace Varnel
