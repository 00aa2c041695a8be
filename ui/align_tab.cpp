#include "ui/align_tab.h"

#include <QDir>
#include <QFileInfo>
#include <QList>
#include <QStandardItem>
#include <QStandardItemModel>
#include <cmath>

#include "storage/path.h"
#include "ui/text_codec.h"

namespace Varnel {

Load_Row Split_Picked_Path(const QString& path) {
  const Split_Path_Result parts = Split_Path(To_Engine_String(path));
  return {From_Engine_String(parts.folder), From_Engine_String(parts.name)};
}

Pick_Outcome Pick_Annotation_Files(const QStringList& paths) {
  Pick_Outcome outcome;
  if (paths.isEmpty()) {
    outcome.message = QString::fromUtf8(kSelectAnnotationMessage);
    return outcome;
  }
  std::vector<Load_Row> rows;
  rows.reserve(static_cast<std::size_t>(paths.size()));
  for (const QString& path : paths) {
    outcome.path_text += path + QLatin1Char(';');
    rows.push_back(Split_Picked_Path(path));
  }
  outcome.rows = std::move(rows);
  return outcome;
}

std::optional<QString> Check_Load(const QString& path_text,
                                  const std::optional<std::vector<Load_Row>>& picked) {
  // Text typed into the box without a pick names no files: refuse the same way.
  if (path_text.isEmpty() || !picked || picked->empty()) {
    return QString::fromUtf8(kLoadAnnotationMessage);
  }
  return std::nullopt;
}

QStandardItemModel* Build_File_Table(const std::vector<Load_Row>& rows, QObject* parent) {
  auto* table = new QStandardItemModel(0, 3, parent);
  table->setHorizontalHeaderLabels({QString::fromUtf8(kFileNameHeader),
                                    QString::fromUtf8(kFolderNameHeader),
                                    QString::fromUtf8(kAlignHeader)});
  for (const Load_Row& row : rows) {
    auto* name = new QStandardItem(row[1]);
    name->setEditable(false);
    name->setToolTip(row[1]);  // the column is narrower than most names
    auto* folder = new QStandardItem(row[0]);
    folder->setEditable(false);
    auto* tick = new QStandardItem();
    tick->setEditable(false);
    tick->setCheckable(true);
    tick->setCheckState(Qt::Unchecked);
    table->appendRow(QList<QStandardItem*>{name, folder, tick});
  }
  return table;
}

void Set_All_Ticks(QStandardItemModel& table, bool ticked) {
  if (table.columnCount() <= kAlignColumn) return;
  for (int row = 0; row < table.rowCount(); ++row) {
    if (QStandardItem* tick = table.item(row, kAlignColumn)) {
      tick->setCheckState(ticked ? Qt::Checked : Qt::Unchecked);
    }
  }
}

QStringList Ticked_File_Names(const QStandardItemModel& table) {
  QStringList names;
  if (table.columnCount() <= kAlignColumn) return names;
  for (int row = 0; row < table.rowCount(); ++row) {
    const QStandardItem* tick = table.item(row, kAlignColumn);
    if (tick == nullptr || tick->checkState() != Qt::Checked) continue;
    const QStandardItem* name = table.item(row, kFileNameColumn);
    names.push_back(name != nullptr ? name->text() : QString());
  }
  return names;
}

bool Holds_Number(const QString& text, const QLocale& locale) {
  if (text.isEmpty()) return false;
  bool ok = false;
  const double value = locale.toDouble(text, &ok);
  // NaN or an infinite tolerance would let the run "succeed" with a
  // meaningless result, so they are no numbers here.
  return ok && std::isfinite(value);
}

Align_Plan Plan_Align(const Align_Form_Values& values, const QLocale& locale) {
  Align_Plan plan;
  if (!values.picked || values.picked->empty()) {
    plan.refusal = QString::fromUtf8(kLoadAnnotationMessage);
    return plan;
  }
  const QString data_folder = values.picked->front()[0];
  const std::string engine_data_folder = To_Engine_String(data_folder);
  const std::string engine_result_folder = Join_Path(engine_data_folder, kResultFolderName);
  plan.result_folder = From_Engine_String(engine_result_folder);

  Align_Request& request = plan.request;
  request.One_Two_Phase_Align = values.two_phase ? 1 : 0;
  if (values.two_phase && !Holds_Number(values.window2, locale)) {
    plan.refusal = QString::fromUtf8(kInvalidWindow2Message);
    return plan;
  }
  if (!Holds_Number(values.mass_tol, locale)) {
    plan.refusal = QString::fromUtf8(kInvalidMassTolMessage);
    return plan;
  }
  if (!Holds_Number(values.window1, locale)) {
    plan.refusal = QString::fromUtf8(kInvalidWindow1Message);
    return plan;
  }
  request.Mass_Tol = locale.toDouble(values.mass_tol);
  request.Align_Window1 = locale.toDouble(values.window1);
  request.Align_Window2 = Holds_Number(values.window2, locale) ? locale.toDouble(values.window2)
                                                               : kFastModeFallbackWindow2;
  request.Data_Folder = engine_data_folder;
  request.Result_folder = engine_result_folder;
  for (const QString& name : values.ticked_files) {
    request.Annotation_File_Vec.push_back(To_Engine_String(name));
  }
  return plan;
}

bool Make_Folder(const QString& folder) {
  if (folder.isEmpty()) return false;
  if (QFileInfo(folder).isDir()) return true;
  return QDir().mkpath(folder) && QFileInfo(folder).isDir();
}

}  // namespace Varnel
