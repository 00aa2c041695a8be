#include "ui/widgets/result_grid_actions.h"

#include <QFileInfo>
#include <QKeySequence>
#include <optional>
#include <string>
#include <vector>

#include "export/export_result.h"
#include "storage/path.h"
#include "ui/result_export_ui.h"
#include "ui/result_find.h"
#include "ui/text_codec.h"
#include "ui/widgets/align_visualization_tab.h"
#include "ui/widgets/form_dialogs.h"
#include "ui/widgets/quality_window.h"
#include "ui/widgets/run_details_dialog.h"
#include "ui/widgets/wait_cursor.h"

#ifndef VARNEL_VERSION
#define VARNEL_VERSION "unknown"
#endif

namespace Varnel {

namespace {

const QString kExportTitle = QStringLiteral("Export the Aligned Result");
const QString kSaveChartTitle = QStringLiteral("Save Chart");
const QString kChartFilter = QStringLiteral("PNG image (*.png);;PDF document (*.pdf)");

std::string Result_Path(const Align_Visualization_Tab& tab) {
  return Join_Path(To_Engine_String(tab.alignFolderName()), To_Engine_String(tab.alignFileName()));
}

void Find(Align_Visualization_Tab& tab, Form_Dialogs& dialogs) {
  const std::optional<Find_Request> request = dialogs.Ask_Find(tab.window());
  if (!request) return;
  const Find_Outcome found = Find_Result_Row(tab.Grid_Model(), *request);
  if (found.message) {
    dialogs.Show_Message(tab.window(), *found.message);
    return;
  }
  tab.Go_To_Row(found.row);
  if (found.distance) dialogs.Show_Message(tab.window(), *found.distance);
}

void Export(Align_Visualization_Tab& tab, Form_Dialogs& dialogs) {
  const QString& folder = tab.alignFolderName();
  QString filter = Export_Filter_Of(Export_Format::kFeatureTable);
  const QString offered = From_Engine_String(
      Join_Path(To_Engine_String(folder), To_Engine_String(Default_Export_File_Name(
                                              tab.alignFileName(), Export_Format::kFeatureTable))));
  const std::optional<QString> chosen =
      dialogs.Save_File(tab.window(), kExportTitle, offered, Export_Dialog_Filter(), &filter);
  if (!chosen || chosen->isEmpty()) return;
  Export_Options options;
  options.format = Export_Format_Of_Filter(filter).value_or(Export_Format::kFeatureTable);
  options.software_version = VARNEL_VERSION;
  // The save dialog asked about replacing the name it was given only.
  const QString out = Fit_Export_Path(*chosen, options.format);
  if (out != *chosen && QFileInfo::exists(out) &&
      !dialogs.Ask_Yes_No(tab.window(), out + QStringLiteral(" already exists. Replace it?"))) {
    return;
  }
  const std::optional<Export_Quantity> quantity = dialogs.Ask_Export_Quantity(tab.window());
  if (!quantity) return;
  options.quantity = *quantity;
  options.signal = dialogs.Export_Signal_Options();
  const bool required = Export_Needs_Sample_Sheet(options.format) || options.signal.Active();
  bool ask_sheet = required;
  if (const QString need = Sample_Sheet_Need_Text(options.format); !need.isEmpty()) {
    // Said in the body, where it is read whole, before the sheet is asked for.
    if (required) {
      dialogs.Show_Message(tab.window(), need);
    } else {
      ask_sheet = dialogs.Ask_Yes_No(tab.window(), need);
    }
  }
  if (ask_sheet) {
    const std::optional<QStringList> sheet = dialogs.Open_Files(
        tab.window(), Sample_Sheet_Dialog_Title(), folder, Sample_Sheet_Dialog_Filter(), false);
    if (!sheet || sheet->size() != 1) {
      if (required) return;
    } else {
      options.groups = Read_Sample_Sheet(To_Engine_String(sheet->front()));
    }
  }
  std::vector<std::string> notes;
  {
    Wait_Cursor wait;
    notes = Export_Result(Result_Path(tab), options, To_Engine_String(out));
  }
  QString message = Export_Written_Message(out);
  for (const std::string& note : notes) message += QLatin1Char('\n') + From_Engine_String(note);
  dialogs.Show_Message(tab.window(), message);
}

void Quality(Align_Visualization_Tab& tab, Form_Dialogs& dialogs) {
  Quality_Window_Hooks hooks;
  hooks.show_message = [&dialogs](QWidget* parent, const QString& text) {
    dialogs.Show_Message(parent, text);
  };
  hooks.save_dialog = [&dialogs](QWidget* parent, const QString& suggested) {
    QString filter;
    return dialogs.Save_File(parent, kSaveChartTitle, suggested, kChartFilter, &filter)
        .value_or(QString());
  };
  Open_Quality_Window(tab.window(), tab.alignFolderName(), tab.alignFileName(), std::move(hooks));
}

}  // namespace

void Install_Result_Grid_Actions(Align_Visualization_Tab& tab, Form_Dialogs& dialogs) {
  tab.Add_Grid_Action(QString::fromUtf8(kFindEntry), QKeySequence::Find,
                      [&tab, &dialogs] { Find(tab, dialogs); });
  tab.Add_Grid_Action(QString::fromUtf8(kExportEntry), QKeySequence(),
                      [&tab, &dialogs] { Export(tab, dialogs); });
  tab.Add_Grid_Action(QString::fromUtf8(kQualityEntry), QKeySequence(),
                      [&tab, &dialogs] { Quality(tab, dialogs); });
  tab.Add_Grid_Action(QString::fromUtf8(kRunDetailsEntry), QKeySequence(),
                      [&tab] { Show_Run_Details(Result_Path(tab), tab.window()); });
}

}  // namespace Varnel
