// What a format's writer (export/formats.h) is handed: the stream of groups
// (an .aligndb or a cohort's shards), its samples, the options and the output
// file.
#ifndef VARNEL_EXPORT_EXPORT_JOB_H_
#define VARNEL_EXPORT_EXPORT_JOB_H_

#include <optional>
#include <string>
#include <vector>

#include "export/export_result.h"
#include "export/group_stream.h"
#include "export/output_file.h"
#include "export/signal_correction.h"
#include "storage/aligned_result.h"
#include "storage/rt_shift_curves.h"

struct Export_Job {
  // The groups, at the first one, with the format's columns; read through
  // Group_Pass (export/group_pass.h).
  Group_Stream& stream;
  const std::vector<Result_Sample>& samples;
  // The group of each sample (Groups_Of) when the format uses the sheet and
  // the options give one.
  const std::optional<std::vector<std::string>>& groups;
  // The result's drift correction, null without one: Align_RT is then on
  // the corrected scale and the other time columns follow it.
  const Rt_Shift_Curves* correction;
  const Export_Options& options;
  const std::string& out_path;
  Export_File& out;  // committed by the caller after the writer returns
  // The QC correction and filters, null when none is asked (the values are
  // then those of the result, byte for byte).
  Signal_Export* signal = nullptr;
};

#endif  // VARNEL_EXPORT_EXPORT_JOB_H_
