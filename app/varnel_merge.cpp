// varnel-merge: the last step of an alignment in shards.
//
//   varnel-merge DIR --result-dir OUT
//   varnel-merge DIR --features-only [--quantity compound|area|height] -o FILE
//   varnel-merge DIR --format table|metaboanalyst|mztab [--quantity ...]
//                [--groups SAMPLESHEET.csv] -o FILE
//
// checks that every shard of the plan in DIR is present, complete and of that
// plan, then writes the usual CSV file and .aligndb into OUT (created when
// missing), the same as one varnel-align run over the plan's inputs; old
// result files are replaced only when both new ones are complete. With
// --features-only it writes only the study's feature table (as varnel-export
// --format table writes it from the merged result), straight from the shards;
// with --format, that export (the file varnel-export writes from the merged
// result), straight from the shards too.
// Exit status: 0 done; 1 a shard is missing or broken (one line each,
// nothing written) or the write failed; 2 usage error.
#include <CLI/CLI.hpp>

#include <exception>
#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>
#include <vector>

#include "app/signal_options_cli.h"
#include "cohort/shard_steps.h"
#include "export/export_result.h"
#include "export/formats.h"
#include "export/sample_sheet.h"
#include "run/result_writers.h"
#include "storage/exit_on_stop.h"
#include "storage/output_folder.h"
#include "storage/path.h"
#include "storage/sqlite/cppsqlite3.h"

int main(int argc, char** argv) {
  CLI::App app{"Merges the shards of an alignment in shards into the usual result files."};
  std::string plan_folder;
  std::string result_dir;
  app.add_option("DIR", plan_folder, "The plan folder (varnel-align --plan DIR ...)")->required();
  std::string out_file;
  std::string quantity = "compound";
  std::string format;
  std::string groups;
  bool features_only = false;
  std::vector<std::string> formats;
  for (const Export_Format_Info& f : kExportFormats) formats.emplace_back(f.name);
  CLI::Option* result_option =
      app.add_option("--result-dir", result_dir, "Where to write the result files");
  CLI::Option* features =
      app.add_flag("--features-only", features_only,
                   "Write only the feature table (one row per Align_ID) to -o FILE")
          ->excludes(result_option);
  app.add_option("--format", format,
                 "Write this export of the study straight from the shards to -o FILE")
      ->check(CLI::IsMember(formats))
      ->excludes(result_option)
      ->excludes(features);
  app.add_option("-o", out_file, "The export's file (with --features-only or --format)");
  CLI::Option* quantity_option =
      app.add_option("--quantity", quantity,
                     "compound, area or height (with --features-only or --format)")
          ->capture_default_str()
          ->check(CLI::IsMember({"compound", "area", "height"}));
  app.add_option("--groups", groups,
                 "Sample sheet, CSV sample,group (with --format or --features-only)");
  Signal_Cli signal;
  Add_Signal_Cli_Options(app, signal);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : 2;
  }
  const bool to_file = features_only || !format.empty();
  if (to_file ? out_file.empty() : result_dir.empty()) {
    std::cerr << "varnel-merge: " << (to_file ? "-o FILE" : "--result-dir OUT") << " is required\n";
    return 2;
  }
  if (to_file && signal.Options().Active() && groups.empty()) {
    std::cerr << "varnel-merge: the QC correction and filters need the sample sheet marking the "
                 "QCs (--groups)\n";
    return 2;
  }
  if (!to_file && (!out_file.empty() || quantity_option->count() > 0 || !groups.empty() ||
                   signal.Options().Active())) {
    const char* option = !out_file.empty()              ? "-o FILE"
                         : quantity_option->count() > 0 ? "--quantity"
                         : !groups.empty()              ? "--groups"
                                                        : "the QC correction";
    std::cerr << "varnel-merge: " << option << " needs --features-only or --format\n";
    return 2;
  }
  // A stop ends the merge at once: its temporary files go, earlier results
  // stay (or, once the commit record is written, are completed by the next
  // program that opens the folder).
  Install_Exit_Handlers("varnel-merge");
  try {
    if (to_file) {
      Export_Options options;
      options.format = features_only ? Export_Format::kFeatureTable : *Parse_Export_Format(format);
      options.quantity = *Parse_Export_Quantity(quantity);
      options.software_version = VARNEL_VERSION;
      if (!groups.empty()) options.groups = Read_Sample_Sheet(groups);
      options.signal = signal.Options();
      for (const std::string& note : Merge_Export(plan_folder, options, out_file)) {
        std::cerr << "varnel-merge: " << note << '\n';
      }
      std::cout << (features_only ? "feature table: " : "export: ") << out_file << '\n';
      return 0;
    }
    const Output_Folder made(result_dir);
    if (!made.ok()) {
      std::cerr << "varnel-merge: " << made.error() << '\n';
      return 1;
    }
    Merge_Summary summary;
    try {
      summary = Merge_Shards(plan_folder, result_dir);
    } catch (...) {
      made.Discard_If_Empty();  // a failed merge leaves no empty folder
      throw;
    }
    std::cout << "samples: " << summary.samples << '\n'
              << "peaks: " << summary.peaks << '\n'
              << "groups: " << summary.groups << '\n'
              << "unaligned peaks: " << summary.unaligned << '\n'
              << "csv: " << Join_Path(result_dir, kAlignedCsvName) << '\n'
              << "database: " << Join_Path(result_dir, kAlignedDbName) << '\n';
  } catch (const CppSQLite3Exception& e) {
    std::cerr << "varnel-merge: " << e.errorDetail() << '\n';
    return 1;
  } catch (const std::exception& e) {
    std::string text = e.what();
    std::string::size_type at = 0;
    while (at <= text.size()) {  // one line per problem
      const std::string::size_type end = std::min(text.find('\n', at), text.size());
      std::cerr << "varnel-merge: " << text.substr(at, end - at) << '\n';
      at = end + 1;
    }
    return 1;
  }
  return 0;
}
