// The texts made from the column table are the ones every stored file and CSV
// header has always held.
#include "storage/result_columns.h"

#include <gtest/gtest.h>

#include <string>

#include "model/peak.h"

namespace {

TEST(ResultColumnsTest, StoredTextsAreUnchanged) {
  EXPECT_EQ(Align_Create_Statement(),
            "create table Align_Peaklist(EIC_ID int,Peak_ID int, Apex_MZ double, Apex_Pos int, "
            "Apex_Retention_Time double, Apex_Intensity double, Peak_Area double, Peak_SNR double, "
            "Left_Boundary int, Right_Boundary int, Group_ID int, Adduct_Annotation char(80), "
            "Compound_ID int, Compound_MolecularMass double, Compound_Retention_Time double, "
            "Compound_Intensity double, SAMPLE_ID int, SAMPLE_NAME char(256), Align_ID int, "
            "Align_RT double, Peak_shape blob);");
  const std::string indexes[] = {
      "CREATE INDEX if not exists Align_Peaklist_EIC_ID_index ON Align_Peaklist(EIC_ID);",
      "CREATE INDEX if not exists Align_Peaklist_Peak_ID_index ON Align_Peaklist(Peak_ID);",
      "CREATE INDEX if not exists Align_Peaklist_Group_ID_index ON Align_Peaklist(Group_ID);",
      "CREATE INDEX if not exists Align_Peaklist_Compound_ID_index ON Align_Peaklist(Compound_ID);",
      "CREATE INDEX if not exists Align_Peaklist_SAMPLE_ID_index ON Align_Peaklist(SAMPLE_ID);",
      "CREATE INDEX if not exists Align_Peaklist_Align_ID_index ON Align_Peaklist(Align_ID);",
  };
  ASSERT_EQ(Align_Index_Statements().size(), std::size(indexes));
  for (std::size_t i = 0; i < std::size(indexes); ++i) {
    EXPECT_EQ(Align_Index_Statements()[i], indexes[i]);
  }
  EXPECT_EQ(Align_Insert_Statement(),
            "insert into Align_Peaklist values(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, "
            "?13, ?14, ?15, ?16, ?17, ?18, ?19, ?20, ?21);");
  EXPECT_EQ(Align_Csv_Header(),
            "EIC_ID,Peak_ID,Apex_MZ,Apex_Pos,Apex_Retention_Time,Apex_Intensity,Peak_Area,Peak_SNR,"
            "Left_Boundary,Right_boundary,Group_ID,Adduct_Annotation,Compound_ID,"
            "Compound_MolecularMass,Compound_Retention_Time,Compound_Intensity,SAMPLE_ID,"
            "SAMPLE_NAME,Align_ID,Align_RT\n");
  EXPECT_EQ(Annotate_Create_Statement(),
            "create table Annotate_Peaklist(EIC_ID int, Peak_ID int, Apex_MZ double, Apex_Pos int, "
            "Apex_Retention_Time double, Apex_Intensity double, Peak_Area double, Peak_SNR double, "
            "Left_Boundary int, Right_Boundary int, Group_ID int, Adduct_Annotation char(80), "
            "Compound_ID int, Compound_MolecularMass double, Compound_Retention_Time double, "
            "Compound_Intensity double, Peak_shape blob);");
  EXPECT_EQ(Annotate_Insert_Statement(),
            "insert into Annotate_Peaklist values(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, "
            "?12, ?13, ?14, ?15, ?16, ?17);");
}

// Each column's accessor reaches the field of its own name: a record whose
// fields all differ gives back, column by column, the value set by name.
TEST(ResultColumnsTest, FieldAccessorsFollowColumnNames) {
  Chromatogram_Peak_Group_Compound_Align p;
  p.EIC_ID = 1;
  p.Peak_ID = 2;
  p.Apex_MZ = 3;
  p.Apex_Pos = 4;
  p.Apex_Retention_Time = 5;
  p.Apex_Intensity = 6;
  p.Peak_Area = 7;
  p.Peak_SNR = 8;
  p.Left_Boundary = 9;
  p.Right_Boundary = 10;
  p.Group_ID = 11;
  p.Adduct_Annotation = std::to_string(12);
  p.Compound_ID = 13;
  p.Compound_MolecularMass = 14;
  p.Compound_Retention_Time = 15;
  p.Compound_Intensity = 16;
  p.SAMPLE_ID = 17;
  p.SAMPLE_NAME = std::to_string(18);
  p.Align_ID = 19;
  p.Align_RT = 20;
  for (std::size_t c = 0; c < kShownColumnCount; ++c) {
    SCOPED_TRACE(kAlignColumns[c].name);
    const double expected = static_cast<double>(c + 1);
    switch (kAlignColumns[c].kind) {
      case Column_Kind::kInteger:
        EXPECT_EQ(Int_Field(p, c), expected);
        break;
      case Column_Kind::kReal:
        EXPECT_EQ(Real_Field(p, c), expected);
        break;
      case Column_Kind::kText:
        EXPECT_EQ(std::stod(Text_Field(p, c)), expected);
        break;
      case Column_Kind::kShape:
        ADD_FAILURE();
        break;
    }
  }
  Chromatogram_Peak_Group_Compound annotated;
  EXPECT_THROW(Int_Field(annotated, Column_Of("SAMPLE_ID")), std::logic_error);
  EXPECT_THROW(Real_Field(p, Column_Of("EIC_ID")), std::logic_error);
}

}  // namespace
