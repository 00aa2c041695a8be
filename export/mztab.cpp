// mzTab-M 2.0.0-M: the metadata (MTD), one small molecule (SML) per group and
// one feature (SMF) per group and adduct text.
#include <charconv>
#include <map>
#include <set>

#include "export/group_pass.h"
#include "storage/path.h"

namespace {

// An mzTab cell: tabs and line breaks become spaces; empty text is "null".
void Append_Cell(std::string_view text, std::string& out) {
  if (text.empty()) {
    out += "null";
    return;
  }
  for (char c : text) out.push_back(c == '\t' || c == '\r' || c == '\n' ? ' ' : c);
}

void Append_Cell_Number(double value, std::string& out) {
  const std::size_t before = out.size();
  Append_Number(value, out);
  if (out.size() == before) out += "null";
}

// The charge of an adduct text such as "[M+2Na]2+" (2) or "[M-H]-" (1): the
// digits between the closing bracket and the final sign; 1 when there are none
// or the text has no such ending.
int Charge_Of(std::string_view adduct) {
  const auto bracket = adduct.rfind(']');
  if (bracket == std::string_view::npos || adduct.empty()) return 1;
  const char sign = adduct.back();
  if (sign != '+' && sign != '-') return 1;
  const std::string_view digits = adduct.substr(bracket + 1, adduct.size() - bracket - 2);
  int charge = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), charge);
  if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() ||
      charge < 1) {
    return 1;
  }
  return charge;
}

// '+', '-' or 0 for an adduct text with no sign at its end.
char Polarity_Of(std::string_view adduct) {
  if (adduct.empty() || adduct.find(']') == std::string_view::npos) return 0;
  return adduct.back() == '+' || adduct.back() == '-' ? adduct.back() : 0;
}

// file:// URI of an absolute path, every byte outside [A-Za-z0-9/._~-]
// percent-encoded; "null" for a relative path.
std::string File_Uri(const std::string& path) {
  if (path.empty() || path[0] != '/') return "null";
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string uri = "file://";
  for (unsigned char c : path) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '/' ||
        c == '.' || c == '_' || c == '~' || c == '-') {
      uri.push_back(static_cast<char>(c));
    } else {
      uri.push_back('%');
      uri.push_back(kHex[c >> 4]);
      uri.push_back(kHex[c & 0xF]);
    }
  }
  return uri;
}

const char* Unit_Of(Export_Quantity quantity, bool feature) {
  switch (quantity) {
    case Export_Quantity::kCompound:
      return feature ? "[,,Apex_Intensity,]" : "[,,Compound_Intensity,]";
    case Export_Quantity::kArea:
      return "[,,Peak_Area,]";
    case Export_Quantity::kHeight:
      break;
  }
  return "[,,Apex_Intensity,]";
}

struct Study_Variable {
  std::string name;
  std::vector<std::size_t> assays;  // 0-based assay (sample column) numbers
};

std::vector<Study_Variable> Study_Variables(const std::vector<Result_Sample>& samples,
                                            const std::optional<std::vector<std::string>>& groups) {
  std::vector<Study_Variable> variables;
  if (!groups) {
    variables.push_back({"undefined", {}});
    for (std::size_t i = 0; i < samples.size(); ++i) variables[0].assays.push_back(i);
    return variables;
  }
  std::map<std::string, std::size_t> index;  // in order of first appearance
  for (std::size_t i = 0; i < groups->size(); ++i) {
    auto [it, added] = index.emplace((*groups)[i], variables.size());
    if (added) variables.push_back({(*groups)[i], {}});
    variables[it->second].assays.push_back(i);
  }
  return variables;
}

void Write_Metadata(Export_Job& job, const std::vector<Study_Variable>& variables,
                    const std::set<std::string>& adducts) {
  const std::vector<Result_Sample>& samples = job.samples;
  const Export_Options& options = job.options;
  std::string& b = job.out.buffer();
  auto item = [&b](std::string_view key, std::string_view value) {
    b += "MTD\t";
    b += key;
    b.push_back('\t');
    Append_Cell(value, b);
    b.push_back('\n');
  };
  auto indexed = [](const char* what, std::size_t i) {
    return std::string(what) + "[" + std::to_string(i + 1) + "]";
  };
  std::string id = Split_Path(job.stream.Result_Name()).name;
  if (const auto dot = id.rfind('.'); dot != std::string::npos && dot > 0) id.resize(dot);
  item("mzTab-version", "2.0.0-M");
  item("mzTab-ID", id);
  item("software[1]", "[,,Varnel," + options.software_version + "]");
  item("quantification_method", "[MS, MS:1001834, LC-MS label-free quantitation analysis, ]");

  bool positive = false;
  bool negative = false;
  for (const std::string& a : adducts) {
    positive |= Polarity_Of(a) == '+';
    negative |= Polarity_Of(a) == '-';
  }
  if (!negative) positive = true;  // also when no adduct tells
  std::map<std::uint32_t, Run_Input> inputs;
  if (const std::optional<Run_Record> record = job.stream.Record()) {
    for (const Run_Input& in : record->inputs) inputs[in.sample_id] = in;
  }
  for (std::size_t i = 0; i < samples.size(); ++i) {
    const std::string run = indexed("ms_run", i);
    const auto in = inputs.find(samples[i].id);
    item(run + "-location", in == inputs.end()
                                ? "null"
                                : File_Uri(Join_Path(in->second.folder, in->second.file_name)));
    int polarity = 0;
    if (positive)
      item(run + "-scan_polarity[" + std::to_string(++polarity) + "]",
           "[MS, MS:1000130, positive scan, ]");
    if (negative)
      item(run + "-scan_polarity[" + std::to_string(++polarity) + "]",
           "[MS, MS:1000129, negative scan, ]");
    if (in != inputs.end() && !in->second.xxh3_128.empty()) {
      item(run + "-hash", in->second.xxh3_128);
      item(run + "-hash_method", "[,,XXH3-128,]");
    }
  }
  for (std::size_t i = 0; i < samples.size(); ++i) {
    item(indexed("assay", i), samples[i].shown);
    item(indexed("assay", i) + "-ms_run_ref", indexed("ms_run", i));
  }
  for (std::size_t k = 0; k < variables.size(); ++k) {
    item(indexed("study_variable", k), variables[k].name);
    std::string refs;
    for (std::size_t a : variables[k].assays) {
      if (!refs.empty()) refs.push_back('|');
      refs.append(indexed("assay", a));
    }
    item(indexed("study_variable", k) + "-assay_refs", refs);
    item(indexed("study_variable", k) + "-description", variables[k].name);
  }
  item("cv[1]-label", "MS");
  item("cv[1]-full_name", "PSI-MS controlled vocabulary");
  item("cv[1]-version", "4.1.11");
  item("cv[1]-uri", "https://raw.githubusercontent.com/HUPO-PSI/psi-ms-CV/master/psi-ms.obo");
  item("database[1]", "[,,\"no database\",null]");
  item("database[1]-prefix", "null");
  item("database[1]-version", "Unknown");
  item("database[1]-uri", "null");
  item("small_molecule-quantification_unit", Unit_Of(options.quantity, false));
  item("small_molecule_feature-quantification_unit", Unit_Of(options.quantity, true));
  item("id_confidence_measure[1]", "[,,no identification score,]");
}

// Mean of the present values and their coefficient of variation (sample
// standard deviation over the mean); NaN where there are too few values.
std::pair<double, double> Mean_And_Cv(const std::vector<double>& values,
                                      const std::vector<std::size_t>& assays) {
  double sum = 0.0;
  std::size_t n = 0;
  for (std::size_t a : assays) {
    if (std::isfinite(values[a])) {
      sum += values[a];
      ++n;
    }
  }
  if (n == 0) return {kNoValue, kNoValue};
  const double mean = sum / static_cast<double>(n);
  if (n < 2 || mean == 0.0) return {mean, kNoValue};
  double squares = 0.0;
  for (std::size_t a : assays) {
    if (std::isfinite(values[a])) squares += (values[a] - mean) * (values[a] - mean);
  }
  return {mean, std::sqrt(squares / static_cast<double>(n - 1)) / mean};
}

// The SML and SMF sections in one pass over the groups, each into its own
// file; adducts receives every adduct text met.
//
// SMF columns: exp_mass_to_charge the median Apex_MZ of the feature's peaks;
// charge from the adduct text (Charge_Of); retention_time_in_seconds the
// group's Align_RT, start and end the smallest and largest Apex_Retention_Time
// of its peaks (with a drift correction, of their corrected times, and the
// original ones in opt_global_retention_time_in_seconds_start_Original and
// _end_Original); abundances by quantity, but per feature "compound" is the
// largest Apex_Intensity (a compound's intensity covers all its adducts).
void Write_Molecules_And_Features(Export_Job& job, const std::vector<Study_Variable>& variables,
                                  Export_File& sml_out, Export_File& smf_out,
                                  std::set<std::string>& adducts) {
  const std::vector<Result_Sample>& samples = job.samples;
  const Export_Quantity quantity = job.options.quantity;
  std::string& b = sml_out.buffer();
  std::string& f = smf_out.buffer();
  b += "SMH\tSML_ID\tSMF_ID_REFS\tdatabase_identifier\tchemical_formula\tsmiles\tinchi\t"
       "chemical_name\turi\ttheoretical_neutral_mass\tadduct_ions\treliability\t"
       "best_id_confidence_measure\tbest_id_confidence_value";
  f += "SFH\tSMF_ID\tSME_ID_REFS\tSME_ID_REF_ambiguity_code\tadduct_ion\tisotopomer\t"
       "exp_mass_to_charge\tcharge\tretention_time_in_seconds\tretention_time_in_seconds_start\t"
       "retention_time_in_seconds_end";
  for (std::size_t i = 0; i < samples.size(); ++i) {
    const std::string column = "\tabundance_assay[" + std::to_string(i + 1) + "]";
    b += column;
    f += column;
  }
  for (std::size_t k = 0; k < variables.size(); ++k) {
    b += "\tabundance_study_variable[" + std::to_string(k + 1) + "]";
  }
  for (std::size_t k = 0; k < variables.size(); ++k) {
    b += "\tabundance_variation_study_variable[" + std::to_string(k + 1) + "]";
  }
  const Rt_Shift_Curves* correction = job.correction;
  if (correction) {
    f += "\topt_global_retention_time_in_seconds_start_Original"
         "\topt_global_retention_time_in_seconds_end_Original";
  }
  b.push_back('\n');
  f.push_back('\n');
  const Export_Quantity feature_quantity =
      quantity == Export_Quantity::kCompound ? Export_Quantity::kHeight : quantity;
  Group_Pass pass(job);
  std::vector<double> values;  // of a feature
  std::vector<char> present;
  std::vector<double> mzs;
  std::vector<std::pair<double, double>> stats;
  std::string ions;
  std::uint64_t next_feature = 1;
  while (pass.Next()) {
    const Export_Group& g = pass.group();
    const Group_Summary& s = g.summary;
    b += "SML\t";
    Append_Unsigned(g.align_id, b);
    b.push_back('\t');
    for (std::size_t i = 0; i < s.adducts.size(); ++i) {
      if (i) b.push_back('|');
      Append_Unsigned(next_feature + i, b);
    }
    b += "\tnull\tnull\tnull\tnull\tnull\tnull\t";
    Append_Cell_Number(s.mass, b);
    b.push_back('\t');
    ions.clear();
    for (const std::string& a : s.adducts) {
      if (a.empty()) continue;
      if (!ions.empty()) ions.push_back('|');
      ions += a;
    }
    Append_Cell(ions, b);
    b += "\t4\tnull\tnull";  // reliability 4: unknown compound (not identified)
    for (double v : g.values) {
      b.push_back('\t');
      Append_Cell_Number(v, b);
    }
    stats.clear();
    for (const Study_Variable& sv : variables) stats.push_back(Mean_And_Cv(g.values, sv.assays));
    for (const auto& st : stats) {
      b.push_back('\t');
      Append_Cell_Number(st.first, b);
    }
    for (const auto& st : stats) {
      b.push_back('\t');
      Append_Cell_Number(st.second, b);
    }
    b.push_back('\n');

    for (const std::string& adduct : s.adducts) {
      adducts.insert(adduct);
      Quantities(g.rows, feature_quantity, pass.columns(), values, present,
                 [&adduct](const Group_Row& r) { return r.Adduct_Annotation == adduct; });
      for (std::size_t i = 0; i < g.factors.size(); ++i) values[i] *= g.factors[i];
      mzs.clear();
      double rt_start = kNoValue;
      double rt_end = kNoValue;
      double rt_start_original = kNoValue;
      double rt_end_original = kNoValue;
      for (const Group_Row* row : g.rows) {
        const Group_Row& r = *row;
        if (r.Adduct_Annotation != adduct) continue;
        if (!std::isnan(r.Apex_MZ)) mzs.push_back(r.Apex_MZ);
        rt_start_original = Min_Of(rt_start_original, r.Apex_Retention_Time);
        rt_end_original = Max_Of(rt_end_original, r.Apex_Retention_Time);
        if (correction) {
          const double corrected = correction->Corrected(r.SAMPLE_ID, r.Apex_Retention_Time);
          rt_start = Min_Of(rt_start, corrected);
          rt_end = Max_Of(rt_end, corrected);
        }
      }
      if (!correction) {
        rt_start = rt_start_original;
        rt_end = rt_end_original;
      }
      const double mz = Median_In_Place(mzs);
      f += "SMF\t";
      Append_Unsigned(next_feature++, f);
      f += "\tnull\tnull\t";
      Append_Cell(adduct, f);
      f += "\tnull\t";
      if (std::isfinite(mz)) {
        Append_Number(mz, f);
      } else {
        f += "NaN";  // not nullable: incalculable
      }
      f.push_back('\t');
      Append_Unsigned(static_cast<std::uint64_t>(Charge_Of(adduct)), f);
      f.push_back('\t');
      Append_Cell_Number(s.align_rt, f);
      f.push_back('\t');
      Append_Cell_Number(rt_start, f);
      f.push_back('\t');
      Append_Cell_Number(rt_end, f);
      for (double v : values) {
        f.push_back('\t');
        Append_Cell_Number(v, f);
      }
      if (correction) {
        f.push_back('\t');
        Append_Cell_Number(rt_start_original, f);
        f.push_back('\t');
        Append_Cell_Number(rt_end_original, f);
      }
      f.push_back('\n');
    }
    sml_out.Flush_If_Full();
    smf_out.Flush_If_Full();
  }
}

}  // namespace

void Write_MzTab(Export_Job& job) {
  // The metadata needs every adduct (for the scan polarity): the tables go to
  // scratch files in one pass and follow the metadata.
  const std::vector<Study_Variable> variables = Study_Variables(job.samples, job.groups);
  Export_File sml(job.out_path, ".sml");
  Export_File smf(job.out_path, ".smf");
  std::set<std::string> adducts;
  Write_Molecules_And_Features(job, variables, sml, smf, adducts);
  Write_Metadata(job, variables, adducts);
  job.out.buffer().push_back('\n');
  sml.Append_To(job.out);
  job.out.buffer().push_back('\n');
  smf.Append_To(job.out);
}
