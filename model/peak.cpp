#include "model/peak.h"

#include <utility>

Chromatogram_Peak_Group_Compound_Align::Chromatogram_Peak_Group_Compound_Align(
    const Chromatogram_Peak_Group_Compound& peak, std::uint32_t sample_id, std::string sample_name)
    : Peak_shape(peak.Peak_shape),
      Adduct_Annotation(peak.Adduct_Annotation),
      SAMPLE_ID(sample_id),
      SAMPLE_NAME(std::move(sample_name)) {
  Copy_Peak_Scalars(peak, *this);
}

Chromatogram_Peak_Group_Compound_Align::Chromatogram_Peak_Group_Compound_Align(
    Chromatogram_Peak_Group_Compound&& peak, std::uint32_t sample_id, std::string sample_name)
    : Peak_shape(std::move(peak.Peak_shape)),
      Adduct_Annotation(std::move(peak.Adduct_Annotation)),
      SAMPLE_ID(sample_id),
      SAMPLE_NAME(std::move(sample_name)) {
  Copy_Peak_Scalars(peak, *this);
}

Chromatogram_Peak_Group_Compound_Align Make_Align_ID_Key(std::uint32_t align_id) {
  Chromatogram_Peak_Group_Compound_Align key;
  key.Align_ID = align_id;
  return key;
}
