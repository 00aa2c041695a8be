#include "tests/ui/support/viz_study.h"

#include <algorithm>
#include <cmath>
#include <random>

#include "storage/aligned_writers.h"

namespace Varnel::Test {

Peak_Recipe Lone_Peak(std::uint32_t sample, std::uint32_t eic, std::uint32_t align_id,
                      double apex_rt) {
  Peak_Recipe s;
  s.sample_id = sample;
  s.sample_name = "Sample " + std::to_string(sample);
  s.eic_id = eic;
  s.group_id = eic;
  s.compound_id = eic;
  s.align_id = align_id;
  s.apex_rt = apex_rt;
  s.align_rt = align_id == 0 ? 0.0 : 100.0;
  return s;
}

Align_Peak Make_Peak(const Peak_Recipe& recipe) {
  Align_Peak peak;
  peak.SAMPLE_ID = recipe.sample_id;
  peak.SAMPLE_NAME = recipe.sample_name;
  peak.EIC_ID = recipe.eic_id;
  peak.Peak_ID = recipe.peak_id;
  peak.Group_ID = recipe.group_id;
  peak.Compound_ID = recipe.compound_id;
  peak.Align_ID = recipe.align_id;
  peak.Align_RT = recipe.align_rt;
  peak.Apex_MZ = recipe.apex_mz;
  peak.Apex_Retention_Time = recipe.apex_rt;
  peak.Compound_Retention_Time = recipe.apex_rt;
  peak.Apex_Intensity = recipe.height;
  peak.Compound_Intensity = recipe.height;
  peak.Compound_MolecularMass = recipe.apex_mz - 1.007276;
  peak.Adduct_Annotation = recipe.adduct;
  const long apex_scan = std::lround(recipe.apex_rt / recipe.scan_seconds);
  const int half = recipe.points / 2;
  const double sigma = std::max(1.0, recipe.points / 6.0);  // scans
  double area = 0.0;
  for (int k = 0; k < recipe.points; ++k) {
    const long scan = apex_scan - half + k;
    Data_Point p;
    p.Scan = static_cast<std::uint32_t>(std::max(0L, scan));
    p.RT = recipe.apex_rt + (k - half) * recipe.scan_seconds;
    p.MZ = recipe.apex_mz;
    const double z = (k - half) / sigma;
    p.Intensity = recipe.height * std::exp(-0.5 * z * z);
    area += p.Intensity;
    peak.Peak_shape.push_back(p);
  }
  peak.Apex_Pos = static_cast<std::uint32_t>(std::max(0L, apex_scan));
  peak.Left_Boundary = peak.Peak_shape.empty() ? 0 : peak.Peak_shape.front().Scan;
  peak.Right_Boundary = peak.Peak_shape.empty() ? 0 : peak.Peak_shape.back().Scan;
  peak.Peak_Area = area * recipe.scan_seconds;
  peak.Peak_SNR = recipe.height / 25.0;
  return peak;
}

std::vector<Align_Peak> Make_Demo_Study(std::uint32_t samples, std::uint32_t compounds,
                                        std::uint64_t seed, int points) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> uniform(0.0, 1.0);
  static const char* const kAdducts[] = {"[M+H]+", "[M+Na]+", "[M+NH4]+"};
  static const double kAdductShift[] = {1.007276, 22.989218, 18.033823};

  std::vector<double> drift(samples);  // seconds, per sample
  for (auto& d : drift) d = (uniform(rng) - 0.5) * 12.0;
  std::vector<std::uint32_t> next_eic(samples, 1), next_group(samples, 1);

  std::vector<Align_Peak> unaligned;
  std::vector<Align_Peak> aligned;
  for (std::uint32_t c = 0; c < compounds; ++c) {
    const double mass = 100.0 + uniform(rng) * 900.0;
    const double rt = 60.0 + uniform(rng) * 840.0;
    const double abundance = std::pow(10.0, 4.0 + uniform(rng) * 2.5);
    const int ions = 1 + static_cast<int>(uniform(rng) * 3.0);
    double rt_sum = 0.0;
    std::vector<double> sample_rt(samples);
    for (std::uint32_t s = 0; s < samples; ++s) {
      sample_rt[s] = rt + drift[s] + (uniform(rng) - 0.5);
      rt_sum += sample_rt[s];
    }
    const double align_rt = rt_sum / samples;
    for (std::uint32_t s = 0; s < samples; ++s) {
      const std::uint32_t group = next_group[s]++;
      const double sample_abundance = abundance * (0.6 + 0.8 * uniform(rng));
      for (int ion = 0; ion < ions; ++ion) {
        Peak_Recipe recipe;
        recipe.sample_id = s;
        recipe.sample_name = "Sample_" + std::to_string(s + 1);
        recipe.eic_id = next_eic[s]++;
        recipe.peak_id = 1;
        recipe.group_id = group;
        recipe.compound_id = group;
        recipe.align_id = c + 1;
        recipe.apex_mz = mass + kAdductShift[ion];
        recipe.apex_rt = sample_rt[s];
        recipe.align_rt = align_rt;
        recipe.height = sample_abundance / (1.0 + 2.0 * ion);
        recipe.points = points;
        recipe.adduct = kAdducts[ion];
        aligned.push_back(Make_Peak(recipe));
      }
      if (uniform(rng) < 0.1) {  // an unannotated peak near by
        Peak_Recipe recipe;
        recipe.sample_id = s;
        recipe.sample_name = "Sample_" + std::to_string(s + 1);
        recipe.eic_id = next_eic[s]++;
        recipe.group_id = next_group[s]++;
        recipe.compound_id = 0;
        recipe.apex_mz = 100.0 + uniform(rng) * 900.0;
        recipe.apex_rt = sample_rt[s] + 20.0 * uniform(rng);
        recipe.height = abundance * 0.1;
        recipe.points = points;
        recipe.adduct = "";
        unaligned.push_back(Make_Peak(recipe));
      }
    }
  }
  unaligned.insert(unaligned.end(), std::make_move_iterator(aligned.begin()),
                   std::make_move_iterator(aligned.end()));
  return unaligned;
}

void Write_Aligned_Result(const std::vector<Align_Peak>& peaks, const std::string& folder,
                          const std::string& file) {
  OutputAlignedAnnotatedGroupedChromatographPeaklist2database(peaks, folder, file);
}

}  // namespace Varnel::Test
