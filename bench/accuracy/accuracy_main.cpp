// bench_accuracy STUDY: reads a simulated study's databases as the alignment
// run does, optionally fits and applies the retention-time correction,
// aligns, and scores the result against STUDY/ground_truth.csv in memory.
// With --estimate it also prints the tolerance estimate beside the spreads
// the simulator measured (STUDY/study_truth.csv, written by varnel-simulate
// when given --drift, --rt-scatter or --mass-error).
#include <CLI/CLI.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

#include "align/compound_align.h"
#include "align/rt_correction.h"
#include "align/tolerance_estimate.h"
#include "run/alignment_request.h"
#include "storage/annotated_reader.h"
#include "storage/path.h"
#include "storage/sqlite/cppsqlite3.h"
#include "tools/evaluate.h"
#include "tools/simulate.h"

namespace {

class Null_Buffer : public std::streambuf {
 protected:
  int overflow(int c) override { return c; }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

double Seconds_Since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

Align_Peak_Records Read_Study(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name.size() > std::string(kAnnotatedSuffix).size() && name.ends_with(kAnnotatedSuffix)) {
      names.push_back(name);
    }
  }
  std::sort(names.begin(), names.end());
  if (names.empty()) throw std::runtime_error(folder + ": no annotated databases");
  Align_Peak_Records list;
  std::vector<Chromatogram_Peak_Group_Compound> buffer;
  for (std::size_t i = 0; i < names.size(); ++i) {
    buffer.clear();
    Query_All_AnnotatedGroupedChromatographPeaklist_FromAnnoatedDataBase(folder, names[i], buffer);
    for (auto& p : buffer) {
      list.emplace_back(std::move(p), static_cast<std::uint32_t>(i), Sample_Name_Of(names[i]));
      list.back().Peak_shape.clear();  // the alignment and the score never look at shapes
    }
  }
  return list;
}

std::map<std::string, double> Read_Study_Truth(const std::string& folder) {
  std::map<std::string, double> figures;
  std::ifstream in(Join_Path(folder, kStudyTruthName));
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line)) {
    const auto comma = line.find(',');
    if (comma != std::string::npos)
      figures[line.substr(0, comma)] = std::stod(line.substr(comma + 1));
  }
  return figures;
}

void Print_Ratio(const char* what, double estimate, double truth) {
  std::printf("  %-34s estimate %10.5g  truth %10.5g  ratio %.3f\n", what, estimate, truth,
              truth > 0.0 ? estimate / truth : 0.0);
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Alignment accuracy of a simulated study, scored in memory."};
  std::string folder;
  double mass_tol = 0.1, fast_window = 20.0, deep_window = 10.0;
  bool deep = false, correct = false, estimate = false;
  app.add_option("STUDY", folder, "Folder written by varnel-simulate")->required();
  app.add_option("--mass-tol", mass_tol, "Da")->capture_default_str();
  app.add_option("--fast-window", fast_window, "s, full width")->capture_default_str();
  app.add_option("--deep-window", deep_window, "s, full width")->capture_default_str();
  app.add_flag("--deep", deep, "Two-phase alignment");
  app.add_flag("--rt-correction", correct, "Correct the retention-time drift first");
  bool curated_only = false;
  app.add_flag("--curated-only", curated_only, "Score only pairs of peaks whose truth is not 0");
  bool residuals = false;
  app.add_flag("--residuals", residuals, "Print quantiles of the corrected times' residuals");
  app.add_flag("--estimate", estimate, "Print the tolerance estimate against the truth");
  std::string pick_name = "closest";
  app.add_option("--pick", pick_name, "closest or scored")->capture_default_str();
  bool join_splits = false;
  app.add_flag("--join-splits", join_splits, "Join groups split over disjoint samples");
  double mass_tol_ppm = -1.0;
  app.add_option("--mass-tol-ppm", mass_tol_ppm, "ppm, instead of --mass-tol");
  CLI11_PARSE(app, argc, argv);
  try {
    auto start = std::chrono::steady_clock::now();
    Align_Peak_Records list = Read_Study(folder);
    const Ground_Truth truth = Ground_Truth::Read(Join_Path(folder, kGroundTruthName));
    std::printf("study %s: %zu peaks, read in %.2f s\n", folder.c_str(), list.size(),
                Seconds_Since(start));
    const Mass_Tolerance tol = mass_tol_ppm >= 0.0
                                   ? Mass_Tolerance{Mass_Tolerance::Unit::kPpm, mass_tol_ppm}
                                   : Mass_Tolerance{Mass_Tolerance::Unit::kDa, mass_tol};
    Member_Choice choice;
    if (!Member_Pick_Of_Name(pick_name, choice.pick)) {
      throw std::runtime_error("--pick: closest or scored, not " + pick_name);
    }
    choice.join_splits = join_splits;
    Null_Buffer sink;
    std::ostream quiet(&sink);

    if (estimate) {
      start = std::chrono::steady_clock::now();
      Tolerance_Estimate_Params params;
      params.fast_window = fast_window;
      const Tolerance_Estimate e = Estimate_Tolerances(list, params);
      std::printf("estimate in %.2f s\n%s", Seconds_Since(start),
                  Tolerance_Estimate_Report(e, correct).c_str());
      const auto t = Read_Study_Truth(folder);
      if (!t.empty()) {
        Print_Ratio("mass spread, ppm", e.mass_sd_ppm, t.at("mass_sd_ppm"));
        Print_Ratio("mass spread, Da", e.mass_sd_da, t.at("mass_sd_da"));
        Print_Ratio("RT spread before correction, s", e.rt_sd_before, t.at("rt_sd_seconds"));
        Print_Ratio("RT spread after correction, s", e.rt_sd_after,
                    t.at("rt_sd_drift_free_seconds"));
      }
      return 0;
    }

    double fit_seconds = 0.0;
    Rt_Correction correction;
    if (correct) {
      start = std::chrono::steady_clock::now();
      Rt_Correction_Params params;
      params.anchors.mass_tol = tol;
      params.anchors.window = Rt_Anchor_Window(fast_window);
      correction = Fit_Rt_Correction(list, params);
      fit_seconds = Seconds_Since(start);
      std::printf("%s", Rt_Correction_Summary(correction).c_str());
    }
    if (residuals) {  // |corrected time - its true compound's median corrected time|
      std::map<std::uint32_t, std::vector<std::pair<double, std::uint32_t>>> by_truth;
      const std::vector<Scored_Peak> labels = Label_Peaks(list, truth, folder);
      for (std::size_t i = 0; i < list.size(); ++i) {
        if (labels[i].truth == 0) continue;
        const double t = list[i].Compound_Retention_Time;
        by_truth[labels[i].truth].emplace_back(t + correction.Shift(list[i].SAMPLE_ID, t),
                                               list[i].SAMPLE_ID);
      }
      std::vector<double> deviations;
      std::map<std::uint32_t, std::vector<double>> per_sample;
      for (auto& [compound, times] : by_truth) {
        std::sort(times.begin(), times.end());
        const double median = times[times.size() / 2].first;
        for (const auto& [t, sample] : times) {
          deviations.push_back(std::fabs(t - median));
          per_sample[sample].push_back(std::fabs(t - median));
        }
      }
      auto quantile = [](std::vector<double>& v, double q) {
        std::sort(v.begin(), v.end());
        return v[static_cast<std::size_t>(q * (v.size() - 1))];
      };
      for (double q : {0.5, 0.9, 0.99, 0.999}) {
        std::printf("residual time, quantile %.3f: %.3f s\n", q, quantile(deviations, q));
      }
      for (auto& [sample, v] : per_sample) {
        std::printf("sample %u: residual time p50 %.2f s, p90 %.2f s, p99 %.2f s\n", sample,
                    quantile(v, 0.5), quantile(v, 0.9), quantile(v, 0.99));
      }
    }
    start = std::chrono::steady_clock::now();
    const std::vector<double> times = Corrected_Times(list, correction);
    const Member_Choice_Outcome outcome =
        compound_align(deep ? Two_Phase_Align : One_Phase_Align, tol, fast_window, deep_window,
                       list, &times, choice, quiet);
    const double align_seconds = Seconds_Since(start);
    std::printf("%s",
                Member_Choice_Text(choice.pick, outcome.spreads, choice.join_splits, outcome.joins)
                    .c_str());
    const Evaluation score = Score_Alignment(Label_Peaks(list, truth, folder), curated_only);
    std::printf("%s alignment, %s, mass tol %g Da, windows %g / %g s\n", deep ? "deep" : "fast",
                correct ? "with RT correction" : "no RT correction", mass_tol, fast_window,
                deep_window);
    std::printf("%s", Format_Evaluation(score).c_str());
    std::printf("seconds: correction fit %.3f, alignment %.3f\n", fit_seconds, align_seconds);
  } catch (const std::exception& e) {
    std::cerr << "bench_accuracy: " << e.what() << '\n';
    return 2;
  } catch (const CppSQLite3Exception& e) {
    std::cerr << "bench_accuracy: " << e.errorMessage() << '\n';
    return 2;
  }
  return 0;
}
