#include "model/peak.h"

#include <utility>

namespace {

// Copies fields 2 to 17 (everything but the shape and the annotation text).
template <typename From>
void CopyScalars(const From& p, Chromatogram_Peak_Group_Compound_Align& r) {
  r.EIC_ID = p.EIC_ID;
  r.Peak_ID = p.Peak_ID;
  r.Apex_MZ = p.Apex_MZ;
  r.Apex_Pos = p.Apex_Pos;
  r.Apex_Retention_Time = p.Apex_Retention_Time;
  r.Apex_Intensity = p.Apex_Intensity;
  r.Peak_Area = p.Peak_Area;
  r.Peak_SNR = p.Peak_SNR;
  r.Left_Boundary = p.Left_Boundary;
  r.Right_Boundary = p.Right_Boundary;
  r.Group_ID = p.Group_ID;
  r.Compound_ID = p.Compound_ID;
  r.Compound_MolecularMass = p.Compound_MolecularMass;
  r.Compound_Retention_Time = p.Compound_Retention_Time;
  r.Compound_Intensity = p.Compound_Intensity;
}

}  // namespace

Chromatogram_Peak_Group_Compound_Align::Chromatogram_Peak_Group_Compound_Align(
    const Chromatogram_Peak_Group_Compound& peak, std::uint32_t sample_id, std::string sample_name)
    : Peak_shape(peak.Peak_shape),
      Adduct_Annotation(peak.Adduct_Annotation),
      SAMPLE_ID(sample_id),
      SAMPLE_NAME(std::move(sample_name)) {
  CopyScalars(peak, *this);
}

Chromatogram_Peak_Group_Compound_Align::Chromatogram_Peak_Group_Compound_Align(
    Chromatogram_Peak_Group_Compound&& peak, std::uint32_t sample_id, std::string sample_name)
    : Peak_shape(std::move(peak.Peak_shape)),
      Adduct_Annotation(std::move(peak.Adduct_Annotation)),
      SAMPLE_ID(sample_id),
      SAMPLE_NAME(std::move(sample_name)) {
  CopyScalars(peak, *this);
}

Chromatogram_Peak_Group_Compound_Align Make_Align_ID_Key(std::uint32_t align_id) {
  Chromatogram_Peak_Group_Compound_Align key;
  key.Align_ID = align_id;
  return key;
}
