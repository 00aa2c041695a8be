// Import of feature lists written by other LC-MS tools (OpenMS featureXML, an
// MZmine feature-list CSV export, an XCMS chromPeaks table, any CSV/TSV with a
// header) as annotated peak-list databases, one per sample. The formats, with
// their names, captions, file filters and time units, are listed in
// import/import_formats.h.
//
// Each feature becomes one compound with one peak. Its Compound_MolecularMass
// is the neutral mass when the feature has an adduct that states its charge
// (such as "[M+H]+" or "[M-H]-") and otherwise its m/z; retention times are
// in seconds. The import happens in two steps: Read_Feature_Lists reads and
// checks every input, and only then Write_Imported_Samples writes anything.
#ifndef VARNEL_IMPORT_FEATURE_IMPORT_H_
#define VARNEL_IMPORT_FEATURE_IMPORT_H_

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

// The format's name in the formats table ("featurexml", "mzmine", "xcms" or
// "table", exactly), else nullopt.
std::optional<Import_Format> Parse_Import_Format(std::string_view name);

enum class Rt_Unit { kSeconds, kMinutes };

// Column names chosen by the user for the delimited formats (compared without
// regard to case and surrounding blanks); an empty name takes the format's
// default names (see docs/import.md).
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
  // The unit of the input's retention times; unset: the format's own (the
  // formats table's time unit: minutes for MZmine, seconds for the others;
  // featureXML is always in seconds).
  std::optional<Rt_Unit> rt_unit;
  Import_Columns columns;
  // Compound_MolecularMass is the m/z even where an adduct gives the charge.
  bool mass_is_mz = false;
  // Asked between rows and samples; true stops the import with Import_Stopped.
  std::function<bool()> stop;
};

// What an import accepts: m/z and masses above 0 and below kMaxMass (Da),
// retention times (and the spans of features) from 0 to kMaxRetentionTime
// (s), intensities and areas not negative.
inline constexpr double kMaxMass = 100000.0;           // Da
inline constexpr double kMaxRetentionTime = 172800.0;  // s: 48 h

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
  // The sample as the input names it (before it was made file-name safe).
  std::string origin = {};
  // Cells that hold no feature of this sample: an intensity of 0 or an empty
  // cell ("not detected").
  std::size_t not_detected = 0;
};

// A refused input: the message names the file and, where it has them, the
// line and the column ("FILE:LINE: column \"mz\": ...").
class Import_Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// An import stopped by Import_Options::stop; nothing was written.
class Import_Stopped : public std::runtime_error {
 public:
  Import_Stopped() : std::runtime_error("stopped") {}
};

// Reads every input in the format of options. Samples come in input order,
// within an input in the order first met. Refused (Import_Error): one file
// given twice (by any path), a sample named in two inputs, two names of one
// input that are one after they are made file-name safe, an input without
// features or columns the format needs, a row whose field count differs from
// the header's, a value out of the limits above, an unreadable number or
// adduct, a duplicated column, or no sample at all.
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
  std::size_t neutral = 0;       // features whose mass is the neutral mass
  std::size_t not_detected = 0;  // the sample's cells without a feature
};

// Writes one database per sample into out_dir. A missing or empty out_dir is
// written as a whole under a temporary name beside it
// (".varnel-part-<pid>-XXXXXX") and renamed into place, so it ends complete or
// as it was. Into a folder that holds files already, every database is
// written under a temporary name first and only when all are complete are
// they renamed into place (a kill during those renames leaves some replaced).
// The temporary files of Varnel programs no longer running are removed from
// the folder (and its parent) first. The samples are written side by side, one
// thread per core; on_sample(k) is called (one call at a time) when the k-th
// of them, counted from 0, is written. stop is asked between samples
// (Import_Stopped: nothing written). Throws std::runtime_error naming the file.
std::vector<Imported_Database> Write_Imported_Samples(
    const std::vector<Imported_Sample>& samples, const std::string& out_dir,
    const std::function<void(std::size_t)>& on_sample = {}, const std::function<bool()>& stop = {});

#endif  // VARNEL_IMPORT_FEATURE_IMPORT_H_
