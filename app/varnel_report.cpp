// varnel-report: a page of pictures of an alignment's quality, for reading
// in a browser, printing or attaching to a study.
//
//   varnel-report [--groups SAMPLESHEET.csv] RESULT.aligndb OUTDIR
//
// --groups colours the charts by the sheet's groups (CSV sample,group; with
// the header sample,group,order also the injection order); a group named QC
// adds the CV of QC against study samples, an order column the intensity
// trend in injection order.
//
// Writes OUTDIR/index.html with one PNG per chart beside it (no network, no
// scripts), all at once: a failure leaves OUTDIR as it was. Needs no display;
// without one it draws on Qt's offscreen platform.
//
// Exit status: 0 done; 1 the result cannot be read or OUTDIR cannot be
// written (one line on stderr naming the file); 2 usage error.
#include <CLI/CLI.hpp>

#include <QApplication>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "export/sample_sheet.h"
#include "run/result_pair.h"
#include "storage/exit_on_stop.h"
#include "storage/sqlite/cppsqlite3.h"
#include "ui/quality_data.h"
#include "ui/widgets/quality_report.h"

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

bool Has_Display() {
  for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return true;
  }
  return false;
}

// Qt's own notes (a missing runtime folder, an unsupported window call on
// the offscreen platform) are not the user's business: the failure line stays
// the only line on stderr. Critical messages still pass.
void Quiet_Qt(QtMsgType type, const QMessageLogContext&, const QString& text) {
  if (type == QtCriticalMsg || type == QtFatalMsg)
    std::cerr << "varnel-report: " << text.toLocal8Bit().constData() << '\n';
}

}  // namespace

int main(int argc, char* argv[]) {
  CLI::App cli{"Writes a page of alignment-quality charts for an aligned result."};
  std::string result;
  std::string out_dir;
  cli.add_option("RESULT", result, "aligned result (.aligndb)")->required();
  cli.add_option("OUTDIR", out_dir, "folder to write index.html and the pictures into")->required();
  std::string groups;
  cli.add_option("--groups", groups,
                 "sample sheet: CSV sample,group (header sample,group,order adds the injection "
                 "order); a group named QC adds the QC CV chart");
  std::vector<std::uint32_t> signal_features;
  cli.add_option("--signal-feature", signal_features,
                 "with --groups (order column and QCs): also draw the group with this Align_ID "
                 "against injection order with the QC correction's fits (repeatable)")
      ->allow_extra_args(false);
  try {
    cli.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return cli.exit(e);
  } catch (const CLI::ParseError& e) {
    cli.exit(e);
    return kExitUsage;
  }

  if (!Has_Display()) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  qInstallMessageHandler(Quiet_Qt);
  QApplication app(argc, argv);
  // A stop ends the report at once: its temporary folder goes, an earlier
  // report stays.
  Install_Exit_Handlers("varnel-report");
  // A replacement of the result pair that a killed run left unfinished is
  // completed before anything is read.
  const Result_Folder_Recovery recovery = Recover_Result_Folder_Of(result);
  if (!recovery.problem.empty())
    std::cerr << "varnel-report: warning: " << recovery.problem << '\n';
  try {
    std::optional<Sample_Sheet> sheet;
    if (!groups.empty()) sheet = Read_Sample_Sheet(groups);
    Varnel::Quality_Options options;
    options.sheet = sheet ? &*sheet : nullptr;
    options.signal_features = signal_features;
    Varnel::Write_Quality_Report(result, out_dir, options);
  } catch (const std::exception& e) {
    std::cerr << "varnel-report: " << e.what() << '\n';
    return kExitFailed;
  } catch (const CppSQLite3Exception& e) {
    std::cerr << "varnel-report: " << result << ": " << e.errorDetail() << '\n';
    return kExitFailed;
  }
  std::cout << out_dir << "/index.html\n";
  return 0;
}
