#include "export/export_result.h"

#include <filesystem>
#include <stdexcept>

#include "export/export_job.h"

Result_File_Groups::Result_File_Groups(const std::string& path, Result_Columns columns)
    : result_(path), groups_(result_.Groups(columns)) {  // checks the columns
  if (!result_.Has_Peaks()) throw std::runtime_error(path + ": the result holds no peaks");
  if (!result_.Has_Aligned_Peaks()) {
    throw std::runtime_error(path + ": the result holds no aligned peaks (Align_ID 1 or more)");
  }
  samples_ = result_.Samples();
  if (std::optional<std::vector<Rt_Shift_Point>> points = result_.Read_Rt_Correction()) {
    correction_.emplace(std::move(*points));
  }
}

void Export_Groups(Group_Stream& stream, const Export_Options& options,
                   const std::string& out_path) {
  const Export_Format_Info& format = Format_Info(options.format);
  std::optional<std::vector<std::string>> groups;
  if (options.groups && format.sample_sheet != Sheet_Use::kIgnored) {
    groups = Groups_Of(stream.Samples(), *options.groups);
  }
  Export_File out(out_path);
  Export_Job job{stream, stream.Samples(), groups, stream.Correction(), options, out_path, out};
  format.write(job);
  out.Commit();
}

void Check_Export_Options(const Export_Options& options, const std::string& out_path,
                          const std::string& input) {
  const Export_Format_Info& format = Format_Info(options.format);
  if (format.sample_sheet == Sheet_Use::kRequired && !options.groups) {
    throw std::runtime_error(Sample_Sheet_Needed(
        format, "a sample sheet (CSV sample,group) giving each sample's group"));
  }
  // Writing over an input would lose it.
  for (const std::string* in : {&input, options.groups ? &options.groups->path : nullptr}) {
    std::error_code error;
    if (in && std::filesystem::equivalent(*in, out_path, error)) {
      throw std::runtime_error(out_path + ": is an input of the export; choose another file");
    }
  }
}

void Export_Result(const std::string& result_path, const Export_Options& options,
                   const std::string& out_path) {
  Check_Export_Options(options, out_path, result_path);
  Result_File_Groups stream(result_path, Format_Info(options.format).columns);
  Export_Groups(stream, options, out_path);
}
