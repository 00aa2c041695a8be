// Internal to the feature import (import/feature_import.h): what its readers
// share.
#ifndef VARNEL_IMPORT_IMPORT_COMMON_H_
#define VARNEL_IMPORT_IMPORT_COMMON_H_

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "import/feature_import.h"

namespace import_detail {

// Where a value came from, for messages: "FILE:LINE: column \"NAME\": ".
struct Place {
  const std::string* file = nullptr;
  std::size_t line = 0;          // 0: no line
  std::string_view column = {};  // empty: no column

  [[noreturn]] void Fail(const std::string& what) const;
};

// text as a message shows it: whole when short, else its first 60 characters
// (never a UTF-8 character cut in two) and an ellipsis.
std::string Shown(std::string_view text);

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

// The samples of one input, in the order first met.
class Sample_Set {
 public:
  // The sample called name (made file-name safe), added when new. A name
  // that stays empty, or another name that is the same once made safe
  // ("a/b" and "a_b"), fails at place naming both.
  // as_written: the name as the input has it, when name was made from it
  // (XCMS's sample 3 is "sample_3").
  Imported_Sample& Get(std::string_view name, const Place& place, std::string_view as_written = {});
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

// The names of the columns a feature's values came from, for messages.
struct Feature_Columns {
  std::string_view mz = "mz";
  std::string_view rt = "rt";
  std::string_view adduct = "adduct";
};

// Checks the feature's m/z, retention time and width against the import's
// limits (m/z in (0, kMaxMass), times in [0, kMaxRetentionTime]; a time
// beyond the limit read in minutes gives the hint --rt-unit s), then sets
// feature.mass and feature.neutral from mz, adduct and charge (see
// Neutral_Mass; a neutral mass must be in (0, kMaxMass) too). Fails at place
// with the column of the value. `minutes`: the times were read in minutes.
void Finish_Feature(Imported_Feature& feature, int charge, const Import_Options& options,
                    bool minutes, const Feature_Columns& columns, Place place);

// The intensity (height or area) cell at place: nullopt for "not detected"
// (missing or 0), the value when above 0; a negative one fails.
std::optional<double> Intensity_Value(std::string_view text, const Place& place);

// Runs work(0) ... work(n - 1) on up to one thread per core; when any
// throws, rethrows the exception of the lowest index after all have ended.
void For_Each_Parallel(std::size_t n, const std::function<void(std::size_t)>& work);

// Throws Import_Stopped when options.stop says so.
void Check_Stop(const Import_Options& options);

// The readers of the formats table (one input each).
std::vector<Imported_Sample> Read_FeatureXml(const std::string& path,
                                             const Import_Options& options);
std::vector<Imported_Sample> Read_Mzmine(const std::string& path, const Import_Options& options);
// XCMS's chromPeaks is a table with fixed default names.
std::vector<Imported_Sample> Read_Table(const std::string& path, const Import_Options& options);

}  // namespace import_detail

#endif  // VARNEL_IMPORT_IMPORT_COMMON_H_
