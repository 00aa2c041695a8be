#include "run/alignment_request.h"

#include <cmath>

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

std::optional<std::string> Check_Alignment_Files(const std::vector<Annotated_File>& files) {
  if (files.empty()) return std::string(kNoFileMessage);
  return std::nullopt;
}
