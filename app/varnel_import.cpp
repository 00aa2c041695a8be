// varnel-import: feature lists of other tools as annotated databases, one
// per sample, ready to align.
//
//   varnel-import --format featurexml|mzmine|xcms|table [--rt-unit min|s]
//                 [--mz NAME] [--rt NAME] [--intensity NAME] [--area NAME]
//                 [--sample NAME] [--charge NAME] [--adduct NAME]
//                 [--mass neutral|mz] INPUT... -o OUTDIR
//   varnel-import --finish -o OUTDIR
//
// --finish only completes an import that was killed while it renamed its
// databases into OUTDIR (the readers refuse the folder until then; any
// import into the folder completes it too).
//
// Prints one line per sample written. Exit status: 0 done; 1 an input was
// refused or a database could not be written (one line on stderr naming the
// file; nothing is written then); 2 usage error; 130, 143 or 129 stopped by
// SIGINT, SIGTERM or SIGHUP (nothing is written then; see
// storage/stop_signals.h).
#include <CLI/CLI.hpp>

#include <algorithm>
#include <exception>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "import/feature_import.h"
#include "import/import_formats.h"
#include "storage/import_commit.h"
#include "storage/path.h"
#include "storage/stop_signals.h"

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

}  // namespace

int main(int argc, char** argv) {
  Install_Stop_Handlers();
  CLI::App app{
      "Writes one annotated peak-list database per sample from the feature lists of other "
      "tools: OpenMS featureXML (one file per sample), an MZmine feature-list CSV export, "
      "XCMS chromPeaks written as CSV, or any CSV/TSV table with a header."};
  std::string format;
  std::string rt_unit;
  std::string mass = "neutral";
  std::vector<std::string> inputs;
  std::string out_dir;
  Import_Options options;
  Import_Columns& columns = options.columns;
  std::vector<std::string> format_names;
  for (const Import_Format_Info& info : Import_Formats()) format_names.emplace_back(info.name);
  // --finish takes neither a format nor inputs.
  const bool finishing = std::any_of(
      argv + 1, argv + argc, [](const char* arg) { return std::string_view(arg) == "--finish"; });
  bool finish = false;
  app.add_flag("--finish", finish,
               "Only complete an import into OUTDIR that was stopped while it renamed its "
               "databases");
  CLI::Option* format_option =
      app.add_option("--format", format, "featurexml, mzmine, xcms or table")
          ->check(CLI::IsMember(format_names));
  if (!finishing) format_option->required();
  app.add_option("--rt-unit", rt_unit,
                 "Unit of the input's retention times (default: min for mzmine, s otherwise; "
                 "featureXML is always in s)")
      ->check(CLI::IsMember({"min", "s"}));
  app.add_option("--mz", columns.mz, "m/z column (table, xcms)");
  app.add_option("--rt", columns.rt, "Retention-time column (table, xcms)");
  app.add_option("--intensity", columns.intensity, "Intensity (height) column (table, xcms)");
  app.add_option("--area", columns.area, "Area column (table, xcms)");
  app.add_option("--sample", columns.sample,
                 "Sample column (table, xcms); without one a table is one sample named after "
                 "its file");
  app.add_option("--charge", columns.charge, "Charge column (table, xcms, mzmine)");
  app.add_option("--adduct", columns.adduct, "Adduct column (table, xcms, mzmine)");
  app.add_option("--mass", mass,
                 "Compound_MolecularMass: neutral (the neutral mass where an adduct such as "
                 "[M+H]+ gives the charge, else the m/z) or mz (always the m/z)")
      ->capture_default_str()
      ->check(CLI::IsMember({"neutral", "mz"}));
  CLI::Option* input_option = app.add_option("INPUT", inputs, "Feature lists to import");
  if (!finishing) input_option->required();
  app.add_option("-o,--output", out_dir,
                 "Folder to write the databases into (created when missing)")
      ->required();
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? 0 : kExitUsage;
  }
  if (finish) {
    if (!inputs.empty() || !format.empty()) {
      std::cerr << "varnel-import: --finish takes only -o OUTDIR\n";
      return kExitUsage;
    }
    const Import_Folder_Recovery recovery = Recover_Import_Folder(out_dir);
    if (recovery.finished) {
      std::cout << out_dir << ": the interrupted import was completed\n";
    } else if (recovery.problem.empty()) {
      std::cout << out_dir << ": no interrupted import\n";
    }
    if (!recovery.problem.empty()) std::cerr << "varnel-import: " << recovery.problem << '\n';
    return recovery.finished || recovery.abandoned || recovery.problem.empty() ? 0 : kExitFailed;
  }
  options.format = *Parse_Import_Format(format);
  if (!rt_unit.empty()) options.rt_unit = rt_unit == "min" ? Rt_Unit::kMinutes : Rt_Unit::kSeconds;
  options.mass_is_mz = mass == "mz";

  options.stop = [] { return Stop_Signal() != 0; };
  try {
    const std::vector<Imported_Sample> samples = Read_Feature_Lists(options, inputs);
    const std::vector<Imported_Database> written =
        Write_Imported_Samples(samples, out_dir, {}, options.stop);
    std::size_t features = 0;
    std::size_t not_detected = 0;
    for (const Imported_Database& d : written) {
      features += d.features;
      not_detected += d.not_detected;
      std::cout << d.sample << ": " << d.features << " features -> "
                << Join_Path(out_dir, d.file_name) << " (mass: " << d.neutral << " neutral, "
                << d.features - d.neutral << " m/z)\n";
    }
    std::cout << written.size() << " samples, " << features << " features";
    if (not_detected > 0) {
      std::cout << " (" << not_detected
                << " cells not detected: an intensity of 0 or empty, no feature)";
    }
    std::cout << '\n';
  } catch (const Import_Stopped&) {
    std::cerr << "varnel-import: stopped by " << Stop_Signal_Name() << "; nothing was written\n";
    return Stop_Exit_Status();
  } catch (const std::exception& e) {
    std::cerr << "varnel-import: " << e.what() << '\n';
    return kExitFailed;
  }
  return 0;
}
