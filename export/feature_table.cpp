// The feature table: one row per group, one column per sample.
#include "export/group_pass.h"
#include "storage/csv_field.h"

void Write_Feature_Table(Export_Job& job) {
  std::string& b = job.out.buffer();
  const bool corrected = job.correction != nullptr;
  b += corrected ? "Align_ID,Mass,Align_RT,RT_Min,RT_Max,RT_Min_Original,RT_Max_Original,"
                   "Adducts,Samples_Present"
                 : "Align_ID,Mass,Align_RT,RT_Min,RT_Max,Adducts,Samples_Present";
  for (const Result_Sample& s : job.samples) {
    b.push_back(',');
    Append_Csv_Field(s.shown, b);
  }
  b.push_back('\n');
  Group_Pass pass(job);
  std::string adducts;
  while (pass.Next()) {
    const Export_Group& g = pass.group();
    const Group_Summary& s = g.summary;
    Append_Unsigned(g.align_id, b);
    b.push_back(',');
    Append_Number(s.mass, b);
    b.push_back(',');
    Append_Number(s.align_rt, b);
    b.push_back(',');
    if (corrected) {
      Append_Number(s.rt_min_corrected, b);
      b.push_back(',');
      Append_Number(s.rt_max_corrected, b);
      b.push_back(',');
    }
    Append_Number(s.rt_min, b);
    b.push_back(',');
    Append_Number(s.rt_max, b);
    b.push_back(',');
    adducts.clear();
    for (const std::string& a : s.adducts) {
      if (a.empty()) continue;
      if (!adducts.empty()) adducts.push_back(';');
      adducts += a;
    }
    Append_Csv_Field(adducts, b);
    b.push_back(',');
    Append_Unsigned(g.samples_present, b);
    for (double v : g.values) {
      b.push_back(',');
      Append_Number(v, b);
    }
    b.push_back('\n');
    job.out.Flush_If_Full();
  }
}
