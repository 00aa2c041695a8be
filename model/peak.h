// Peak records: the plain value types every stage of Varnel passes around.
//
// A record owns its point list and its texts; copying a record copies them
// (deep copy). Field names are the column names of the annotated input table
// Annotate_Peaklist and of the aligned table Align_Peaklist.
#ifndef VARNEL_MODEL_PEAK_H_
#define VARNEL_MODEL_PEAK_H_

#include <cstdint>
#include <string>
#include <vector>

// One point of a peak's chromatogram. Stored in the order Intensity, MZ, RT,
// Scan (see storage/peak_shape.h), held here in this order.
struct Data_Point {
  std::uint32_t Scan = 0;  // scan number
  double RT = 0.0;         // retention time, seconds
  double MZ = 0.0;         // m/z, carried through only
  double Intensity = 0.0;  // y value of every plot

  friend bool operator==(const Data_Point&, const Data_Point&) = default;
};

// One annotated peak of one sample, as read from an annotated database.
struct Chromatogram_Peak_Group_Compound {
  std::vector<Data_Point> Peak_shape;
  std::uint32_t EIC_ID = 0;
  std::uint32_t Peak_ID = 0;
  double Apex_MZ = 0.0;
  std::uint32_t Apex_Pos = 0;
  double Apex_Retention_Time = 0.0;  // seconds
  double Apex_Intensity = 0.0;
  double Peak_Area = 0.0;
  double Peak_SNR = 0.0;
  std::uint32_t Left_Boundary = 0;
  std::uint32_t Right_Boundary = 0;
  std::uint32_t Group_ID = 0;
  std::string Adduct_Annotation;
  std::uint32_t Compound_ID = 0;         // 0: not annotated, never aligned
  double Compound_MolecularMass = 0.0;   // Da
  double Compound_Retention_Time = 0.0;  // seconds
  double Compound_Intensity = 0.0;       // <= 0.0 (or NaN): never seeds a group
};

// An annotated peak tagged with its sample and, after alignment, its group.
// Repeats fields 1 to 17 of Chromatogram_Peak_Group_Compound in the same order.
struct Chromatogram_Peak_Group_Compound_Align {
  std::vector<Data_Point> Peak_shape;
  std::uint32_t EIC_ID = 0;
  std::uint32_t Peak_ID = 0;
  double Apex_MZ = 0.0;
  std::uint32_t Apex_Pos = 0;
  double Apex_Retention_Time = 0.0;
  double Apex_Intensity = 0.0;
  double Peak_Area = 0.0;
  double Peak_SNR = 0.0;
  std::uint32_t Left_Boundary = 0;
  std::uint32_t Right_Boundary = 0;
  std::uint32_t Group_ID = 0;
  std::string Adduct_Annotation;
  std::uint32_t Compound_ID = 0;
  double Compound_MolecularMass = 0.0;
  double Compound_Retention_Time = 0.0;
  double Compound_Intensity = 0.0;
  std::uint32_t SAMPLE_ID = 0;  // 0-based position of the sample's database in the run
  std::string SAMPLE_NAME;
  std::uint32_t Align_ID = 0;  // 1, 2, 3 ... ; 0: not aligned
  double Align_RT = 0.0;       // seconds; 0.0 when not aligned

  Chromatogram_Peak_Group_Compound_Align() = default;

  // Conversion made by the alignment run: fields 1 to 17 copied (the shape
  // deep-copied), SAMPLE_ID and SAMPLE_NAME given, Align_ID 0, Align_RT 0.0.
  Chromatogram_Peak_Group_Compound_Align(const Chromatogram_Peak_Group_Compound& peak,
                                         std::uint32_t sample_id, std::string sample_name);
  // Same, taking over the peak's shape and annotation instead of copying them.
  Chromatogram_Peak_Group_Compound_Align(Chromatogram_Peak_Group_Compound&& peak,
                                         std::uint32_t sample_id, std::string sample_name);
};

// A key record for the bound searches of a list sorted by Align_ID: a
// default-made record with only Align_ID set.
Chromatogram_Peak_Group_Compound_Align Make_Align_ID_Key(std::uint32_t align_id);

// Copies the fields both records have but the shape and the annotation text
// (EIC_ID to Compound_Intensity), from either record to either.
template <class From, class To>
void Copy_Peak_Scalars(const From& p, To& r) {
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

#endif  // VARNEL_MODEL_PEAK_H_
