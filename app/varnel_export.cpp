// varnel-export: an aligned result (.aligndb) as a feature table, a
// MetaboAnalyst table or an mzTab-M file, and the record of the run that made it.
//
//   varnel-export RESULT --format table|metaboanalyst|mztab
//                 [--quantity compound|area|height] [--groups SAMPLESHEET.csv] -o FILE
//                 [--correct-signal none|qc-median|qc-curve|auto] [--normalize none|pqn]
//                 [--qc-label QC] [--blank-label blank] [--conditioning-qcs N]
//                 [--keep-qc-rsd PCT] [--keep-d-ratio R] [--keep-present F] [--blank-ratio R]
//   varnel-export --info RESULT
//
// Exit status: 0 done; 1 the export failed (one line on stderr naming the
// file); 2 usage error.
#include <CLI/CLI.hpp>

#include <exception>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "app/signal_options_cli.h"
#include "export/export_result.h"
#include "run/result_pair.h"
#include "storage/aligned_result.h"
#include "storage/exit_on_stop.h"
#include "storage/run_record.h"
#include "storage/sqlite/cppsqlite3.h"

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// One line: messages from SQLite may hold line breaks.
std::string One_Line(std::string text) {
  for (char& c : text) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return text;
}

struct Arguments {
  std::string result;
  std::string info;
  std::string format;
  std::string quantity = "compound";
  std::string groups;
  std::string output;
  Signal_Cli signal;
};

int Run(const Arguments& args) {
  // A replacement of the result pair that a killed run left unfinished is
  // completed before anything is read.
  const Result_Folder_Recovery recovery =
      Recover_Result_Folder_Of(args.info.empty() ? args.result : args.info);
  if (!recovery.problem.empty())
    std::cerr << "varnel-export: warning: " << recovery.problem << '\n';
  if (!args.info.empty()) {
    const std::optional<Run_Record> record = Aligned_Result(args.info).Read_Run_Record();
    if (record) {
      std::cout << Format_Run_Record(*record);
    } else {
      std::cout << args.info << ": no run record (the run was not asked to record itself)\n";
    }
    return 0;
  }
  Export_Options options;
  options.format = *Parse_Export_Format(args.format);
  options.quantity = *Parse_Export_Quantity(args.quantity);
  options.software_version = VARNEL_VERSION;
  if (!args.groups.empty()) options.groups = Read_Sample_Sheet(args.groups);
  options.signal = args.signal.Options();
  for (const std::string& note : Export_Result(args.result, options, args.output)) {
    std::cerr << "varnel-export: " << note << '\n';
  }
  return 0;
}

// The names in "a, b or c" form.
std::string Listed(const std::vector<std::string>& names) {
  std::string text;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) text += i + 1 == names.size() ? " or " : ", ";
    text += names[i];
  }
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Exports an aligned result for statistics, or prints the record of its run."};
  Arguments args;
  std::vector<std::string> formats;
  std::vector<std::string> needing_sheet;
  for (const Export_Format_Info& f : kExportFormats) {
    formats.emplace_back(f.name);
    if (f.sample_sheet == Sheet_Use::kRequired) needing_sheet.emplace_back(f.name);
  }
  app.add_option("RESULT", args.result, "Aligned result (.aligndb)");
  app.add_option("--info", args.info, "Print the run record kept in this result and stop");
  app.add_option("--format", args.format, Listed(formats))->check(CLI::IsMember(formats));
  app.add_option("--quantity", args.quantity,
                 "Per sample: compound (Compound_Intensity), area (sum of Peak_Area) or height "
                 "(largest Apex_Intensity)")
      ->capture_default_str()
      ->check(CLI::IsMember(std::vector<std::string>(std::begin(kExportQuantityNames),
                                                     std::end(kExportQuantityNames))));
  app.add_option(
      "--groups", args.groups,
      "Sample sheet, CSV sample,group (needed by --format " + Listed(needing_sheet) + ")");
  app.add_option("-o,--output", args.output, "File to write");
  Add_Signal_Cli_Options(app, args.signal);
  try {
    app.parse(argc, argv);
    if (args.info.empty()) {
      if (args.result.empty()) throw CLI::RequiredError("RESULT");
      if (args.format.empty()) throw CLI::RequiredError("--format");
      if (args.output.empty()) throw CLI::RequiredError("--output");
      const Export_Format_Info& format = Format_Info(*Parse_Export_Format(args.format));
      if (format.sample_sheet == Sheet_Use::kRequired && args.groups.empty()) {
        throw CLI::ValidationError(
            "--groups", Sample_Sheet_Needed(format, "the sample sheet (CSV sample,group)"));
      }
      if (args.signal.Options().Active() && args.groups.empty()) {
        throw CLI::ValidationError("--groups",
                                   "the QC correction and filters need the sample sheet marking "
                                   "the QCs");
      }
    } else if (!args.result.empty() || !args.format.empty() || !args.output.empty()) {
      throw CLI::ValidationError("--info", "takes the result alone");
    }
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : kExitUsage;
  }
  // A stop ends the export at once: its temporary file goes, an earlier
  // output stays.
  Install_Exit_Handlers("varnel-export");
  try {
    return Run(args);
  } catch (const CppSQLite3Exception& e) {
    std::cerr << "varnel-export: " << One_Line(std::string(e.errorDetail())) << '\n';
  } catch (const std::exception& e) {
    std::cerr << "varnel-export: " << One_Line(e.what()) << '\n';
  }
  return kExitFailed;
}
