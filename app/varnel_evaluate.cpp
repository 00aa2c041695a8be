// varnel-evaluate: scores an aligned result against a study's ground truth,
// or only its curated peaks (pairwise precision, recall and F1 at peak and
// compound level).
#include <CLI/CLI.hpp>

#include <exception>
#include <iostream>
#include <string>

#include "run/result_pair.h"
#include "tools/evaluate.h"

namespace {
constexpr int kExitBadInput = 2;
}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "Scores an aligned result against a study's ground truth: pairs of peaks of different "
      "samples, true when they share the true compound, found when they share an Align_ID > 0."};
  std::string truth_path;
  std::string result_path;
  app.add_option("--truth", truth_path, "The study's ground_truth.csv")->required();
  app.add_option("RESULT", result_path, "The aligned database (.aligndb)")->required();
  bool curated_only = false;
  app.add_flag("--curated-only", curated_only,
               "Score only pairs between peaks whose true compound is not 0 (a partly curated "
               "study lists its other peaks with 0)");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : kExitBadInput;
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
