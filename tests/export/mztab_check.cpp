#include "tests/export/mztab_check.h"

#include <algorithm>
#include <map>
#include <regex>
#include <set>

namespace {

std::vector<std::string> Split(std::string_view text, char separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find(separator, start);
    parts.emplace_back(text.substr(start, end == std::string_view::npos ? end : end - start));
    if (end == std::string_view::npos) return parts;
    start = end + 1;
  }
}

// Order of the metadata fields; each key belongs to the family of its first
// word (the text before the first '[' or '-' after the family name).
const std::vector<std::string>& Metadata_Order() {
  static const std::vector<std::string> order = {"mzTab-version",
                                                 "mzTab-ID",
                                                 "title",
                                                 "description",
                                                 "sample_processing",
                                                 "instrument",
                                                 "software",
                                                 "publication",
                                                 "contact",
                                                 "uri",
                                                 "external_study_uri",
                                                 "quantification_method",
                                                 "sample",
                                                 "ms_run",
                                                 "assay",
                                                 "study_variable",
                                                 "custom",
                                                 "cv",
                                                 "database",
                                                 "derivatization_agent",
                                                 "small_molecule-quantification_unit",
                                                 "small_molecule_feature-quantification_unit",
                                                 "small_molecule-identification_reliability",
                                                 "id_confidence_measure",
                                                 "colunit-small_molecule",
                                                 "colunit-small_molecule_feature",
                                                 "colunit-small_molecule_evidence"};
  return order;
}

int Family_Rank(const std::string& key) {
  const auto& order = Metadata_Order();
  int best = -1;
  std::size_t best_length = 0;
  for (std::size_t i = 0; i < order.size(); ++i) {
    const std::string& f = order[i];
    if (key.rfind(f, 0) != 0) continue;
    const bool whole = key.size() == f.size() || key[f.size()] == '[' || key[f.size()] == '-';
    if (whole && f.size() > best_length) {
      best = static_cast<int>(i);
      best_length = f.size();
    }
  }
  return best;
}

const std::regex kDecimal(R"([+-]?(\d+(\.\d*)?|\.\d+))");
const std::regex kInteger(R"(\d+)");
const std::regex kIndexed(R"(([a-z_]+)\[(\d+)\](.*))");

class Checker {
 public:
  std::vector<std::string> Run(std::string_view text) {
    const std::vector<std::string> lines = Split(text, '\n');
    for (std::size_t i = 0; i < lines.size(); ++i) {
      line_ = i + 1;
      std::string line = lines[i];
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.empty()) continue;
      const std::vector<std::string> cells = Split(line, '\t');
      if (cells.size() < 2) {
        Problem("no tab after the line prefix");
        continue;
      }
      Line(cells);
    }
    line_ = 0;
    Whole_File();
    return problems_;
  }

 private:
  enum class Section { kStart, kMetadata, kSmlHeader, kSml, kSmfHeader, kSmf, kSmeHeader, kSme };

  void Problem(const std::string& what) {
    problems_.push_back(line_ ? "line " + std::to_string(line_) + ": " + what : what);
  }

  void Move_To(Section next, const std::string& prefix) {
    static const std::map<Section, std::set<Section>> allowed = {
        {Section::kMetadata, {Section::kStart, Section::kMetadata}},
        {Section::kSmlHeader, {Section::kMetadata}},
        {Section::kSml, {Section::kSmlHeader, Section::kSml}},
        {Section::kSmfHeader, {Section::kSmlHeader, Section::kSml}},
        {Section::kSmf, {Section::kSmfHeader, Section::kSmf}},
        {Section::kSmeHeader, {Section::kSmfHeader, Section::kSmf}},
        {Section::kSme, {Section::kSmeHeader, Section::kSme}},
    };
    if (!allowed.at(next).count(section_)) Problem(prefix + " line out of section order");
    section_ = next;
  }

  void Line(const std::vector<std::string>& cells) {
    const std::string& prefix = cells[0];
    if (prefix == "COM") return;
    if (prefix == "MTD") {
      Move_To(Section::kMetadata, prefix);
      Metadata(cells);
    } else if (prefix == "SMH") {
      Move_To(Section::kSmlHeader, prefix);
      sml_header_ = cells;
      Sml_Header();
    } else if (prefix == "SML") {
      Move_To(Section::kSml, prefix);
      Row(cells, sml_header_);
    } else if (prefix == "SFH") {
      Move_To(Section::kSmfHeader, prefix);
      smf_header_ = cells;
      Smf_Header();
    } else if (prefix == "SMF") {
      Move_To(Section::kSmf, prefix);
      Row(cells, smf_header_);
    } else if (prefix == "SEH") {
      Move_To(Section::kSmeHeader, prefix);
      sme_header_ = cells;
      if (cells.size() < 2 || cells[1] != "SME_ID") Problem("SEH does not start with SME_ID");
    } else if (prefix == "SME") {
      Move_To(Section::kSme, prefix);
      Row(cells, sme_header_);
    } else {
      Problem("unknown line prefix \"" + prefix + "\"");
    }
  }

  void Metadata(const std::vector<std::string>& cells) {
    if (cells.size() != 3) {
      Problem("MTD line with " + std::to_string(cells.size()) + " cells instead of 3");
      return;
    }
    const std::string& key = cells[1];
    if (cells[2].empty()) Problem("empty value of " + key);
    if (!mtd_.emplace(key, cells[2]).second) Problem("metadata " + key + " given twice");
    const int rank = Family_Rank(key);
    if (rank < 0) {
      Problem("unknown metadata field " + key);
    } else if (rank < last_rank_) {
      Problem("metadata " + key + " out of order");
    } else {
      last_rank_ = rank;
    }
  }

  // Column names: the fixed ones in order, then abundance columns, then opt_.
  void Expect_Columns(const std::vector<std::string>& header, const std::vector<std::string>& fixed,
                      const std::vector<std::string>& indexed, const char* what) {
    std::vector<std::string> expected(fixed);
    const std::size_t assays = Count_Indexed("assay");
    const std::size_t variables = Count_Indexed("study_variable");
    for (const std::string& family : indexed) {
      const std::size_t n = family == "abundance_assay" ? assays : variables;
      for (std::size_t i = 1; i <= n; ++i)
        expected.push_back(family + "[" + std::to_string(i) + "]");
    }
    for (std::size_t i = 0; i < expected.size(); ++i) {
      if (i + 1 >= header.size() || header[i + 1] != expected[i]) {
        Problem(std::string(what) + " column " + std::to_string(i + 1) + " should be " +
                expected[i]);
        return;
      }
    }
    for (std::size_t i = expected.size() + 1; i < header.size(); ++i) {
      if (header[i].rfind("opt_", 0) != 0)
        Problem(std::string(what) + " extra column " + header[i]);
    }
  }

  void Sml_Header() {
    Expect_Columns(
        sml_header_,
        {"SML_ID", "SMF_ID_REFS", "database_identifier", "chemical_formula", "smiles", "inchi",
         "chemical_name", "uri", "theoretical_neutral_mass", "adduct_ions", "reliability",
         "best_id_confidence_measure", "best_id_confidence_value"},
        {"abundance_assay", "abundance_study_variable", "abundance_variation_study_variable"},
        "SMH");
  }

  void Smf_Header() {
    Expect_Columns(smf_header_,
                   {"SMF_ID", "SME_ID_REFS", "SME_ID_REF_ambiguity_code", "adduct_ion",
                    "isotopomer", "exp_mass_to_charge", "charge", "retention_time_in_seconds",
                    "retention_time_in_seconds_start", "retention_time_in_seconds_end"},
                   {"abundance_assay"}, "SFH");
  }

  static bool Is_Number_Column(const std::string& name) {
    return name == "theoretical_neutral_mass" || name == "best_id_confidence_value" ||
           name == "exp_mass_to_charge" || name.rfind("retention_time_in_seconds", 0) == 0 ||
           name.rfind("abundance_", 0) == 0;
  }

  void Row(const std::vector<std::string>& cells, const std::vector<std::string>& header) {
    if (header.empty()) return;  // out of order, reported already
    if (cells.size() != header.size()) {
      Problem(cells[0] + " row with " + std::to_string(cells.size()) + " cells, header has " +
              std::to_string(header.size()));
      return;
    }
    for (std::size_t i = 1; i < cells.size(); ++i) {
      const std::string& name = header[i];
      const std::string& cell = cells[i];
      if (cell.empty()) {
        Problem("empty cell in column " + name + " (missing values are \"null\")");
        continue;
      }
      const bool not_nullable = name == "SML_ID" || name == "SMF_ID" || name == "SME_ID" ||
                                name == "exp_mass_to_charge" || name == "charge";
      if (cell == "null") {
        if (not_nullable) Problem("null in column " + name + ", which must have a value");
        continue;
      }
      if (name == "SML_ID" || name == "SMF_ID" || name == "charge" ||
          name == "SME_ID_REF_ambiguity_code") {
        if (!std::regex_match(cell, kInteger)) Problem(name + " not an integer: " + cell);
      } else if (Is_Number_Column(name)) {
        for (const std::string& part : Split(cell, '|')) {
          if (part != "null" && part != "NaN" && !std::regex_match(part, kDecimal)) {
            Problem(name + " not a plain decimal: " + cell);
          }
        }
      }
    }
    if (cells[0] == "SML") {
      if (!sml_ids_.insert(cells[1]).second) Problem("SML_ID " + cells[1] + " repeated");
      if (cells[2] != "null") {
        for (const std::string& ref : Split(cells[2], '|')) smf_refs_.emplace(ref, line_);
      }
    } else if (cells[0] == "SMF") {
      if (!smf_ids_.insert(cells[1]).second) Problem("SMF_ID " + cells[1] + " repeated");
    }
  }

  // Largest n with name[1] .. name[n] all present (exact keys).
  std::size_t Count_Indexed(const std::string& name) const {
    std::size_t n = 0;
    while (mtd_.count(name + "[" + std::to_string(n + 1) + "]")) ++n;
    return n;
  }

  void Require(const std::string& key) {
    if (!mtd_.count(key)) Problem("mandatory metadata " + key + " missing");
  }

  // Every key name[i]... uses an index 1 .. n.
  void Check_Indexes(const std::string& name, std::size_t n) {
    for (const auto& [key, value] : mtd_) {
      std::smatch m;
      if (std::regex_match(key, m, kIndexed) && m[1] == name) {
        const std::size_t i = std::stoul(m[2]);
        if (i < 1 || i > n)
          Problem("metadata " + key + " refers to " + name + "[" + m[2].str() +
                  "], which is not defined");
      }
    }
  }

  // value is "name[i]" (or several, "|"-separated) with every i in 1 .. n.
  void Check_Refs(const std::string& key, const std::string& name, std::size_t n) {
    const auto it = mtd_.find(key);
    if (it == mtd_.end()) return;
    for (std::string ref : Split(it->second, '|')) {
      ref.erase(0, ref.find_first_not_of(' '));
      ref.erase(ref.find_last_not_of(' ') + 1);
      std::smatch m;
      if (!std::regex_match(ref, m, kIndexed) || m[1] != name || !m[3].str().empty() ||
          std::stoul(m[2]) < 1 || std::stoul(m[2]) > n) {
        Problem("metadata " + key + " refers to \"" + ref + "\", not a defined " + name);
      }
    }
  }

  void Whole_File() {
    if (section_ == Section::kStart) Problem("no MTD section");
    if (sml_header_.empty()) Problem("no SMH header line");
    Require("mzTab-version");
    if (mtd_.count("mzTab-version") &&
        !std::regex_match(mtd_["mzTab-version"], std::regex(R"(\d+\.\d+\.\d+-M)"))) {
      Problem("mzTab-version " + mtd_["mzTab-version"] + " does not end in -M");
    }
    Require("mzTab-ID");
    Require("software[1]");
    Require("quantification_method");
    Require("small_molecule-quantification_unit");
    if (!smf_header_.empty()) Require("small_molecule_feature-quantification_unit");
    Require("id_confidence_measure[1]");
    Require("database[1]");
    Require("cv[1]-label");
    std::size_t runs = 0;
    while (mtd_.count("ms_run[" + std::to_string(runs + 1) + "]-location")) ++runs;
    if (runs == 0) Problem("mandatory metadata ms_run[1]-location missing");
    for (std::size_t i = 1; i <= runs; ++i) {
      Require("ms_run[" + std::to_string(i) + "]-scan_polarity[1]");
    }
    Check_Indexes("ms_run", runs);
    const std::size_t assays = Count_Indexed("assay");
    if (assays == 0) Problem("mandatory metadata assay[1] missing");
    Check_Indexes("assay", assays);
    for (std::size_t i = 1; i <= assays; ++i) {
      const std::string key = "assay[" + std::to_string(i) + "]-ms_run_ref";
      Require(key);
      Check_Refs(key, "ms_run", runs);
    }
    const std::size_t variables = Count_Indexed("study_variable");
    if (variables == 0) Problem("mandatory metadata study_variable[1] missing");
    Check_Indexes("study_variable", variables);
    for (std::size_t i = 1; i <= variables; ++i) {
      const std::string sv = "study_variable[" + std::to_string(i) + "]";
      Require(sv + "-assay_refs");
      Require(sv + "-description");
      Check_Refs(sv + "-assay_refs", "assay", assays);
    }
    std::size_t cv_count = 0;
    while (mtd_.count("cv[" + std::to_string(cv_count + 1) + "]-label")) ++cv_count;
    Check_Indexes("cv", cv_count);
    for (std::size_t i = 1; i <= cv_count; ++i) {
      for (const char* part : {"-full_name", "-version", "-uri"}) {
        Require("cv[" + std::to_string(i) + "]" + part);
      }
    }
    const std::size_t databases = Count_Indexed("database");
    Check_Indexes("database", databases);
    for (std::size_t i = 1; i <= databases; ++i) {
      for (const char* part : {"-prefix", "-version", "-uri"}) {
        Require("database[" + std::to_string(i) + "]" + part);
      }
    }
    Check_Indexes("software", Count_Indexed("software"));
    Check_Indexes("id_confidence_measure", Count_Indexed("id_confidence_measure"));
    for (const auto& [ref, line] : smf_refs_) {
      if (!smf_ids_.count(ref)) {
        problems_.push_back("line " + std::to_string(line) + ": SMF_ID_REFS names SMF_ID " + ref +
                            ", which no SMF row has");
      }
    }
  }

  std::size_t line_ = 0;
  Section section_ = Section::kStart;
  int last_rank_ = 0;
  std::map<std::string, std::string> mtd_;
  std::vector<std::string> sml_header_, smf_header_, sme_header_;
  std::set<std::string> sml_ids_, smf_ids_;
  std::multimap<std::string, std::size_t> smf_refs_;
  std::vector<std::string> problems_;
};

}  // namespace

std::vector<std::string> Check_MzTab(std::string_view text) { return Checker().Run(text); }
