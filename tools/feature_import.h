// Import of feature lists written by other LC-MS tools (OpenMS featureXML, an
// MZmine feature-list CSV export, an XCMS chromPeaks table, any CSV/TSV with a
// header) as annotated peak-list databases, one per sample.
//
// Each feature becomes one compound with one peak. Its Compound_MolecularMass
// is the neutral mass when the feature has an adduct that states its charge
// (such as "[M+H]+" or "[M-H]-") and otherwise its m/z; retention times are
// in seconds. The import happens in two steps: Read_Feature_Lists reads and
// checks every input, and only then Write_Imported_Samples writes anything.
#ifndef VARNEL_TOOLS_FEATURE_IMPORT_H_
#define VARNEL_TOOLS_FEATURE_IMPORT_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "model/peak.h"

enum class Import_Format { kFeatureXml, kMzmine, kXcms, kTable };

// "featurexml", "mzmine", "xcms" or "table" (exactly), else nullopt.
std::optional<Import_Format> Parse_Import_Format(std::string_view name);

enum class Rt_Unit { kSeconds, kMinutes };

// Column names chosen by the user for the delimited formats (compared without
// regard to case and surrounding blanks); an empty name takes the format's
// default names (see the README's table).
struct Import_Columns {
  std::string mz;
  std::string rt;
  std::string intensity;  // the feature's height
  std::string area;
  std::string sample;
  std::string charge;
  std::string adduct;
};

struct Import_Options {
  Import_Format format = Import_Format::kTable;
  // The unit of the input's retention times; unset: minutes for MZmine,
  // seconds for the others (featureXML is always in seconds).
  std::optional<Rt_Unit> rt_unit;
  Import_Columns columns;
  // Compound_MolecularMass is the m/z even where an adduct gives the charge.
  bool mass_is_mz = false;
};

// A feature as read, retention times already in seconds.
struct Imported_Feature {
  double mz = 0.0;
  double rt = 0.0;       // s
  double width = 0.0;    // s: the retention-time span it covers; 0 when unknown
  double height = 0.0;   // the format's intensity (height)
  double area = -1.0;    // the format's area; negative when it gives none
  double mass = 0.0;     // neutral mass, or mz (see `neutral`)
  bool neutral = false;  // mass is the neutral mass from charge and adduct
  std::string adduct;    // as written, or empty
};

struct Imported_Sample {
  std::string name;    // file-name safe: no separators or control characters
  std::string source;  // the input it came from
  std::vector<Imported_Feature> features;
};

// A refused input: the message names the file and, where it has them, the
// line and the column ("FILE:LINE: column \"mz\": ...").
class Import_Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Reads every input in the format of options, in order. Samples come in the
// order first met. A sample found in two inputs, an input without features
// or columns the format needs, an unreadable number or adduct, or no sample
// at all is refused. Throws Import_Error.
std::vector<Imported_Sample> Read_Feature_Lists(const Import_Options& options,
                                                const std::vector<std::string>& inputs);

// The neutral mass of an ion of m/z `mz` written as `adduct` ("[M+H]+",
// "[M+2H]2+", "[2M+Na]+", "[M+H-H2O]+", "[M-H]-", "[M+Cl]-" ...), using the
// monoisotopic masses of its parts and of the electron. `charge` is the
// charge's size from elsewhere (0: unknown). nullopt when the adduct states no
// charge or is not understood; throws Import_Error(what is wrong) when its
// charge differs from a non-zero `charge`.
std::optional<double> Neutral_Mass(double mz, std::string_view adduct, int charge);

// Synthetic peak shape, used as no format gives the raw points: a Gaussian
// of kShapePoints points evenly over the feature's width (kDefaultWidth when
// it has none), its standard deviation a quarter of the width, its apex the
// feature's height at the feature's retention time, every point at the
// feature's m/z, scans numbered 0 to kShapePoints - 1.
inline constexpr int kShapePoints = 7;
inline constexpr double kDefaultWidth = 10.0;  // s

// The peak of feature number `number` (1, 2, ... within its sample): EIC_ID,
// Peak_ID, Group_ID and Compound_ID = number; Apex_MZ = mz; both retention
// times = rt; Apex_Intensity and Compound_Intensity = height; Peak_Area = the
// format's area, else the area of the synthetic shape; Peak_SNR 0.
void Feature_Peak(const Imported_Feature& feature, std::uint32_t number,
                  Chromatogram_Peak_Group_Compound& peak);

struct Imported_Database {
  std::string sample;
  std::string file_name;  // sample + kAnnotatedSuffix, inside the output folder
  std::size_t features = 0;
  std::size_t neutral = 0;  // features whose mass is the neutral mass
};

// Writes one database per sample into out_dir (created when missing). Every
// database is written under a temporary name first; only when all are
// complete are they renamed into place, so a failure while writing leaves the
// folder as it was. The samples are written side by side, one thread per
// core; on_sample(k) is called (one call at a time) when the k-th of them,
// counted from 0, is written. Throws std::runtime_error naming the file.
std::vector<Imported_Database> Write_Imported_Samples(
    const std::vector<Imported_Sample>& samples, const std::string& out_dir,
    const std::function<void(std::size_t)>& on_sample = {});

#endif  // VARNEL_TOOLS_FEATURE_IMPORT_H_
