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

std::vector<std::string> Export_Groups(Group_Stream& stream, const Export_Options& options,
                                       const std::string& out_path,
                                       const Group_Stream_Factory& first_pass) {
  const Export_Format_Info& format = Format_Info(options.format);
  const std::vector<Result_Sample>& samples = stream.Samples();
  std::optional<std::vector<std::string>> groups;
  if (options.groups && format.sample_sheet != Sheet_Use::kIgnored) {
    groups = Groups_Of(samples, *options.groups);
  }
  std::optional<Signal_Export> signal_export;
  if (options.signal.Active()) {
    Signal_Correction corrector(Make_Signal_Design(samples, *options.groups, options.signal),
                                options.signal);
    if (corrector.Needs_First_Pass()) {
      if (!first_pass) throw std::logic_error("Export_Groups: the correction needs a first pass");
      const std::unique_ptr<Group_Stream> first = first_pass();
      const Sample_Columns columns(samples);
      Result_Group group;
      Group_Rows pointers;
      std::vector<double> values;
      std::vector<char> present;
      while (first->Next(group)) {
        pointers.clear();
        for (const Group_Row& r : group.records) pointers.push_back(&r);
        Quantities(pointers, options.quantity, columns, values, present,
                   [](const Group_Row&) { return true; });
        corrector.Observe(values);
      }
    }
    corrector.Prepare();
    signal_export.emplace(std::move(corrector), out_path);
  }
  Export_File out(out_path);
  Export_Job job{stream,  samples,  groups, stream.Correction(),
                 options, out_path, out,    signal_export ? &*signal_export : nullptr};
  format.write(job);
  out.Commit();
  if (!signal_export) return {};
  signal_export->record.Commit();
  return signal_export->Notes();
}

void Check_Export_Options(const Export_Options& options, const std::string& out_path,
                          const std::string& input) {
  const Export_Format_Info& format = Format_Info(options.format);
  if (format.sample_sheet == Sheet_Use::kRequired && !options.groups) {
    throw std::runtime_error(Sample_Sheet_Needed(
        format, "a sample sheet (CSV sample,group) giving each sample's group"));
  }
  const bool signal = options.signal.Active();
  if (signal && !options.groups) {
    throw std::runtime_error(
        "the QC correction and filters need a sample sheet (--groups) marking the QCs");
  }
  // Writing over an input would lose it.
  for (const std::string* in : {&input, options.groups ? &options.groups->path : nullptr}) {
    std::error_code error;
    if (in && std::filesystem::equivalent(*in, out_path, error)) {
      throw std::runtime_error(out_path + ": is an input of the export; choose another file");
    }
  }
}

std::vector<std::string> Export_Result(const std::string& result_path,
                                       const Export_Options& options, const std::string& out_path) {
  Check_Export_Options(options, out_path, result_path);
  Result_File_Groups stream(result_path, Format_Info(options.format).columns);
  return Export_Groups(stream, options, out_path, [&result_path] {
    return std::make_unique<Result_File_Groups>(result_path, kGroupColumns);
  });
}
