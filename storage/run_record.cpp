#include "storage/run_record.h"

#include <charconv>
#include <string_view>

#include "storage/path.h"

std::string Run_Number_Text(double value) {
  char buf[64];
  return std::string(buf, std::to_chars(buf, buf + sizeof buf, value).ptr);
}

std::string Format_Run_Record(const Run_Record& r) {
  std::string out;
  auto line = [&out](std::string_view label, const std::string& value) {
    out.append(label).append(value).push_back('\n');
  };
  line("Program:             ", r.program + (r.version.empty() ? "" : " " + r.version));
  line("Mode:                ", r.mode);
  line("Mass tolerance:      ", r.mass_tol.Text());
  line("Fast_Align window:   ", Run_Number_Text(r.fast_window) + " s");
  line("Deep_Align window:   ", Run_Number_Text(r.deep_window) + " s");
  line("RT drift correction: ", r.rt_correction ? "on" : "off");
  line("Samples:             ", std::to_string(r.samples));
  line("Peaks:               ", std::to_string(r.peaks));
  line("Groups:              ", std::to_string(r.groups));
  line("Unaligned peaks:     ", std::to_string(r.unaligned));
  out += "\nInputs (" + std::to_string(r.inputs.size()) + "):\n";
  for (const Run_Input& in : r.inputs) {
    out += "  SAMPLE_ID " + std::to_string(in.sample_id) + "  " + in.sample_name + "\n";
    out += "    " + Join_Path(in.folder, in.file_name) + "\n";
    out += "    " + std::to_string(in.size) + " bytes, XXH3-128 " + in.xxh3_128 + ", " +
           std::to_string(in.peaks_read) + " peaks read\n";
  }
  return out;
}
