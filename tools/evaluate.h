// Scoring an alignment against a simulated study's ground truth.
//
// A pair is two peaks of different samples. A true pair has the same true
// compound (not 0: unannotated peaks belong to none); a found pair has the
// same Align_ID, not 0. Precision = correct / found, recall = correct / true,
// F1 their harmonic mean; with no found pairs precision is 1, with no true
// pairs recall is 1, and F1 is 0 when both are 0. Pairs are counted from
// group sizes (n choose 2 per cell, less the pairs inside one sample), never
// one by one, so a study of millions of peaks scores in one sort.
//
// Compound level: one unit per (SAMPLE_ID, Compound_ID other than 0), whose
// true compound and Align_ID are those most of its peaks carry (ties: the
// smaller number).
//
// Curated only: when only part of a study is curated, its truth lists every
// peak with 0 for those outside the curated compounds, which are not known
// to be unmatched. Scoring curated only leaves those peaks out before
// anything is counted: true, found and correct pairs are all pairs between
// two peaks whose truth is not 0.
#ifndef VARNEL_TOOLS_EVALUATE_H_
#define VARNEL_TOOLS_EVALUATE_H_

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

#include "model/peak.h"

// Bad input: the message names the file and what is wrong.
class Evaluation_Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// ground_truth.csv: header "sample,EIC_ID,Peak_ID,true_compound", then one
// line per peak. Keyed by sample name, EIC_ID and Peak_ID.
class Ground_Truth {
 public:
  // THROWS Evaluation_Error naming path (and the line) when the file cannot
  // be read, its header differs, a line has not four fields, a number is not
  // an unsigned 32-bit decimal, or a peak is listed twice.
  static Ground_Truth Read(const std::string& path);
  void Add(const std::string& sample, std::uint32_t eic, std::uint32_t peak,
           std::uint32_t compound);  // a repeated peak keeps its first compound
  // The true compound of a peak; false when the truth does not list it.
  bool Find(const std::string& sample, std::uint32_t eic, std::uint32_t peak,
            std::uint32_t& compound) const;
  std::size_t size() const { return truth_.size(); }

 private:
  static std::string Key(const std::string& sample, std::uint32_t eic, std::uint32_t peak);
  std::unordered_map<std::string, std::uint32_t> truth_;
};

// One peak as the score sees it.
struct Scored_Peak {
  std::uint32_t sample = 0;       // SAMPLE_ID
  std::uint32_t compound_id = 0;  // Compound_ID in its sample
  std::uint32_t truth = 0;        // true compound, 0 for none
  std::uint32_t align = 0;        // Align_ID, 0 for none
};

struct Pair_Score {
  std::uint64_t true_pairs = 0;
  std::uint64_t found_pairs = 0;
  std::uint64_t correct_pairs = 0;
  double precision = 1.0;
  double recall = 1.0;
  double f1 = 1.0;
};

struct Evaluation {
  std::size_t peaks = 0;
  std::size_t compound_units = 0;
  Pair_Score peak_level;
  Pair_Score compound_level;
};

// curated_only: see the top of this file.
Evaluation Score_Alignment(const std::vector<Scored_Peak>& peaks, bool curated_only = false);

// The records of an aligned list with their truth (by SAMPLE_NAME, EIC_ID,
// Peak_ID). THROWS Evaluation_Error for a record the truth does not list.
std::vector<Scored_Peak> Label_Peaks(
    const std::vector<Chromatogram_Peak_Group_Compound_Align>& list, const Ground_Truth& truth,
    const std::string& result_name);

// The rows of Align_Peaklist of the aligned database at path, with their
// truth. THROWS Evaluation_Error naming path when it is missing, not an SQLite
// database, has no Align_Peaklist table or no rows, has a NULL or non-numeric
// identifier, or holds a peak the truth does not list.
std::vector<Scored_Peak> Read_Scored_Result(const std::string& path, const Ground_Truth& truth);

// A small table: one line per level with the pair counts and the scores.
std::string Format_Evaluation(const Evaluation& evaluation);

#endif  // VARNEL_TOOLS_EVALUATE_H_
