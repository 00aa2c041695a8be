#include "export/export_result.h"

#include <filesystem>
#include <stdexcept>

#include "export/export_job.h"

std::vector<std::string> Export_Result(const std::string& result_path,
                                       const Export_Options& options, const std::string& out_path) {
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
  for (const std::string* input :
       {&result_path, options.groups ? &options.groups->path : nullptr}) {
    std::error_code error;
    if (input && std::filesystem::equivalent(*input, out_path, error)) {
      throw std::runtime_error(out_path + ": is an input of the export; choose another file");
    }
  }
  Aligned_Result result(result_path);
  Result_Groups rows = result.Groups(format.columns);  // checks the columns
  if (!result.Has_Peaks()) throw std::runtime_error(result_path + ": the result holds no peaks");
  if (!result.Has_Aligned_Peaks()) {
    throw std::runtime_error(result_path +
                             ": the result holds no aligned peaks (Align_ID 1 or more)");
  }
  const std::vector<Result_Sample> samples = result.Samples();
  std::optional<std::vector<std::string>> groups;
  if (options.groups && format.sample_sheet != Sheet_Use::kIgnored) {
    groups = Groups_Of(samples, *options.groups);
  }
  std::optional<Rt_Shift_Curves> correction;
  if (std::optional<std::vector<Rt_Shift_Point>> points = result.Read_Rt_Correction()) {
    correction.emplace(std::move(*points));
  }
  std::optional<Signal_Export> signal_export;
  if (signal) {
    Signal_Correction corrector(Make_Signal_Design(samples, *options.groups, options.signal),
                                options.signal);
    if (corrector.Needs_First_Pass()) {
      Result_Groups first = result.Groups(kGroupColumns);
      const Sample_Columns columns(samples);
      Result_Group group;
      Group_Rows pointers;
      std::vector<double> values;
      std::vector<char> present;
      while (first.Next(group)) {
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
  Export_Job job{result,
                 rows,
                 samples,
                 groups,
                 correction ? &*correction : nullptr,
                 options,
                 out_path,
                 out,
                 signal_export ? &*signal_export : nullptr};
  format.write(job);
  out.Commit();
  if (!signal_export) return {};
  signal_export->record.Commit();
  return signal_export->Notes();
}
