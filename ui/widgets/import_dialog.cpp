#include "ui/widgets/import_dialog.h"

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>

namespace Varnel {

namespace {

struct Format_Entry {
  const char* caption;
  const char* format;
  const char* filter;
};
constexpr Format_Entry kFormats[] = {
    {"OpenMS featureXML (one file per sample)", "featurexml",
     "featureXML Files (*.featureXML *.featurexml)"},
    {"MZmine feature-list CSV export", "mzmine", "CSV Files (*.csv)"},
    {"XCMS chromPeaks as CSV", "xcms", "CSV Files (*.csv *.tsv *.txt)"},
    {"CSV/TSV table with a header", "table", "Tables (*.csv *.tsv *.txt)"},
};

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

}  // namespace

std::optional<Import_Form_Values> Exec_Import_Dialog(QWidget* parent) {
  QDialog dialog(parent);
  dialog.setObjectName(QStringLiteral("Import_Dialog"));
  dialog.setWindowTitle(QString::fromUtf8(kImportDialogTitle));
  auto* format = new QComboBox(&dialog);
  for (const Format_Entry& entry : kFormats) {
    format->addItem(QString::fromUtf8(entry.caption), QString::fromUtf8(entry.format));
  }
  auto* inputs = new QLineEdit(&dialog);
  inputs->setMinimumWidth(360);
  QPushButton* browse_inputs = nullptr;
  QWidget* inputs_row = With_Browse(dialog, inputs, browse_inputs);
  auto* folder = new QLineEdit(&dialog);
  QPushButton* browse_folder = nullptr;
  QWidget* folder_row = With_Browse(dialog, folder, browse_folder);
  auto* rt_unit = new QComboBox(&dialog);
  rt_unit->addItem(QStringLiteral("As the format states (MZmine: minutes, others: seconds)"),
                   QString());
  rt_unit->addItem(QStringLiteral("Seconds"), QStringLiteral("s"));
  rt_unit->addItem(QStringLiteral("Minutes"), QStringLiteral("min"));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);

  QStringList chosen;
  QObject::connect(browse_inputs, &QPushButton::clicked, &dialog, [&] {
    const QStringList paths =
        QFileDialog::getOpenFileNames(&dialog, QStringLiteral("Select Feature Lists"), QString(),
                                      QString::fromUtf8(kFormats[format->currentIndex()].filter) +
                                          QStringLiteral(";;All Files (*)"));
    if (paths.isEmpty()) return;
    chosen = paths;
    inputs->setText(paths.join(QLatin1Char(';')));
  });
  QObject::connect(browse_folder, &QPushButton::clicked, &dialog, [&] {
    const QString path = QFileDialog::getExistingDirectory(
        &dialog, QStringLiteral("Select the Folder for the Databases"), folder->text());
    if (!path.isEmpty()) folder->setText(path);
  });
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  auto* layout = new QFormLayout(&dialog);
  layout->addRow(QStringLiteral("Format:"), format);
  layout->addRow(QStringLiteral("Feature lists:"), inputs_row);
  layout->addRow(QStringLiteral("Write into:"), folder_row);
  layout->addRow(QStringLiteral("Retention times:"), rt_unit);
  layout->addRow(buttons);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;

  Import_Form_Values values;
  values.format = format->currentData().toString();
  // Paths typed by hand are separated by ";" as the box shows them.
  values.inputs = inputs->text() == chosen.join(QLatin1Char(';'))
                      ? chosen
                      : inputs->text().split(QLatin1Char(';'), Qt::SkipEmptyParts);
  values.out_dir = folder->text().trimmed();
  values.rt_unit = rt_unit->currentData().toString();
  return values;
}

}  // namespace Varnel
