// varnel-align: the alignment run from the command line, for pipelines and
// servers without a display.
//
//   varnel-align [--mode fast|deep] [--mass-tol DA | --mass-tol-ppm PPM]
//                [--fast-window SECONDS] [--deep-window SECONDS] [--rt-correction]
//                [--pick closest|scored] [--join-splits]
//                [--record-run] [--result-dir DIR] [--quiet] [--verbose] DATABASE...
//   varnel-align --estimate [--rt-correction] [--fast-window SECONDS] DATABASE...
//   varnel-align --scan OUTFILE | --plan DIR ...   the steps of an alignment in
//                shards (see app/varnel_align_shard.h)
//
// Exit status: 0 done; 1 the run failed (one line on stderr naming the file);
// 2 usage error or a malformed number (the alignment tab's own message);
// 130 / 143 / 129 stopped by SIGINT (Ctrl+C) / SIGTERM / SIGHUP: the run stops
// at its next progress report, removes its temporary files and leaves earlier
// results as they were. A second signal ends the program at once (see
// storage/stop_signals.h).
// Numbers are read with "." as the decimal point whatever the locale.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "app/varnel_align_shard.h"
#include "run/alignment_estimate.h"
#include "run/alignment_run.h"
#include "storage/output_folder.h"
#include "storage/path.h"
#include "storage/sqlite/cppsqlite3.h"
#include "storage/stop_signals.h"
#include "tools/cli_number.h"
#include "tools/progress_bar.h"

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

struct Arguments {
  std::string mode = "fast";
  std::string mass_tol = kDefaultMassTolText;
  std::string fast_window = kDefaultWindow1Text;
  std::string deep_window = kDefaultWindow2Text;
  std::string mass_tol_ppm;
  std::string result_dir;
  bool rt_correction = false;
  std::string pick = "closest";
  bool join_splits = false;
  bool record_run = false;
  bool estimate = false;
  bool quiet = false;
  bool verbose = false;
  unsigned threads = 0;  // 0: one per core
  std::vector<std::string> databases;
};

// One line: messages from SQLite may hold line breaks.
std::string One_Line(std::string text) {
  for (char& c : text) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return text;
}

// Draws the stages of the run on one progress bar. Updates come often (one
// per group made); the text is built only when a redraw is due, and the last
// state of a stage is always drawn before the next stage starts.
class Run_Display {
 public:
  explicit Run_Display(bool enabled) : bar_(std::cerr, enabled), enabled_(enabled) {}
  ~Run_Display() { Flush(false); }
  Run_Display(const Run_Display&) = delete;
  Run_Display& operator=(const Run_Display&) = delete;

  Alignment_Run_Observer Observer() {
    Alignment_Run_Observer observer;
    if (!enabled_) return observer;
    // A stage that counts nothing shows its name on an empty bar; the others
    // appear with their first count.
    observer.on_stage = [this](Run_Stage stage) {
      if (Stage_Info(stage).count == Stage_Count::kNone) Show(stage, 0, 1, 0);
    };
    observer.on_read = [this](std::size_t read, std::size_t total, std::size_t peaks) {
      peaks_ = peaks;
      Show(Run_Stage::kReading, read, total, peaks);
    };
    observer.on_align = [this](std::uint32_t groups, std::size_t left) {
      Show(Run_Stage::kAligning, groups, left, peaks_);
    };
    observer.on_write = [this](Run_Stage stage, std::size_t rows, std::size_t total) {
      Show(stage, rows, total, 0);
    };
    return observer;
  }

 private:
  void Show(Run_Stage stage, std::size_t a, std::size_t b, std::size_t c) {
    if (!stage_ || stage != *stage_) {
      Flush(true);
      stage_ = stage;
      bar_.Stage(Run_Stage_Name(stage));
    }
    a_ = a;
    b_ = b;
    c_ = c;
    drawn_ = false;
    if (bar_.Due()) Draw(false);
  }

  // Draws the last state if it was not drawn; a finished alignment shows a
  // full bar (the peaks left then are those that match no group).
  void Flush(bool stage_finished) {
    if (!stage_) return;
    if (Stage_Info(*stage_).count == Stage_Count::kGroups && stage_finished) {
      finished_ = true;
      drawn_ = false;
    }
    if (!drawn_) Draw(true);
  }

  void Draw(bool force) {
    drawn_ = true;
    const auto n = [](std::size_t v) { return std::to_string(v); };
    switch (Stage_Info(*stage_).count) {
      case Stage_Count::kFiles:
        bar_.Update(a_, b_, n(a_) + "/" + n(b_) + " files, " + n(c_) + " peaks", force);
        break;
      case Stage_Count::kGroups:
        bar_.Update(finished_ ? c_ : c_ - std::min(b_, c_), c_,
                    n(a_) + " groups, " + n(b_) + " peaks left", force);
        break;
      case Stage_Count::kRows:
        bar_.Update(a_, b_, n(a_) + "/" + n(b_) + " rows", force);
        break;
      case Stage_Count::kNone:
        bar_.Update(a_, b_, "", force);
        break;
    }
  }

  Progress_Bar bar_;
  bool enabled_;
  std::optional<Run_Stage> stage_;
  bool drawn_ = true;
  bool finished_ = false;
  std::size_t a_ = 0, b_ = 0, c_ = 0;
  std::size_t peaks_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "Aligns the compounds of annotated peak-list databases across samples and writes "
      "the aligned CSV file and .aligndb database into the result folder."};
  Arguments args;
  app.add_option("--mode", args.mode, "fast (one phase) or deep (two phases)")
      ->capture_default_str()
      ->check(CLI::IsMember({"fast", "deep"}));
  CLI::Option* da =
      app.add_option("--mass-tol", args.mass_tol, "Mass tolerance, Da")->capture_default_str();
  app.add_option("--mass-tol-ppm", args.mass_tol_ppm,
                 "Mass tolerance in ppm of the seed's mass, instead of --mass-tol")
      ->excludes(da);
  app.add_option("--fast-window", args.fast_window,
                 "Retention-time window of the fast alignment and of the first deep phase, "
                 "seconds (full width)")
      ->capture_default_str();
  app.add_option("--deep-window", args.deep_window,
                 "Retention-time window of the second deep phase, seconds (full width)")
      ->capture_default_str();
  app.add_option("--result-dir", args.result_dir,
                 "Result folder (default: the first DATABASE's folder + /Result), created when "
                 "missing");
  app.add_flag("--rt-correction", args.rt_correction,
               "Correct each sample's retention-time drift before aligning (fitted on compounds "
               "found in most samples); the result stores the correction");
  app.add_option("--pick", args.pick,
                 "How a group keeps one member per sample: closest (in retention time) or "
                 "scored (time, mass and intensity against the study's own spreads)")
      ->capture_default_str()
      ->check(CLI::IsMember({"closest", "scored"}));
  app.add_flag("--join-splits", args.join_splits,
               "Join two groups with no sample in common whose median masses and times lie "
               "within the mass tolerance and the fast window");
  app.add_flag("--record-run", args.record_run,
               "Store the run's parameters and every input's size and hash in the result");
  app.add_flag("--estimate", args.estimate,
               "Only read the study and suggest --mass-tol, --fast-window and --deep-window from "
               "its own spreads (for corrected times with --rt-correction); writes nothing");
  app.add_option("--threads", args.threads,
                 "Threads reading the inputs (default: one per core; 1: all read on the run's "
                 "own thread, one after another)")
      ->check(CLI::Range(1u, 256u));
  app.add_flag("--quiet", args.quiet, "No progress bar");
  app.add_flag("--verbose", args.verbose, "Print the alignment's progress lines on stdout");
  Shard_Command shard;
  app.add_option("--scan", shard.scan_file,
                 "Only scan the DATABASEs for a plan of shards (sizes, hashes, mass histogram, "
                 "anchors with --rt-correction) into this file");
  app.add_option("--plan", shard.plan_folder,
                 "The plan folder of an alignment in shards: with --shards N the arguments are "
                 "SCANFILEs to plan from; with --split the DATABASEs to split; with --shard K "
                 "the shard to align");
  app.add_option("--shards", shard.shards, "With --plan: the number of shards wanted");
  app.add_flag("--split", shard.split, "With --plan: split the DATABASEs into the shards' parts");
  app.add_option("--shard", shard.shard, "With --plan: align shard K (0 .. shards - 1)");
  app.add_option("--deviations", shard.deviations,
                 "With --plan of --pick scored or --join-splits: shard K's deviations, the first "
                 "round (before --spreads)");
  app.add_flag("--spreads", shard.spreads,
               "With --plan of --pick scored or --join-splits: the study's spreads from every "
               "shard's deviations (before the shards are aligned)");
  app.add_option("DATABASE", args.databases,
                 "Annotated databases; the position of each is its SAMPLE_ID (from 0)");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : kExitUsage;
  }

  Alignment_Form form;
  form.numbers.mode = args.mode == "deep" ? Two_Phase_Align : One_Phase_Align;
  const bool ppm = !args.mass_tol_ppm.empty();
  form.numbers.mass_tol = ppm ? args.mass_tol_ppm : args.mass_tol;
  form.numbers.mass_tol_unit = ppm ? Mass_Tolerance::Unit::kPpm : Mass_Tolerance::Unit::kDa;
  form.numbers.window1 = args.fast_window;
  form.numbers.window2 = args.deep_window;
  form.rt_correction = args.rt_correction;
  form.record_run = args.record_run;
  Member_Pick_Of_Name(args.pick, form.pick);
  form.join_splits = args.join_splits;
  form.threads = args.threads;
  form.files.reserve(args.databases.size());
  for (const std::string& path : args.databases) {
    Split_Path_Result parts = Split_Path(path);
    form.files.push_back({std::move(parts.folder), std::move(parts.name)});
  }
  Built_Alignment_Request built = Build_Alignment_Request(form, Parse_Cli_Number);
  if (built.refusal) {
    std::cerr << *built.refusal << '\n';
    return kExitUsage;
  }

  if (!shard.Given() && args.databases.empty()) {
    std::cerr << "DATABASE is required\n" << app.help();
    return kExitUsage;
  }
  // One file given twice would be aligned against itself (or scanned,
  // planned or split twice).
  if (const std::optional<std::string> refusal = Check_Distinct_Inputs(args.databases)) {
    std::cerr << "varnel-align: " << *refusal << '\n';
    return kExitUsage;
  }
  Alignment_Request& request = built.request;
  if (shard.Given()) return Run_Shard_Command(shard, request, args.databases);
  request.result_folder = args.result_dir.empty()
                              ? Default_Result_Folder(request.files.front().folder)
                              : args.result_dir;
  const std::string& result_dir = request.result_folder;

  if (args.estimate) {
    try {
      Run_Display display(!args.quiet && Stderr_Is_Terminal());
      Install_Stop_Handlers();
      const Tolerance_Suggestion suggestion = Estimate_Study_Tolerances(
          request.files, request.rt_correction, request.Align_Window1, request.threads,
          Make_Cancellable(display.Observer(), [] { return Stop_Signal() != 0; }));
      // The option line (the report's last) carries the member choice asked
      // for, so that it can be pasted whole.
      std::string report = suggestion.report;
      std::string choice;
      if (request.pick == Member_Pick::kScored) choice += " --pick scored";
      if (request.join_splits) choice += " --join-splits";
      if (!choice.empty() && !report.empty() && report.back() == '\n') {
        report.insert(report.size() - 1, choice);
      }
      std::cout << report << std::flush;
      return 0;
    } catch (const Run_Cancelled&) {
      return Stop_Exit_Status();
    } catch (const CppSQLite3Exception& e) {
      std::cerr << "varnel-align: " << One_Line(std::string(e.errorDetail())) << '\n';
      return kExitFailed;
    } catch (const std::exception& e) {
      std::cerr << "varnel-align: " << One_Line(e.what()) << '\n';
      return kExitFailed;
    }
  }

  // A result folder made for a run that then fails is taken away again when
  // it is still empty, so that a failed run leaves nothing behind.
  const Output_Folder made(result_dir);
  if (!made.ok()) {
    std::cerr << "varnel-align: " << made.error() << '\n';
    return kExitFailed;
  }
  try {
    Run_Display display(!args.quiet && Stderr_Is_Terminal());
    Install_Stop_Handlers();
    Alignment_Run_Observer observer =
        Make_Cancellable(display.Observer(), [] { return Stop_Signal() != 0; });
    std::ostream null_stream(nullptr);
    observer.align_lines = args.verbose ? &std::cout : &null_stream;
    const Alignment_Run_Summary summary = Run_Alignment(request, observer);
    for (const std::string& input : summary.inputs_without_table) {
      std::cerr << "varnel-align: " << input << ": " << kNoAnnotatedTableNote << '\n';
    }

    std::cout << "samples: " << summary.samples << '\n'
              << "peaks: " << summary.peaks << '\n'
              << "groups: " << summary.groups << '\n'
              << "unaligned peaks: " << summary.unaligned << '\n'
              << "seconds: " << summary.seconds << '\n'
              << "seconds reading, aligning, writing: " << summary.reading_seconds << ' '
              << summary.aligning_seconds << ' ' << summary.writing_seconds << '\n'
              << "csv: " << summary.csv_path << '\n'
              << "database: " << summary.database_path << '\n'
              << summary.rt_correction << summary.member_choice << std::flush;
  } catch (const Run_Cancelled&) {
    std::cerr << "varnel-align: stopped by " << Stop_Signal_Name()
              << "; earlier results are unchanged\n";
    made.Discard_If_Empty();
    return Stop_Exit_Status();
  } catch (const CppSQLite3Exception& e) {
    std::cerr << "varnel-align: " << One_Line(std::string(e.errorDetail())) << '\n';
    made.Discard_If_Empty();
    return kExitFailed;
  } catch (const std::exception& e) {
    std::cerr << "varnel-align: " << One_Line(e.what()) << '\n';
    made.Discard_If_Empty();
    return kExitFailed;
  }
  return 0;
}
