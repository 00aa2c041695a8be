#include "ui/align_tab.h"

#include <QDir>
#include <QFileInfo>
#include <QList>
#include <QStandardItem>
#include <QStandardItemModel>
#include <cmath>
#include <utility>

#include "run/result_writers.h"
#include "storage/output_folder.h"
#include "storage/path.h"
#include "ui/text_codec.h"

namespace Varnel {

Picked_File Split_Picked_Path(const QString& path) {
  const Split_Path_Result parts = Split_Path(To_Engine_String(path));
  return {From_Engine_String(parts.folder), From_Engine_String(parts.name)};
}

Pick_Outcome Pick_Annotation_Files(const QStringList& paths) {
  Pick_Outcome outcome;
  if (paths.isEmpty()) {
    outcome.message = QString::fromUtf8(kSelectAnnotationMessage);
    return outcome;
  }
  std::vector<Picked_File> rows;
  rows.reserve(static_cast<std::size_t>(paths.size()));
  for (const QString& path : paths) {
    outcome.path_text += path + QLatin1Char(';');
    rows.push_back(Split_Picked_Path(path));
  }
  outcome.rows = std::move(rows);
  return outcome;
}

std::optional<QString> Check_Load(const QString& path_text,
                                  const std::optional<std::vector<Picked_File>>& picked) {
  // Text typed into the box without a pick names no files: refuse the same way.
  if (path_text.isEmpty() || !picked || picked->empty()) {
    return QString::fromUtf8(kLoadAnnotationMessage);
  }
  return std::nullopt;
}

QStandardItemModel* Build_File_Table(const std::vector<Picked_File>& rows, QObject* parent) {
  auto* table = new QStandardItemModel(0, 3, parent);
  table->setHorizontalHeaderLabels({QString::fromUtf8(kFileNameHeader),
                                    QString::fromUtf8(kFolderNameHeader),
                                    QString::fromUtf8(kAlignHeader)});
  for (const Picked_File& row : rows) {
    auto* name = new QStandardItem(row.name);
    name->setEditable(false);
    name->setToolTip(row.name);  // the column is narrower than most names
    auto* folder = new QStandardItem(row.folder);
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

std::optional<double> Read_Box_Number(const QString& text, const QLocale& locale) {
  const QString trimmed = text.trimmed();
  if (trimmed.isEmpty()) return std::nullopt;
  // '.' first, with no group separators, so that "0,1" never reads as 1 here.
  QLocale plain = QLocale::c();
  plain.setNumberOptions(QLocale::RejectGroupSeparator);
  bool ok = false;
  double value = plain.toDouble(trimmed, &ok);
  if (!ok) value = locale.toDouble(trimmed, &ok);
  if (!ok || !std::isfinite(value)) return std::nullopt;
  return value;
}

namespace {

// One parameter box as its refusal explains it.
struct Box_Rule {
  const char* refusal;  // the box's message, shown first
  const char* caption;  // the box's label
  const char* unit;
  const char* example;  // a valid value
};

constexpr Box_Rule kWindow2Rule{kInvalidWindow2Message, "Deep_Align_RT_Window:", "seconds", "10"};
constexpr Box_Rule kMassTolRule{kInvalidMassTolMessage, "Align_Mass_Tol:", "Da", "0.01"};
constexpr Box_Rule kWindow1Rule{kInvalidWindow1Message, "Fast_Align_RT_Window:", "seconds", "20"};

// The box's message, then what the box holds and what it needs.
QString Explained_Refusal(const Box_Rule& rule, const QString& text, const QLocale& locale) {
  const QString head = QString::fromUtf8(rule.refusal) + QLatin1Char('\n') +
                       QString::fromUtf8(rule.caption) + QLatin1Char(' ');
  const QString needs = QStringLiteral("a number above 0 in %1, such as %2")
                            .arg(QString::fromUtf8(rule.unit), QString::fromUtf8(rule.example));
  const QString trimmed = text.trimmed();
  if (trimmed.isEmpty()) return head + QStringLiteral("the box is empty; give ") + needs + '.';
  if (const std::optional<double> value = Read_Box_Number(trimmed, locale)) {
    if (*value == 0.0) {
      return head +
             QStringLiteral("0 matches only equal values, so nothing would be aligned; give ") +
             needs + '.';
    }
    return head + QStringLiteral("\"%1\" is below 0; give ").arg(trimmed) + needs + '.';
  }
  QString dotted = trimmed;
  dotted.replace(QLatin1Char(','), QLatin1Char('.'));
  if (dotted != trimmed && Read_Box_Number(dotted, QLocale::c())) {
    return head + QStringLiteral("\"%1\" has a comma; write the decimal point as a full stop: %2.")
                      .arg(trimmed, dotted);
  }
  return head + QStringLiteral("\"%1\" is not a number; give ").arg(trimmed) + needs + '.';
}

const Box_Rule* Rule_Of_Refusal(const std::string& refusal) {
  for (const Box_Rule* rule : {&kWindow2Rule, &kMassTolRule, &kWindow1Rule}) {
    if (refusal == rule->refusal) return rule;
  }
  return nullptr;
}

}  // namespace

Align_Plan Plan_Align(const Align_Form_Values& values, const QLocale& locale) {
  Align_Plan plan;
  if (!values.picked || values.picked->empty()) {
    plan.refusal = QString::fromUtf8(kLoadAnnotationMessage);
    return plan;
  }
  const std::string data_folder = To_Engine_String(values.picked->front().folder);
  Alignment_Form form;
  form.result_folder = Default_Result_Folder(data_folder);
  plan.result_folder = From_Engine_String(form.result_folder);
  form.numbers.mode = values.two_phase ? Two_Phase_Align : One_Phase_Align;
  form.numbers.mass_tol = To_Engine_String(values.mass_tol);
  form.numbers.window1 = To_Engine_String(values.window1);
  form.numbers.window2 = To_Engine_String(values.window2);
  form.rt_correction = values.rt_correction;
  form.record_run = values.record_run;
  if (values.scored_member_choice) {
    form.pick = Member_Pick::kScored;
    form.join_splits = true;
  }
  for (const QString& name : values.ticked_files) {
    form.files.push_back({data_folder, To_Engine_String(name)});
  }
  Built_Alignment_Request built = Build_Alignment_Request(form, [&locale](std::string_view text) {
    return Read_Box_Number(From_Engine_String(std::string(text)), locale);
  });
  if (built.refusal) {
    plan.request.result_folder = form.result_folder;
    plan.refusal = From_Engine_String(*built.refusal);
    if (const Box_Rule* rule = Rule_Of_Refusal(*built.refusal)) {
      const QString& text = rule == &kWindow2Rule   ? values.window2
                            : rule == &kMassTolRule ? values.mass_tol
                                                    : values.window1;
      plan.refusal = Explained_Refusal(*rule, text, locale);
    }
    return plan;
  }
  plan.request = std::move(built.request);
  // A tolerance or window of 0 matches only equal values: a run would align
  // nothing. Refused in the checks' order (the deep window in deep mode only).
  const std::pair<const Box_Rule*, double> boxes[] = {
      {&kWindow2Rule, values.two_phase ? plan.request.Align_Window2 : 1.0},
      {&kMassTolRule, plan.request.Mass_Tol.value},
      {&kWindow1Rule, plan.request.Align_Window1},
  };
  for (const auto& [rule, value] : boxes) {
    if (value != 0.0) continue;
    const QString& text = rule == &kWindow2Rule   ? values.window2
                          : rule == &kMassTolRule ? values.mass_tol
                                                  : values.window1;
    plan.refusal = Explained_Refusal(*rule, text, locale);
    return plan;
  }
  plan.rt_correction = values.rt_correction;
  plan.record_run = values.record_run;
  if (const std::optional<std::string> refusal = Check_Alignment_Files(plan.request.files)) {
    plan.refusal = From_Engine_String(*refusal);
  }
  return plan;
}

Estimate_Plan Plan_Estimate(const Align_Form_Values& values) {
  Estimate_Plan plan;
  if (!values.picked || values.picked->empty()) {
    plan.refusal = QString::fromUtf8(kLoadAnnotationMessage);
    return plan;
  }
  const std::string data_folder = To_Engine_String(values.picked->front().folder);
  for (const QString& name : values.ticked_files) {
    plan.files.push_back({data_folder, To_Engine_String(name)});
  }
  if (const std::optional<std::string> refusal = Check_Alignment_Files(plan.files)) {
    plan.refusal = From_Engine_String(*refusal);
    plan.files.clear();
  }
  return plan;
}

std::optional<QString> Format_Suggested_Number(double value) {
  if (!std::isfinite(value) || value < 0.0) return std::nullopt;
  constexpr int kDecimals = 4;
  constexpr int kSignificant = 4;
  int decimals = kDecimals;
  if (value > 0.0 && value < 1e-4) {
    // Enough decimals for kSignificant digits after the leading zeros.
    decimals = kSignificant - 1 - static_cast<int>(std::floor(std::log10(value)));
  }
  QString text = QString::number(value, 'f', decimals);
  if (text.contains(QLatin1Char('.'))) {
    while (text.endsWith(QLatin1Char('0'))) text.chop(1);
    if (text.endsWith(QLatin1Char('.'))) text.chop(1);
  }
  return text;
}

QString Align_Finished_Details(const QString& result_folder, bool late_cancel) {
  QString text;
  if (late_cancel) {
    text = QStringLiteral(
        "The Cancel came after the run had finished: the new results were written and replace "
        "the earlier ones.\n");
  }
  text += QStringLiteral("The results are in %1:\n%2\n%3")
              .arg(result_folder, QString::fromUtf8(kAlignedCsvName),
                   QString::fromUtf8(kAlignedDbName));
  return text;
}

QString Inputs_Without_Table_Text(const std::vector<std::string>& inputs) {
  QString text = inputs.size() == 1 ? QStringLiteral(
                                          "This input holds no table \"Annotate_Peaklist\" and was "
                                          "read as 0 peaks:")
                                    : QStringLiteral(
                                          "These %1 inputs hold no table \"Annotate_Peaklist\" and "
                                          "were read as 0 peaks:")
                                          .arg(inputs.size());
  for (const std::string& input : inputs) text += QLatin1Char('\n') + From_Engine_String(input);
  return text;
}

QString Estimate_Summary_Text(const Tolerance_Suggestion& suggestion, bool rt_correction,
                              std::size_t samples) {
  const QLocale english(QLocale::English, QLocale::UnitedStates);
  const auto seconds = [](double value) { return QString::number(value, 'g', 3); };
  QString text =
      QStringLiteral(
          "Mass tolerance %1 Da, windows %2 s (Fast_Align) and %3 s "
          "(Deep_Align), from ")
          .arg(Format_Suggested_Number(suggestion.Mass_Tol.value).value_or(QStringLiteral("?")),
               seconds(suggestion.Align_Window1), seconds(suggestion.Align_Window2));
  if (suggestion.compounds > 0) {
    text += QStringLiteral(
                "the spreads of %1 anchor compounds (the most intense ones found in at least "
                "half of the samples).")
                .arg(english.toString(static_cast<qulonglong>(suggestion.compounds)));
  } else {
    text += QStringLiteral("%1 pairs of compounds across samples.")
                .arg(english.toString(static_cast<qulonglong>(suggestion.pairs)));
  }
  if (!rt_correction) return text;
  if (samples < kMinCorrectionSamples) {
    text += QStringLiteral(
                " RT_Drift_Correction needs at least %1 samples: these %2 keep their times as "
                "read, and the windows are for those times.")
                .arg(kMinCorrectionSamples)
                .arg(samples);
  } else if (suggestion.uncorrected_samples >= samples) {
    text += QStringLiteral(
        " RT_Drift_Correction found too few anchors to correct any sample: the windows are for "
        "the times as read.");
  } else {
    text += QStringLiteral(" The windows are for drift-corrected times.");
    if (suggestion.uncorrected_samples > 0) {
      text += QStringLiteral(" %1 of the %2 samples stay uncorrected (too few anchors).")
                  .arg(suggestion.uncorrected_samples)
                  .arg(samples);
    }
  }
  return text;
}

QString Estimate_Words(const Estimate_Record& record, const Align_Form_Values& now) {
  const auto samples = static_cast<std::size_t>(record.files.size());
  // Whether the tick matters for these numbers: an estimate with the
  // correction that corrected no sample holds as well without it, and one
  // without it on fewer samples than the correction needs holds with it.
  const bool tick_changed = now.rt_correction != record.rt_correction;
  const bool tick_moot = record.rt_correction ? samples < kMinCorrectionSamples ||
                                                    record.suggestion.uncorrected_samples >= samples
                                              : samples < kMinCorrectionSamples;
  const bool said_correction = tick_changed && tick_moot ? now.rt_correction : record.rt_correction;
  QString text = Estimate_Summary_Text(record.suggestion, said_correction, samples);
  const QString folder =
      now.picked && !now.picked->empty() ? now.picked->front().folder : QString();
  if (folder != record.folder || now.ticked_files != record.files) {
    text += QStringLiteral(
        "\nThe ticked files have changed since: click Estimate again for these numbers to fit "
        "them.");
  }
  if (tick_changed && tick_moot && !now.rt_correction) {
    text += QStringLiteral(
        "\nRT_Drift_Correction is now off; it had corrected no sample for this estimate, so the "
        "numbers still hold.");
  } else if (tick_changed && !tick_moot) {
    text += now.rt_correction
                ? QStringLiteral(
                      "\nEstimated without RT_Drift_Correction: click Estimate again for windows "
                      "on drift-corrected times.")
                : QStringLiteral(
                      "\nEstimated with RT_Drift_Correction, which is now off: click Estimate "
                      "again for windows on the times as read.");
  }
  if (now.mass_tol != record.mass_tol || now.window1 != record.window1 ||
      now.window2 != record.window2) {
    text += QStringLiteral("\nThe boxes have been edited since.");
  }
  return text;
}

QString Estimate_Details_Text(const Tolerance_Suggestion& suggestion) {
  QStringList lines = From_Engine_String(suggestion.report).split(QLatin1Char('\n'));
  while (!lines.isEmpty() && lines.back().trimmed().isEmpty()) lines.pop_back();
  if (!lines.isEmpty()) lines.pop_back();
  return lines.join(QLatin1Char('\n'));
}

QString Member_Choice_Words(bool scored_member_choice) {
  if (!scored_member_choice) return {};
  return QStringLiteral(
      " Align will choose each sample's member by time, mass and intensity and join split "
      "groups (--pick scored --join-splits).");
}

bool Make_Folder(const QString& folder) {
  if (folder.isEmpty()) return false;
  return Output_Folder(To_Engine_String(folder)).ok();
}

}  // namespace Varnel
