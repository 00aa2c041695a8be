#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "model/peak.h"

namespace {

using Align = Chromatogram_Peak_Group_Compound_Align;

TEST(PeakRecordTest, NewRecordsAreZeroAndEmpty) {
  Align a;
  EXPECT_TRUE(a.Peak_shape.empty());
  EXPECT_TRUE(a.SAMPLE_NAME.empty());
  EXPECT_EQ(a.EIC_ID, 0u);
  EXPECT_EQ(a.Compound_Intensity, 0.0);
  EXPECT_EQ(a.Align_RT, 0.0);
  Data_Point d;
  EXPECT_EQ(d.Scan, 0u);
  EXPECT_EQ(d.Intensity, 0.0);
}

TEST(PeakRecordTest, CopiesAreDeep) {
  Align a;
  a.Peak_shape = {{1, 2.0, 3.0, 4.0}};
  a.SAMPLE_NAME = "QC_01";
  Align b = a;
  b.Peak_shape[0].Intensity = 99.0;
  b.SAMPLE_NAME[0] = 'X';
  EXPECT_EQ(a.Peak_shape[0].Intensity, 4.0);
  EXPECT_EQ(a.SAMPLE_NAME, "QC_01");
  Align c;
  c = a;
  c.Peak_shape.clear();
  EXPECT_EQ(a.Peak_shape.size(), 1u);
  const Align& self = a;
  a = self;
  EXPECT_EQ(a.Peak_shape.size(), 1u);
  EXPECT_EQ(a.SAMPLE_NAME, "QC_01");
}

TEST(PeakRecordTest, ConversionCopiesSharedFieldsAndResetsAlignment) {
  Chromatogram_Peak_Group_Compound p;
  p.Peak_shape = {{7, 60.5, 301.1, 1000.0}, {8, 61.0, 301.2, 500.0}};
  p.EIC_ID = 3;
  p.Peak_ID = 4;
  p.Apex_MZ = 301.1234;
  p.Apex_Pos = 5;
  p.Apex_Retention_Time = 60.7;
  p.Apex_Intensity = 1000.0;
  p.Peak_Area = 12345.0;
  p.Peak_SNR = 42.0;
  p.Left_Boundary = 7;
  p.Right_Boundary = 8;
  p.Group_ID = 9;
  p.Adduct_Annotation = "[M+H]+";
  p.Compound_ID = 11;
  p.Compound_MolecularMass = 300.11;
  p.Compound_Retention_Time = 60.6;
  p.Compound_Intensity = 2000.0;

  const Align a(p, 2, "S2");
  EXPECT_EQ(a.Peak_shape, p.Peak_shape);
  EXPECT_EQ(a.EIC_ID, 3u);
  EXPECT_EQ(a.Peak_ID, 4u);
  EXPECT_EQ(a.Apex_MZ, 301.1234);
  EXPECT_EQ(a.Apex_Pos, 5u);
  EXPECT_EQ(a.Apex_Retention_Time, 60.7);
  EXPECT_EQ(a.Apex_Intensity, 1000.0);
  EXPECT_EQ(a.Peak_Area, 12345.0);
  EXPECT_EQ(a.Peak_SNR, 42.0);
  EXPECT_EQ(a.Left_Boundary, 7u);
  EXPECT_EQ(a.Right_Boundary, 8u);
  EXPECT_EQ(a.Group_ID, 9u);
  EXPECT_EQ(a.Adduct_Annotation, "[M+H]+");
  EXPECT_EQ(a.Compound_ID, 11u);
  EXPECT_EQ(a.Compound_MolecularMass, 300.11);
  EXPECT_EQ(a.Compound_Retention_Time, 60.6);
  EXPECT_EQ(a.Compound_Intensity, 2000.0);
  EXPECT_EQ(a.SAMPLE_ID, 2u);
  EXPECT_EQ(a.SAMPLE_NAME, "S2");
  EXPECT_EQ(a.Align_ID, 0u);
  EXPECT_EQ(a.Align_RT, 0.0);
  EXPECT_EQ(p.Peak_shape.size(), 2u);  // the source keeps its shape

  Chromatogram_Peak_Group_Compound q = p;
  const Align moved(std::move(q), 1, "S1");
  EXPECT_EQ(moved.Peak_shape, p.Peak_shape);
  EXPECT_EQ(moved.Adduct_Annotation, "[M+H]+");
}

}  // namespace
