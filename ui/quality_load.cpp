#include "ui/quality_load.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <numeric>
#include <unordered_map>

#include "model/interpolate.h"
#include "storage/aligned_result.h"

namespace Varnel {

namespace {

// The columns the figures need, read once.
constexpr Result_Columns kFigureColumns = {"SAMPLE_ID",
                                           "SAMPLE_NAME",
                                           "Align_ID",
                                           "Compound_ID",
                                           "Compound_MolecularMass",
                                           "Compound_Retention_Time",
                                           "Compound_Intensity",
                                           "Apex_MZ",
                                           "Align_RT"};
constexpr std::size_t kSampleId = Column_Of("SAMPLE_ID");
constexpr std::size_t kSampleName = Column_Of("SAMPLE_NAME");
constexpr std::size_t kAlignId = Column_Of("Align_ID");
constexpr std::size_t kCompoundId = Column_Of("Compound_ID");
constexpr std::size_t kMass = Column_Of("Compound_MolecularMass");
constexpr std::size_t kRt = Column_Of("Compound_Retention_Time");
constexpr std::size_t kIntensity = Column_Of("Compound_Intensity");
constexpr std::size_t kAlignRt = Column_Of("Align_RT");
constexpr std::size_t kMz = Column_Of("Apex_MZ");
constexpr std::size_t kProgressRows = 1 << 16;

void Read_Peaks(Aligned_Result& result, Quality_Rows& raw, const Quality_Options& options) {
  Result_Rows rows = result.Scan(kFigureColumns);
  std::unordered_map<std::int64_t, std::uint32_t> index_of;
  std::int64_t last_id = 0;
  std::uint32_t last_index = std::numeric_limits<std::uint32_t>::max();
  while (rows.Next()) {
    const std::int64_t sample_id = rows.Int(kSampleId);
    if (last_index == std::numeric_limits<std::uint32_t>::max() || sample_id != last_id) {
      auto [it, added] =
          index_of.try_emplace(sample_id, static_cast<std::uint32_t>(index_of.size()));
      if (added) {
        Quality_Sample_Rows sample;
        sample.sample_id = sample_id;
        sample.name = std::string(rows.Text(kSampleName));
        raw.samples.push_back(std::move(sample));
      }
      last_id = sample_id;
      last_index = it->second;
    }
    if (++raw.peaks % kProgressRows == 0 && options.progress && !options.progress(raw.peaks))
      throw Quality_Cancelled();
    Quality_Sample_Rows& sample = raw.samples[last_index];
    ++sample.peaks_read;
    const std::int64_t align_id = rows.Int(kAlignId);
    if (align_id == 0) {
      ++raw.unaligned;
      continue;
    }
    ++sample.peaks_aligned;
    raw.rows.push_back(Quality_Member_Row{
        static_cast<std::uint32_t>(align_id), last_index, rows.Int(kCompoundId), rows.Real(kMass),
        rows.Real(kRt), rows.Real(kIntensity), rows.Real(kAlignRt), rows.Real(kMz)});
  }
}

void Read_Extras(Aligned_Result& result, Quality_Rows& raw) {
  if (const auto points = result.Read_Rt_Correction()) {
    for (const Rt_Shift_Point& p : *points) {
      if (!std::isfinite(p.rt) || !std::isfinite(p.shift)) continue;
      Rt_Correction& c = raw.corrections[p.sample];
      c.rt.push_back(p.rt);
      c.shift.push_back(p.shift);
    }
  }
  if (const auto points = result.Read_Rt_Anchors()) {
    raw.has_anchors = true;
    for (const Rt_Shift_Point& p : *points) {
      if (!std::isfinite(p.rt) || !std::isfinite(p.shift)) continue;
      raw.anchors[p.sample].push_back({p.rt, p.shift});
    }
  }
  raw.member_choice = result.Read_Member_Choice();
  if (auto samples = result.Read_Gross_Shift_Not_Applied())
    raw.gross_shift_not_applied = std::move(*samples);
  Run_Record_Text run = result.Read_Run_Record_Text();
  raw.has_run = run.has_items;
  raw.run_items = std::move(run.items);
  if (run.has_inputs) {
    raw.run_inputs.push_back(std::move(run.input_columns));
    for (std::vector<std::string>& row : run.inputs) raw.run_inputs.push_back(std::move(row));
  }
}

Quality_Rows Read_Result_Rows(const std::string& path, const Quality_Options& options) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) throw Quality_Error(path + ": no such file");
  Quality_Rows raw;
  try {
    Aligned_Result result(path);
    Read_Peaks(result, raw, options);
    Read_Extras(result, raw);
  } catch (const Aligned_Result_Error& e) {
    throw Quality_Error(e.what());
  }
  if (raw.peaks == 0) throw Quality_Error(path + ": the result holds no peaks");
  return raw;
}

// Sorts the samples by SAMPLE_ID and renumbers the rows' sample indexes.
void Order_Samples(Quality_Rows& raw) {
  std::vector<std::uint32_t> order(raw.samples.size());
  std::iota(order.begin(), order.end(), 0U);
  std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
    return raw.samples[a].sample_id < raw.samples[b].sample_id;
  });
  std::vector<std::uint32_t> new_index(order.size());
  std::vector<Quality_Sample_Rows> by_id;
  by_id.reserve(order.size());
  for (std::uint32_t i = 0; i < order.size(); ++i) {
    new_index[order[i]] = i;
    by_id.push_back(std::move(raw.samples[order[i]]));
  }
  raw.samples = std::move(by_id);
  for (Quality_Member_Row& row : raw.rows) row.sample = new_index[row.sample];
}

}  // namespace

Quality_Rows Read_Quality_Rows(const std::string& path, const Quality_Options& options) {
  Quality_Rows raw = Read_Result_Rows(path, options);
  Order_Samples(raw);
  return raw;
}

double Rt_Correction::Shift(double at) const { return Interpolate(rt, shift, at); }

}  // namespace Varnel
