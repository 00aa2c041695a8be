// MetaboAnalyst's peak-intensity table: samples in columns, a "Label" row of
// their groups, one row per group named by its mass and retention time.
#include <unordered_set>

#include "export/group_pass.h"
#include "storage/csv_field.h"

void Write_MetaboAnalyst(Export_Job& job) {
  std::string& b = job.out.buffer();
  b += "Sample";
  for (const Result_Sample& s : job.samples) {
    b.push_back(',');
    Append_Csv_Field(s.shown, b);
  }
  b += "\nLabel";
  for (const std::string& g : *job.groups) {
    b.push_back(',');
    Append_Csv_Field(g, b);
  }
  b.push_back('\n');
  Group_Pass pass(job);
  std::unordered_set<std::string> names;
  std::string name;
  while (pass.Next()) {
    const Export_Group& g = pass.group();
    const Group_Summary& s = g.summary;
    name.clear();
    Append_Fixed(s.mass, 4, name);
    name.push_back('_');
    Append_Fixed(s.align_rt, 2, name);
    if (!names.insert(name).second) {
      name.push_back('_');
      Append_Unsigned(g.align_id, name);
    }
    Append_Csv_Field(name, b);
    for (double v : g.values) {
      b.push_back(',');
      Append_Number(v, b);
    }
    b.push_back('\n');
    job.out.Flush_If_Full();
  }
}
