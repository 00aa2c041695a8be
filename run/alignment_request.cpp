#include "run/alignment_request.h"

#include <sys/stat.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <utility>

#include "storage/path.h"

std::string Sample_Name_Of(std::string_view file_name) {
  const std::size_t at = file_name.find(kAnnotatedSuffix);
  return std::string(at == std::string_view::npos ? file_name : file_name.substr(0, at));
}

std::string Default_Result_Folder(const std::string& data_folder) {
  return Join_Path(data_folder, kResultFolderName);
}

namespace {

// A tolerance or window: finite and not negative.
std::optional<double> Valid(const Number_Reader& read, const std::string& text) {
  const std::optional<double> value = read(text);
  if (!value || !std::isfinite(*value) || *value < 0.0) return std::nullopt;
  return value;
}

}  // namespace

Checked_Parameters Check_Alignment_Parameters(const Alignment_Parameter_Texts& texts,
                                              const Number_Reader& read) {
  Checked_Parameters checked;
  const std::optional<double> window2 = Valid(read, texts.window2);
  if (texts.mode == Two_Phase_Align && !window2) {
    checked.refusal = kInvalidWindow2Message;
    return checked;
  }
  const std::optional<double> mass_value = read(texts.mass_tol);
  const Mass_Tolerance mass_tol{texts.mass_tol_unit, mass_value.value_or(-1.0)};
  if (!mass_value || !mass_tol.Is_Valid()) {
    checked.refusal = kInvalidMassTolMessage;
    return checked;
  }
  const std::optional<double> window1 = Valid(read, texts.window1);
  if (!window1) {
    checked.refusal = kInvalidWindow1Message;
    return checked;
  }
  checked.Mass_Tol = mass_tol;
  checked.Align_Window1 = *window1;
  checked.Align_Window2 = window2.value_or(kFastModeFallbackWindow2);
  return checked;
}

Built_Alignment_Request Build_Alignment_Request(const Alignment_Form& form,
                                                const Number_Reader& read) {
  Built_Alignment_Request built;
  const Checked_Parameters checked = Check_Alignment_Parameters(form.numbers, read);
  if (checked.refusal) {
    built.refusal = checked.refusal;
    return built;
  }
  Alignment_Request& request = built.request;
  request.mode = form.numbers.mode;
  request.Mass_Tol = checked.Mass_Tol;
  request.Align_Window1 = checked.Align_Window1;
  request.Align_Window2 = checked.Align_Window2;
  request.files = form.files;
  request.result_folder = form.result_folder;
  request.rt_correction = form.rt_correction;
  request.record_run = form.record_run;
  request.pick = form.pick;
  request.join_splits = form.join_splits;
  request.threads = form.threads;
  return built;
}

std::optional<std::string> Check_Alignment_Files(const std::vector<Annotated_File>& files) {
  if (files.empty()) return std::string(kNoFileMessage);
  std::vector<std::string> paths;
  paths.reserve(files.size());
  for (const Annotated_File& file : files) paths.push_back(Join_Path(file.folder, file.name));
  return Check_Distinct_Inputs(paths);
}

std::optional<std::string> Check_Distinct_Inputs(const std::vector<std::string>& paths) {
  std::map<std::pair<dev_t, ino_t>, std::size_t> files;
  std::map<std::string, std::size_t> texts;
  for (std::size_t i = 0; i < paths.size(); ++i) {
    struct stat st {};
    std::optional<std::size_t> earlier;
    if (::stat(paths[i].c_str(), &st) == 0) {
      const auto [at, added] = files.emplace(std::make_pair(st.st_dev, st.st_ino), i);
      if (!added) earlier = at->second;
    } else {
      const std::string text = std::filesystem::path(paths[i]).lexically_normal().string();
      const auto [at, added] = texts.emplace(text, i);
      if (!added) earlier = at->second;
    }
    if (earlier) {
      return paths[*earlier] + " and " + paths[i] + " are the same file; give each input once";
    }
  }
  return std::nullopt;
}
