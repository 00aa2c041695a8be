// The plan of a sharded alignment: what a scan of the inputs keeps, how the
// mass axis is cut, and the plan file that every later step reads.
//
// Why cutting works: a group never reaches farther than 2 x the mass
// tolerance from its seed's mass (the deep mode's first phase moves the centre
// by at most one tolerance; in ppm the tolerance is the seed's). Cut only at
// empty stretches of the mass axis wider than that (at the mass of the cut, in
// ppm), the pieces align independently into the same groups, and each piece
// makes its groups in the order of their seeds. The global Align_IDs are then
// the pieces' group sequences merged by seed key.
//
// The mass axis is counted in bins of a quarter of the tolerance (in ppm, bins
// of a constant ratio, a quarter of the tolerance wide at every mass), so a
// plan needs memory for the bins and the inputs, never for the peaks; a cut
// needs a stretch of empty bins wide enough that any two masses on either side
// are more than 2 x the tolerance apart, with one bin to spare for rounding.
#ifndef VARNEL_COHORT_STUDY_PLAN_H_
#define VARNEL_COHORT_STUDY_PLAN_H_

#include <cmath>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "align/compound_align.h"
#include "align/rt_correction.h"
#include "run/alignment_request.h"

// The layout of plan.json; a plan of another version is refused. A plan with
// a member choice beyond the closest-in-time rule (Needs_Study_Spreads) is of
// version 3, so that a Varnel that knows nothing of it refuses it instead of
// aligning its shards without it; any other plan stays of version 2, byte for
// byte as before.
inline constexpr int kPlanSchemaVersion = 2;
inline constexpr int kPlanSchemaVersionWithChoice = 3;
inline constexpr int kScanSchemaVersion = 1;
inline constexpr const char* kPlanFileName = "plan.json";

// Bins of the mass axis for one tolerance.
class Mass_Binning {
 public:
  static constexpr int kBinsPerTolerance = 4;

  explicit Mass_Binning(const Mass_Tolerance& tolerance);

  // The bin of a mass; nothing for a mass outside the binned range: NaN,
  // infinite or beyond +-1e15 Da, and in ppm a mass <= 0. Such masses go to
  // the first shard (NaN, negative, and ppm's masses <= 0) or the last
  // (positive), where nothing can reach across a cut to them.
  std::optional<std::int64_t> Bin(double mass) const;
  // The mass in the middle of bins first .. last (a fraction allowed).
  double Mass_At(double bin) const;
  // Empty bins needed between two bins for a cut between them; 0 when no cut
  // is ever safe (ppm tolerances of 500000 or more).
  std::int64_t Gap_Bins() const { return gap_bins_; }
  // True for a peak that can seed a group reaching every mass: in ppm, an
  // infinite mass makes an infinite tolerance.
  bool Reaches_Everything(double mass, double intensity) const {
    return ppm_ && std::isinf(mass) && intensity > 0.0;
  }

 private:
  bool ppm_;
  double width_;  // Da, or the natural log of the bins' ratio
  std::int64_t gap_bins_;
};

// A compound of an input that the drift correction may anchor on.
struct Scan_Anchor {
  std::uint32_t compound_id = 0;
  double mass = 0.0;
  double rt = 0.0;
  double intensity = 0.0;
};

// What the scan of one input keeps.
struct Input_Scan {
  std::string folder;  // as given (no trailing separator)
  std::string name;    // bare file name
  std::uint64_t size = 0;
  std::string xxh3_128;
  std::uint64_t peaks = 0;
  std::uint64_t low = 0;        // peaks without a bin that go to the first shard
  std::uint64_t high = 0;       // peaks without a bin that go to the last shard
  std::uint64_t unbounded = 0;  // peaks that can reach every mass (no cut is then safe)
  std::vector<std::pair<std::int64_t, std::uint32_t>> bins;  // (bin, peaks), ascending
  // With drift correction: the input's most intense compound units (the first
  // record of each Compound_ID other than 0 with a finite mass and time), at
  // most kScanAnchorsPerInput, in ascending Compound_ID.
  std::vector<Scan_Anchor> anchors;
};

// The anchors kept per input: as many as the correction looks at per sample.
std::size_t Scan_Anchors_Per_Input();

// A scan file: the options it was made with and one entry per input.
struct Study_Scan {
  Alignment_Request options;  // files and result_folder unused
  std::vector<Input_Scan> inputs;
};

// Scans the peaks of one input (in input order): its bins and, when
// `anchors`, its anchors. Size and hash are the caller's.
Input_Scan Scan_Peaks(const std::vector<Chromatogram_Peak_Group_Compound>& peaks,
                      const Mass_Binning& binning, bool anchors);

void Write_Scan_File(const std::string& path, const Study_Scan& scan);
// Throws std::runtime_error "<path>: ..." for a file that is not a scan.
Study_Scan Read_Scan_File(const std::string& path);

// One input of the plan; its position in the plan is its SAMPLE_ID.
struct Plan_Input {
  std::string sample_name;
  std::string folder;
  std::string name;
  std::uint64_t size = 0;
  std::string xxh3_128;
  std::uint64_t peaks = 0;
};

// Shard k holds the masses m with cuts[k - 1] <= m < cuts[k] (no lower bound
// for the first, no upper for the last); NaN masses go to the first.
struct Plan_Shard {
  std::optional<double> mass_from;
  std::optional<double> mass_to;
  std::uint64_t peaks = 0;
};

struct Study_Plan {
  Alignment_Request options;  // files and result_folder unused
  std::vector<Plan_Input> inputs;
  std::optional<Rt_Correction> correction;
  std::vector<double> cuts;  // ascending; shards = cuts + 1
  std::vector<Plan_Shard> shards;
  std::uint64_t pieces = 0;  // independent pieces of the mass axis found
  std::string id;            // XXH3-128 of the plan file's bytes; set by Write/Read_Plan_File

  // The shard of a mass.
  std::uint32_t Shard_Of(double mass) const;
};

// True when the alignment's member choice needs spreads of the whole study:
// --pick scored (the scored choice's spreads) or --join-splits (the time
// spread bounds a join). Its shards are then aligned in two rounds: each
// shard's deviations (Shard_Deviations), the study's spreads pooled from them
// all (Pool_Spreads), then each shard with those spreads (Align_Shard).
bool Needs_Study_Spreads(const Alignment_Request& options);
// kPlanSchemaVersionWithChoice when Needs_Study_Spreads, else kPlanSchemaVersion.
int Plan_Schema_Version(const Alignment_Request& options);

// Merges the scans (inputs in the order given: SAMPLE_ID = position), fits
// the drift correction when options.rt_correction, cuts the mass axis and
// packs its pieces into at most `shards` shards of about equal peak counts.
// Says on `notes` when the masses leave room for fewer shards. Throws
// std::runtime_error naming a scan made with other options.
Study_Plan Make_Plan(const std::vector<std::string>& scan_paths, const Alignment_Request& options,
                     std::uint32_t shards, std::ostream& notes);

// Writes Join_Path(folder, kPlanFileName) atomically and sets plan.id.
void Write_Plan_File(const std::string& folder, Study_Plan& plan);
// Throws std::runtime_error "<path>: ..." for a missing or malformed plan.
Study_Plan Read_Plan_File(const std::string& folder);

#endif  // VARNEL_COHORT_STUDY_PLAN_H_
