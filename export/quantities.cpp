#include "export/quantities.h"

std::optional<Export_Quantity> Parse_Export_Quantity(std::string_view text) {
  if (text == kExportQuantityNames[0]) return Export_Quantity::kCompound;
  if (text == kExportQuantityNames[1]) return Export_Quantity::kArea;
  if (text == kExportQuantityNames[2]) return Export_Quantity::kHeight;
  return std::nullopt;
}

double Midpoint(double a, double b) {
  constexpr double kScale = 1e6;  // six decimals
  constexpr double kGridLimit = 1e8;
  if (std::fabs(a) < kGridLimit && std::fabs(b) < kGridLimit) {
    const double units_a = std::nearbyint(a * kScale);
    const double units_b = std::nearbyint(b * kScale);
    // Both read from six-decimal text (the reading may be off by a bit or
    // two): the sum of their units is exact.
    auto on_grid = [](double units, double v) {
      return std::fabs(units / kScale - v) <=
             4 * std::numeric_limits<double>::epsilon() * std::fabs(v);
    };
    if (on_grid(units_a, a) && on_grid(units_b, b)) return (units_a + units_b) / (2 * kScale);
  }
  return (a + b) / 2;
}

double Median_In_Place(std::vector<double>& values) {
  if (values.empty()) return kNoValue;
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : Midpoint(values[n / 2 - 1], values[n / 2]);
}

Sample_Columns::Sample_Columns(const std::vector<Result_Sample>& samples) {
  for (const Result_Sample& s : samples) ids_.push_back(s.id);
}

Group_Summary Summarize(Group_Rows& rows, const Rt_Shift_Curves* correction) {
  Group_Summary s;
  std::sort(rows.begin(), rows.end(), [](const Group_Row* a, const Group_Row* b) {
    return a->SAMPLE_ID != b->SAMPLE_ID ? a->SAMPLE_ID < b->SAMPLE_ID
                                        : a->Compound_ID < b->Compound_ID;
  });
  std::vector<double> masses;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const Group_Row& r = *rows[i];
    if (std::isnan(s.align_rt)) s.align_rt = r.Align_RT;
    s.rt_min = Min_Of(s.rt_min, r.Compound_Retention_Time);
    s.rt_max = Max_Of(s.rt_max, r.Compound_Retention_Time);
    if (correction) {
      const double corrected = correction->Corrected(r.SAMPLE_ID, r.Compound_Retention_Time);
      s.rt_min_corrected = Min_Of(s.rt_min_corrected, corrected);
      s.rt_max_corrected = Max_Of(s.rt_max_corrected, corrected);
    }
    const bool first_of_compound = i == 0 || rows[i - 1]->SAMPLE_ID != r.SAMPLE_ID ||
                                   rows[i - 1]->Compound_ID != r.Compound_ID;
    if (first_of_compound && !std::isnan(r.Compound_MolecularMass)) {
      masses.push_back(r.Compound_MolecularMass);
    }
    s.adducts.push_back(r.Adduct_Annotation);
  }
  s.mass = Median_In_Place(masses);
  std::sort(s.adducts.begin(), s.adducts.end());
  s.adducts.erase(std::unique(s.adducts.begin(), s.adducts.end()), s.adducts.end());
  return s;
}
