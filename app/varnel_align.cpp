// varnel-align: the alignment run from the command line, for pipelines and
// servers without a display.
//
//   varnel-align [--mode fast|deep] [--mass-tol DA] [--fast-window SECONDS]
//                [--deep-window SECONDS] [--result-dir DIR] [--quiet] [--verbose]
//                DATABASE...
//
// Exit status: 0 done; 1 the run failed (one line on stderr naming the file);
// 2 usage error or a malformed number (the alignment tab's own message).
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

#include "align/alignment_run.h"
#include "storage/cppsqlite3.h"
#include "storage/path.h"
#include "tools/cli_number.h"
#include "tools/progress_bar.h"

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
// What the fast alignment is handed for a deep window that holds no number
// (it never reads it): the default deep window, as the window does.
constexpr double kFastModeFallbackWindow2 = 10.0;

struct Arguments {
  std::string mode = "fast";
  std::string mass_tol = "0.1";
  std::string fast_window = "20";
  std::string deep_window = "10";
  std::string result_dir;
  bool quiet = false;
  bool verbose = false;
  std::vector<std::string> databases;
};

// The three numbers, checked in the alignment tab's order.
struct Numbers {
  double mass_tol = 0.0;
  double window1 = 0.0;
  double window2 = 0.0;
};

std::optional<Numbers> Check_Numbers(const Arguments& args, bool deep) {
  const std::optional<double> window2 = Parse_Cli_Number(args.deep_window);
  if (deep && !window2) {
    std::cerr << "You must configure a valid Align Window2!\n";
    return std::nullopt;
  }
  const std::optional<double> mass_tol = Parse_Cli_Number(args.mass_tol);
  if (!mass_tol) {
    std::cerr << "You must configure a valid Align Mass Tolerance!\n";
    return std::nullopt;
  }
  const std::optional<double> window1 = Parse_Cli_Number(args.fast_window);
  if (!window1) {
    std::cerr << "You must configure a valid Align Window1!\n";
    return std::nullopt;
  }
  return Numbers{*mass_tol, *window1, window2.value_or(kFastModeFallbackWindow2)};
}

// One line: messages from SQLite may hold line breaks.
std::string One_Line(std::string text) {
  for (char& c : text) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return text;
}

void Remove_If_Empty(bool made, const std::string& folder) {
  std::error_code ignored;
  if (made && std::filesystem::is_empty(folder, ignored)) std::filesystem::remove(folder, ignored);
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
    observer.on_read = [this](std::size_t read, std::size_t total, std::size_t peaks) {
      peaks_ = peaks;
      Show(Stage::kReading, read, total, peaks);
    };
    observer.on_align = [this](std::uint32_t groups, std::size_t left) {
      Show(Stage::kAligning, groups, left, peaks_);
    };
    observer.on_write = [this](const char* name, std::size_t rows, std::size_t total) {
      Show(std::string(name) == kAlignedCsvName ? Stage::kWritingCsv : Stage::kWritingDatabase,
           rows, total, 0);
    };
    return observer;
  }

 private:
  enum class Stage { kNone, kReading, kAligning, kWritingCsv, kWritingDatabase };

  void Show(Stage stage, std::size_t a, std::size_t b, std::size_t c) {
    if (stage != stage_) {
      Flush(true);
      stage_ = stage;
      bar_.Stage(stage == Stage::kReading      ? "reading"
                 : stage == Stage::kAligning   ? "aligning"
                 : stage == Stage::kWritingCsv ? "writing CSV"
                                               : "writing database");
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
    if (stage_ == Stage::kNone) return;
    if (stage_ == Stage::kAligning && stage_finished) {
      finished_ = true;
      drawn_ = false;
    }
    if (!drawn_) Draw(true);
  }

  void Draw(bool force) {
    drawn_ = true;
    const auto n = [](std::size_t v) { return std::to_string(v); };
    switch (stage_) {
      case Stage::kReading:
        bar_.Update(a_, b_, n(a_) + "/" + n(b_) + " files, " + n(c_) + " peaks", force);
        break;
      case Stage::kAligning:
        bar_.Update(finished_ ? c_ : c_ - std::min(b_, c_), c_,
                    n(a_) + " groups, " + n(b_) + " peaks left", force);
        break;
      case Stage::kWritingCsv:
      case Stage::kWritingDatabase:
        bar_.Update(a_, b_, n(a_) + "/" + n(b_) + " rows", force);
        break;
      case Stage::kNone:
        break;
    }
  }

  Progress_Bar bar_;
  bool enabled_;
  Stage stage_ = Stage::kNone;
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
  app.add_option("--mass-tol", args.mass_tol, "Mass tolerance, Da")->capture_default_str();
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
  app.add_flag("--quiet", args.quiet, "No progress bar");
  app.add_flag("--verbose", args.verbose, "Print the alignment's progress lines on stdout");
  app.add_option("DATABASE", args.databases,
                 "Annotated databases; the position of each is its SAMPLE_ID (from 0)")
      ->required();
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : kExitUsage;
  }

  const bool deep = args.mode == "deep";
  const std::optional<Numbers> numbers = Check_Numbers(args, deep);
  if (!numbers) return kExitUsage;

  std::vector<Annotated_File> files;
  files.reserve(args.databases.size());
  for (const std::string& path : args.databases) {
    Split_Path_Result parts = Split_Path(path);
    files.push_back({std::move(parts.folder), std::move(parts.name)});
  }
  const std::string result_dir =
      args.result_dir.empty() ? Join_Path(files.front().folder, "Result") : args.result_dir;

  // A result folder made for a run that then fails is taken away again when
  // it is still empty, so that a failed run leaves nothing behind.
  bool made_result_dir = false;
  try {
    std::error_code error;
    made_result_dir = std::filesystem::create_directories(result_dir, error);
    if (error || !std::filesystem::is_directory(result_dir)) {
      std::cerr << "varnel-align: " << result_dir << ": cannot create the result folder: "
                << (error ? error.message() : std::string("not a folder")) << '\n';
      return kExitFailed;
    }

    Run_Display display(!args.quiet && Stderr_Is_Terminal());
    Alignment_Run_Observer observer = display.Observer();
    std::ostream null_stream(nullptr);
    observer.align_lines = args.verbose ? &std::cout : &null_stream;
    const Alignment_Run_Summary summary =
        Run_Alignment(deep ? Two_Phase_Align : One_Phase_Align, numbers->mass_tol, numbers->window1,
                      numbers->window2, result_dir, files, observer);

    std::cout << "samples: " << summary.samples << '\n'
              << "peaks: " << summary.peaks << '\n'
              << "groups: " << summary.groups << '\n'
              << "unaligned peaks: " << summary.unaligned << '\n'
              << "seconds: " << summary.seconds << '\n'
              << "csv: " << summary.csv_path << '\n'
              << "database: " << summary.database_path << '\n'
              << std::flush;
  } catch (const CppSQLite3Exception& e) {
    std::cerr << "varnel-align: " << One_Line(e.errorMessage()) << '\n';
    Remove_If_Empty(made_result_dir, result_dir);
    return kExitFailed;
  } catch (const std::exception& e) {
    std::cerr << "varnel-align: " << One_Line(e.what()) << '\n';
    Remove_If_Empty(made_result_dir, result_dir);
    return kExitFailed;
  }
  return 0;
}
