// Internal to the feature import (tools/feature_import.h): what its readers
// share.
#ifndef VARNEL_TOOLS_IMPORT_COMMON_H_
#define VARNEL_TOOLS_IMPORT_COMMON_H_

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "tools/feature_import.h"

namespace import_detail {

// Where a value came from, for messages: "FILE:LINE: column \"NAME\": ".
struct Place {
  const std::string* file = nullptr;
  std::size_t line = 0;          // 0: no line
  std::string_view column = {};  // empty: no column

  [[noreturn]] void Fail(const std::string& what) const;
};

// text without the blanks, tabs and line breaks around it.
std::string_view Trim(std::string_view text);

// A number cell: optional blanks around, an optional sign, digits with an
// optional "." and exponent, finite. nullopt for anything else.
std::optional<double> Number(std::string_view text);
// True for a cell that holds no value: empty, blank, "NA" or "NaN" (R and
// pandas write these for missing values).
bool Missing(std::string_view text);
// The number in text, or place.Fail("\"TEXT\" is not a number").
double Required_Number(std::string_view text, const Place& place);

// The samples read so far, in the order first met.
class Sample_Set {
 public:
  // The sample called name (made file-name safe), added when new. A name met
  // in another input, or that stays empty, fails at place.
  Imported_Sample& Get(std::string_view name, const Place& place);
  // References stay valid while samples are added.
  std::vector<Imported_Sample> Take();

 private:
  std::deque<Imported_Sample> samples_;
  std::unordered_map<std::string, std::size_t> index_;
};

// The whole file at path; fails naming it when it cannot be read.
std::string Read_Input(const std::string& path);

// The file name of path without its folder and its last extension
// ("/a/b/s1.featureXML" -> "s1").
std::string Stem(std::string_view path);

// Sets feature.mass and feature.neutral from mz, adduct and charge (see
// Neutral_Mass) and checks that rt is not negative and that rt, width and the
// mass are finite; fails at place (column "adduct" for the adduct). mz and
// height come finite from Number.
void Finish_Feature(Imported_Feature& feature, int charge, const Import_Options& options,
                    Place place);

// Runs work(0) ... work(n - 1) on up to one thread per core; when any
// throws, rethrows the exception of the lowest index after all have ended.
void For_Each_Parallel(std::size_t n, const std::function<void(std::size_t)>& work);

// The features of one featureXML file into sample (whose name is Stem(path)).
void Read_FeatureXml(const std::string& path, const Import_Options& options,
                     Imported_Sample& sample);
void Read_Mzmine(const std::string& path, const Import_Options& options, Sample_Set& samples);
// XCMS's chromPeaks is a table with fixed default names.
void Read_Table(const std::string& path, const Import_Options& options, Sample_Set& samples);

}  // namespace import_detail

#endif  // VARNEL_TOOLS_IMPORT_COMMON_H_
