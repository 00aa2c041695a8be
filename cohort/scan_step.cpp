// The scan step: each input's mass bins (and anchors), one input in memory
// at a time.
#include "cohort/shard_steps.h"
#include "cohort/study_plan.h"
#include "run/file_hash.h"
#include "run/study_reader.h"

void Scan_Inputs(const Alignment_Request& options, const std::string& out_path) {
  const Mass_Binning binning(options.Mass_Tol);
  Study_Scan scan;
  scan.options = options;
  scan.options.files.clear();
  scan.options.result_folder.clear();
  // The member choice changes nothing a scan holds: it is the plan's.
  scan.options.pick = Member_Pick::kClosest;
  scan.options.join_splits = false;
  // One input in memory at a time: a workflow runs several scans side by side.
  Read_Study(options.files, 1, true, [&](std::size_t i, Study_File& file) {
    Input_Scan in = Scan_Peaks(file.batch.peaks, binning, options.rt_correction);
    in.folder = options.files[i].folder;
    in.name = options.files[i].name;
    in.size = file.digest->size;
    in.xxh3_128 = file.digest->xxh3_128;
    scan.inputs.push_back(std::move(in));
  });
  Write_Scan_File(out_path, scan);
}
