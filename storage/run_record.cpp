#include "storage/run_record.h"

#include <cmath>

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
  if (r.member_choice) {
    const Member_Choice_Record& c = *r.member_choice;
    line("Member choice:       ", c.pick);
    if (c.pick == "scored") {
      line("Spreads:             ",
           Run_Number_Text(c.spread_rt) + " s, " + Run_Number_Text(c.spread_mass) +
               (c.spread_mass_ppm ? " ppm, " : " Da, ") + Run_Number_Text(c.spread_log_intensity) +
               " log10 intensity (" + std::to_string(c.spread_groups) + " groups)");
    }
    line("Split groups joined: ", c.join_splits ? std::to_string(c.joins) : std::string("off"));
  }
  out += "\nInputs (" + std::to_string(r.inputs.size()) + "):\n";
  for (const Run_Input& in : r.inputs) {
    out += "  SAMPLE_ID " + std::to_string(in.sample_id) + "  " + in.sample_name + "\n";
    out += "    " + Join_Path(in.folder, in.file_name) + "\n";
    out += "    " + std::to_string(in.size) + " bytes, XXH3-128 " + in.xxh3_128 + ", " +
           std::to_string(in.peaks_read) + " peaks read\n";
  }
  return out;
}

namespace {

bool Same(double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); }

}  // namespace

bool operator==(const Member_Choice_Record& a, const Member_Choice_Record& b) {
  return a.pick == b.pick && a.join_splits == b.join_splits && Same(a.spread_rt, b.spread_rt) &&
         Same(a.spread_mass, b.spread_mass) && a.spread_mass_ppm == b.spread_mass_ppm &&
         Same(a.spread_log_intensity, b.spread_log_intensity) &&
         a.spread_groups == b.spread_groups && a.joins == b.joins;
}

std::vector<std::pair<std::string, std::string>> Member_Choice_Items(
    const Member_Choice_Record& c) {
  return {{"pick", c.pick},
          {"join_splits", c.join_splits ? "on" : "off"},
          {"spread_rt", Run_Number_Text(c.spread_rt)},
          {c.spread_mass_ppm ? "spread_mass_ppm" : "spread_mass", Run_Number_Text(c.spread_mass)},
          {"spread_log_intensity", Run_Number_Text(c.spread_log_intensity)},
          {"spread_groups", std::to_string(c.spread_groups)},
          {"joins", std::to_string(c.joins)}};
}
