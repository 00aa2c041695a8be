// varnel-evaluate: scores an aligned result against a study's ground truth,
// or only its curated peaks (pairwise precision, recall and F1 at peak and
// compound level).
#include <CLI/CLI.hpp>

#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "run/result_pair.h"
#include "tools/evaluate.h"
#include "tools/evaluate_signal.h"

namespace {
constexpr int kExitBadInput = 2;
}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "Scores an aligned result against a study's ground truth: pairs of peaks of different "
      "samples, true when they share the true compound, found when they share an Align_ID > 0."};
  std::string truth_path;
  std::string result_path;
  CLI::Option* truth_option = app.add_option("--truth", truth_path, "The study's ground_truth.csv");
  CLI::Option* result_option =
      app.add_option("RESULT", result_path, "The aligned database (.aligndb)");
  std::vector<std::string> signal_tables;
  std::string study_dir;
  CLI::Option* signal_option =
      app.add_option("--signal", signal_tables,
                     "Instead: score these feature tables (--quantity compound, any correction) "
                     "against the intensities of a study simulated with --batches")
          ->excludes(truth_option)
          ->excludes(result_option);
  app.add_option("--study", study_dir, "The simulated study's folder (with --signal)")
      ->needs(signal_option);
  bool curated_only = false;
  app.add_flag("--curated-only", curated_only,
               "Score only pairs between peaks whose true compound is not 0 (a partly curated "
               "study lists its other peaks with 0)");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : kExitBadInput;
  }
  if (!signal_tables.empty()) {
    if (study_dir.empty()) {
      std::cerr << "varnel-evaluate: --signal needs --study DIR\n";
      return kExitBadInput;
    }
    try {
      std::vector<Signal_Evaluation> evaluations;
      for (const std::string& table : signal_tables) {
        evaluations.push_back(Evaluate_Signal(table, study_dir));
      }
      std::cout << Format_Signal_Evaluations(evaluations);
    } catch (const std::exception& e) {
      std::cerr << "varnel-evaluate: " << e.what() << '\n';
      return kExitBadInput;
    }
    return 0;
  }
  if (truth_path.empty() || result_path.empty()) {
    std::cerr << "varnel-evaluate: --truth and RESULT are required\n";
    return kExitBadInput;
  }
  // A replacement of the result pair that a killed run left unfinished is
  // completed before anything is read.
  const Result_Folder_Recovery recovery = Recover_Result_Folder_Of(result_path);
  if (!recovery.problem.empty())
    std::cerr << "varnel-evaluate: warning: " << recovery.problem << '\n';
  try {
    const Ground_Truth truth = Ground_Truth::Read(truth_path);
    const Evaluation evaluation =
        Score_Alignment(Read_Scored_Result(result_path, truth), curated_only);
    std::cout << Format_Evaluation(evaluation);
  } catch (const Evaluation_Error& e) {
    std::cerr << "varnel-evaluate: " << e.what() << '\n';
    return kExitBadInput;
  } catch (const std::exception& e) {
    std::cerr << "varnel-evaluate: " << e.what() << '\n';
    return 1;
  }
  return 0;
}
