// varnel-merge: the last step of an alignment in shards.
//
//   varnel-merge DIR --result-dir OUT
//   varnel-merge DIR --features-only [--quantity compound|area|height] -o FILE
//
// checks that every shard of the plan in DIR is present, complete and of that
// plan, then writes the usual CSV file and .aligndb into OUT (created when
// missing), the same as one varnel-align run over the plan's inputs; old
// result files are replaced only when both new ones are complete. With
// --features-only it writes only the study's feature table (as varnel-export
// --format table writes it from the merged result), straight from the shards.
// Exit status: 0 done; 1 a shard is missing or broken (one line each,
// nothing written) or the write failed; 2 usage error.
#include <CLI/CLI.hpp>

#include <exception>
#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>

#include "run/result_writers.h"
#include "run/shard_steps.h"
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
  bool features_only = false;
  CLI::Option* result_option =
      app.add_option("--result-dir", result_dir, "Where to write the result files");
  CLI::Option* features =
      app.add_flag("--features-only", features_only,
                   "Write only the feature table (one row per Align_ID) to -o FILE")
          ->excludes(result_option);
  app.add_option("-o", out_file, "The feature table's file (with --features-only)")
      ->needs(features);
  app.add_option("--quantity", quantity, "compound, area or height (with --features-only)")
      ->capture_default_str()
      ->check(CLI::IsMember({"compound", "area", "height"}))
      ->needs(features);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : 2;
  }
  if (features_only ? out_file.empty() : result_dir.empty()) {
    std::cerr << "varnel-merge: " << (features_only ? "-o FILE" : "--result-dir OUT")
              << " is required\n";
    return 2;
  }
  // A stop ends the merge at once: its temporary files go, earlier results
  // stay (or, once the commit record is written, are completed by the next
  // program that opens the folder).
  Install_Exit_Handlers("varnel-merge");
  try {
    if (features_only) {
      Merge_Feature_Table(plan_folder, *Parse_Export_Quantity(quantity), out_file);
      std::cout << "feature table: " << out_file << '\n';
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
