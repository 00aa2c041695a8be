// The plan step: the scans merged, the drift correction fitted, the mass axis
// cut and packed into shards.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "cohort/study_plan.h"
#include "run/alignment_request.h"
#include "run/alignment_run.h"
#include "storage/path.h"

namespace {

// The options a scan's contents depend on: the tolerance (bins) and whether
// anchors were kept.
void Check_Scan_Options(const std::string& path, const Study_Scan& scan,
                        const Alignment_Request& options) {
  if (scan.options.Mass_Tol != options.Mass_Tol) {
    throw std::runtime_error(path +
                             ": scanned with another mass tolerance; scan again with the "
                             "plan's options");
  }
  if (options.rt_correction && !scan.options.rt_correction) {
    throw std::runtime_error(path +
                             ": scanned without --rt-correction, so it holds no anchors for the "
                             "drift correction; scan again with it");
  }
}

}  // namespace

Study_Plan Make_Plan(const std::vector<std::string>& scan_paths, const Alignment_Request& options,
                     std::uint32_t shards, std::ostream& notes) {
  Study_Plan plan;
  plan.options = options;
  plan.options.files.clear();
  plan.options.result_folder.clear();
  const Mass_Tolerance& tolerance = options.Mass_Tol;
  const Mass_Binning binning(tolerance);
  std::map<std::int64_t, std::uint64_t> bins;
  std::uint64_t low = 0, high = 0, unbounded = 0;
  std::vector<Align_Key> anchor_keys;
  std::vector<std::string> input_paths;  // of every scan, to find one input scanned twice
  for (const std::string& path : scan_paths) {
    Study_Scan scan = Read_Scan_File(path);
    Check_Scan_Options(path, scan, options);
    for (const Input_Scan& in : scan.inputs) input_paths.push_back(Join_Path(in.folder, in.name));
    if (const std::optional<std::string> refusal = Check_Distinct_Inputs(input_paths)) {
      throw std::runtime_error(path + ": " + *refusal);
    }
    for (Input_Scan& in : scan.inputs) {
      const auto sample = static_cast<std::uint32_t>(plan.inputs.size());
      plan.inputs.push_back({Sample_Name_Of(in.name), std::move(in.folder), std::move(in.name),
                             in.size, std::move(in.xxh3_128), in.peaks});
      low += in.low;
      high += in.high;
      unbounded += in.unbounded;
      for (const auto& [bin, count] : in.bins) bins[bin] += count;
      if (options.rt_correction) {
        for (const Scan_Anchor& a : in.anchors) {
          Align_Key& key = anchor_keys.emplace_back();
          key.Compound_ID = a.compound_id;
          key.Compound_MolecularMass = a.mass;
          key.Compound_Retention_Time = a.rt;
          key.Compound_Intensity = a.intensity;
          key.SAMPLE_ID = sample;
        }
      }
    }
  }

  if (options.rt_correction) {
    plan.correction = Fit_Rt_Correction(anchor_keys, Drift_Correction_Params(options));
    for (Rt_Sample_Curve& curve : plan.correction->samples) {
      curve.name = plan.inputs[curve.sample].sample_name;
    }
    std::vector<Align_Key>().swap(anchor_keys);
  }

  // The pieces of the mass axis, and the peaks below each gap between them.
  struct Gap {
    double cut;
    std::uint64_t below;
  };
  std::vector<Gap> gaps;
  std::uint64_t total = low;
  std::optional<std::int64_t> last;
  for (const auto& [bin, count] : bins) {
    if (last && unbounded == 0 && binning.Gap_Bins() > 0 && bin - *last - 1 >= binning.Gap_Bins()) {
      gaps.push_back({binning.Mass_At(static_cast<double>(*last + 1 + bin) * 0.5), total});
    }
    total += count;
    last = bin;
  }
  total += high;
  plan.pieces = bins.empty() ? 0 : gaps.size() + 1;

  // Cut at the gaps nearest to k x total / shards, k = 1 .. shards - 1.
  shards = std::max<std::uint32_t>(shards, 1);
  std::size_t next = 0;  // first gap still free
  for (std::uint32_t k = 1; k < shards && next < gaps.size(); ++k) {
    const double target = static_cast<double>(total) * k / shards;
    auto at = std::partition_point(gaps.begin() + static_cast<std::ptrdiff_t>(next), gaps.end(),
                                   [&](const Gap& g) { return g.below < target; });
    std::size_t g = static_cast<std::size_t>(at - gaps.begin());
    if (g == gaps.size() ||
        (g > next && target - gaps[g - 1].below <= static_cast<double>(gaps[g].below) - target)) {
      --g;
    }
    plan.cuts.push_back(gaps[g].cut);
    next = g + 1;
  }
  std::uint64_t below = 0;
  std::size_t gap = 0;
  for (std::size_t k = 0; k <= plan.cuts.size(); ++k) {
    Plan_Shard shard;
    if (k > 0) shard.mass_from = plan.cuts[k - 1];
    std::uint64_t upto = total;
    if (k < plan.cuts.size()) {
      shard.mass_to = plan.cuts[k];
      while (gaps[gap].cut != plan.cuts[k]) ++gap;
      upto = gaps[gap].below;
    }
    shard.peaks = upto - below;
    below = upto;
    plan.shards.push_back(shard);
  }
  if (unbounded > 0) {
    notes << "varnel-align: " << unbounded
          << " peak(s) of infinite mass can seed a group over every mass with a ppm "
             "tolerance: the mass axis cannot be cut\n";
  }
  if (plan.shards.size() < shards) {
    notes << "varnel-align: the masses leave " << plan.pieces
          << " independent piece(s) (empty stretches wider than 2 x the mass tolerance): "
          << plan.shards.size() << " shard(s) instead of " << shards << "\n";
  }
  return plan;
}
