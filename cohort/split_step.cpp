// The split step: each input's rows into one part per shard.
#include <algorithm>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <system_error>
#include <unordered_map>
#include <utility>

#include "cohort/shard_files.h"
#include "cohort/shard_steps.h"
#include "run/file_hash.h"
#include "storage/annotated_reader.h"
#include "storage/path.h"
#include "storage/row_file.h"

namespace fs = std::filesystem;

void Split_Inputs(const std::string& plan_folder, const std::vector<std::string>& paths) {
  const Study_Plan plan = Read_Plan_File(plan_folder);
  // Which samples each path is, and whether it is still the file scanned.
  std::vector<std::pair<std::string, std::vector<std::uint32_t>>> work;
  std::unordered_multimap<std::string, std::uint32_t> by_path;
  for (std::uint32_t s = 0; s < plan.inputs.size(); ++s) {
    by_path.emplace(Input_Path(plan.inputs[s]), s);
  }
  for (const std::string& path : paths) {
    std::vector<std::uint32_t> samples;
    const auto [first, last] = by_path.equal_range(path);
    for (auto it = first; it != last; ++it) samples.push_back(it->second);
    if (samples.empty()) {  // the same file by another path
      for (std::uint32_t s = 0; s < plan.inputs.size(); ++s) {
        std::error_code error;
        if (fs::equivalent(Input_Path(plan.inputs[s]), path, error)) samples.push_back(s);
      }
    }
    std::sort(samples.begin(), samples.end());
    if (samples.empty()) {
      throw std::runtime_error(path + ": not an input of the plan " + Plan_Path(plan_folder));
    }
    const File_Digest digest = Digest_File(path);
    for (std::uint32_t s : samples) {
      const Plan_Input& in = plan.inputs[s];
      if (digest.size != in.size || digest.xxh3_128 != in.xxh3_128) {
        throw std::runtime_error(
            path + ": changed since it was scanned (" +
            (digest.size != in.size
                 ? std::to_string(digest.size) + " bytes, the plan says " + std::to_string(in.size)
                 : std::string("its XXH3-128 hash differs from the plan's")) +
            "); scan it and make the plan again");
      }
    }
    work.emplace_back(path, std::move(samples));
  }

  for (std::uint32_t k = 0; k < plan.shards.size(); ++k) Make_Folder(Part_Folder(plan_folder, k));
  Annotated_Batch batch;
  for (const auto& [path, samples] : work) {
    const Split_Path_Result where = Split_Path(path);
    Read_Annotated_Batch(where.folder, where.name, batch);
    for (std::uint32_t s : samples) {
      if (batch.peaks.size() != plan.inputs[s].peaks) {
        throw std::runtime_error(
            path + ": " + std::to_string(batch.peaks.size()) + " peaks where the plan counted " +
            std::to_string(plan.inputs[s].peaks) + "; scan it and make the plan again");
      }
      std::vector<std::unique_ptr<Row_File_Writer>> parts;
      for (std::uint32_t k = 0; k < plan.shards.size(); ++k) {
        parts.push_back(std::make_unique<Row_File_Writer>(Part_Folder(plan_folder, k), Part_Name(s),
                                                          Row_File_Kind::kPart, plan.id, s));
      }
      for (std::size_t i = 0; i < batch.peaks.size(); ++i) {
        const Chromatogram_Peak_Group_Compound& p = batch.peaks[i];
        parts[plan.Shard_Of(p.Compound_MolecularMass)]->Append(
            p, {s, static_cast<std::uint32_t>(i), 0, 0.0}, batch.Shape(i));
      }
      for (auto& part : parts) part->Commit();
      Write_Small_File(Split_Marker_Path(plan_folder, s), plan.id + "\n");
    }
  }
}
