// The columns of the peak tables, in stored order: Align_Peaklist (the
// result, 21 columns) and Annotate_Peaklist (the input, 17 columns: the first
// 16 result columns and Peak_shape). Every statement, header line and column
// list that names these columns is made from this one table.
#ifndef VARNEL_STORAGE_RESULT_COLUMNS_H_
#define VARNEL_STORAGE_RESULT_COLUMNS_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "model/peak.h"

// How a column's values are written and read back.
enum class Column_Kind {
  kInteger,  // a 32-bit identifier or position, stored signed ("%d")
  kReal,     // a double
  kText,     // an 8-bit text
  kShape,    // the stored Peak_shape form
};

struct Peak_Column {
  const char* name;      // as created in the table
  const char* sql_type;  // as written in the create statement
  Column_Kind kind;
  const char* shown_name;  // in the CSV header and the grid's select
  bool in_annotated;       // also a column of Annotate_Peaklist
  bool indexed;            // Align_Peaklist has an index on it
};

// Align_Peaklist in stored order. Peak_shape is the only column left out of
// the CSV file and the grid; Right_Boundary is shown as "Right_boundary".
inline constexpr std::array<Peak_Column, 21> kAlignColumns = {{
    {"EIC_ID", "int", Column_Kind::kInteger, "EIC_ID", true, true},
    {"Peak_ID", "int", Column_Kind::kInteger, "Peak_ID", true, true},
    {"Apex_MZ", "double", Column_Kind::kReal, "Apex_MZ", true, false},
    {"Apex_Pos", "int", Column_Kind::kInteger, "Apex_Pos", true, false},
    {"Apex_Retention_Time", "double", Column_Kind::kReal, "Apex_Retention_Time", true, false},
    {"Apex_Intensity", "double", Column_Kind::kReal, "Apex_Intensity", true, false},
    {"Peak_Area", "double", Column_Kind::kReal, "Peak_Area", true, false},
    {"Peak_SNR", "double", Column_Kind::kReal, "Peak_SNR", true, false},
    {"Left_Boundary", "int", Column_Kind::kInteger, "Left_Boundary", true, false},
    {"Right_Boundary", "int", Column_Kind::kInteger, "Right_boundary", true, false},
    {"Group_ID", "int", Column_Kind::kInteger, "Group_ID", true, true},
    {"Adduct_Annotation", "char(80)", Column_Kind::kText, "Adduct_Annotation", true, false},
    {"Compound_ID", "int", Column_Kind::kInteger, "Compound_ID", true, true},
    {"Compound_MolecularMass", "double", Column_Kind::kReal, "Compound_MolecularMass", true, false},
    {"Compound_Retention_Time", "double", Column_Kind::kReal, "Compound_Retention_Time", true,
     false},
    {"Compound_Intensity", "double", Column_Kind::kReal, "Compound_Intensity", true, false},
    {"SAMPLE_ID", "int", Column_Kind::kInteger, "SAMPLE_ID", false, true},
    {"SAMPLE_NAME", "char(256)", Column_Kind::kText, "SAMPLE_NAME", false, false},
    {"Align_ID", "int", Column_Kind::kInteger, "Align_ID", false, true},
    {"Align_RT", "double", Column_Kind::kReal, "Align_RT", false, false},
    {"Peak_shape", "blob", Column_Kind::kShape, nullptr, true, false},
}};

inline constexpr std::size_t kAlignColumnCount = kAlignColumns.size();
// Columns of the CSV file and the grid: all but Peak_shape (the last), in
// stored order, so shown column i is kAlignColumns[i].
inline constexpr std::size_t kShownColumnCount = kAlignColumnCount - 1;
inline constexpr std::size_t kAnnotateColumnCount = 17;

// Position of the column named name in kAlignColumns. Used in constant
// expressions only: a name that is not there does not compile.
consteval std::size_t Column_Of(std::string_view name) {
  for (std::size_t c = 0; c < kAlignColumnCount; ++c) {
    if (name == kAlignColumns[c].name) return c;
  }
  throw std::logic_error("no such column");
}

// The record field behind column `column` of an integer, real or text kind.
// Peak is one of the two peak records (const or not); the result is a
// reference into it. Throws std::logic_error for a column of another kind or
// one the record lacks (a programming error).
template <typename Peak>
auto& Int_Field(Peak& p, std::size_t column) {
  switch (column) {
    case Column_Of("EIC_ID"):
      return p.EIC_ID;
    case Column_Of("Peak_ID"):
      return p.Peak_ID;
    case Column_Of("Apex_Pos"):
      return p.Apex_Pos;
    case Column_Of("Left_Boundary"):
      return p.Left_Boundary;
    case Column_Of("Right_Boundary"):
      return p.Right_Boundary;
    case Column_Of("Group_ID"):
      return p.Group_ID;
    case Column_Of("Compound_ID"):
      return p.Compound_ID;
    default:
      break;
  }
  if constexpr (requires { p.SAMPLE_ID; }) {
    if (column == Column_Of("SAMPLE_ID")) return p.SAMPLE_ID;
    if (column == Column_Of("Align_ID")) return p.Align_ID;
  }
  throw std::logic_error("not an integer column of the record");
}

template <typename Peak>
auto& Real_Field(Peak& p, std::size_t column) {
  switch (column) {
    case Column_Of("Apex_MZ"):
      return p.Apex_MZ;
    case Column_Of("Apex_Retention_Time"):
      return p.Apex_Retention_Time;
    case Column_Of("Apex_Intensity"):
      return p.Apex_Intensity;
    case Column_Of("Peak_Area"):
      return p.Peak_Area;
    case Column_Of("Peak_SNR"):
      return p.Peak_SNR;
    case Column_Of("Compound_MolecularMass"):
      return p.Compound_MolecularMass;
    case Column_Of("Compound_Retention_Time"):
      return p.Compound_Retention_Time;
    case Column_Of("Compound_Intensity"):
      return p.Compound_Intensity;
    default:
      break;
  }
  if constexpr (requires { p.Align_RT; }) {
    if (column == Column_Of("Align_RT")) return p.Align_RT;
  }
  throw std::logic_error("not a real column of the record");
}

template <typename Peak>
auto& Text_Field(Peak& p, std::size_t column) {
  if (column == Column_Of("Adduct_Annotation")) return p.Adduct_Annotation;
  if constexpr (requires { p.SAMPLE_NAME; }) {
    if (column == Column_Of("SAMPLE_NAME")) return p.SAMPLE_NAME;
  }
  throw std::logic_error("not a text column of the record");
}

// "create table Align_Peaklist(EIC_ID int,Peak_ID int, Apex_MZ double, ...,
// Peak_shape blob);" (no space after the first comma).
const std::string& Align_Create_Statement();
// The name of Align_Peaklist's index on column c: "Align_Peaklist_<c>_index".
std::string Align_Index_Name(const Peak_Column& c);
// The six "CREATE INDEX if not exists Align_Peaklist_X_index ON
// Align_Peaklist(X);" statements, in column order.
const std::array<std::string, 6>& Align_Index_Statements();
// "insert into Align_Peaklist values(?1, ?2, ..., ?21);"
const std::string& Align_Insert_Statement();
// The CSV header line with its "\n": the shown names joined by ",".
const std::string& Align_Csv_Header();

// "create table Annotate_Peaklist(EIC_ID int, Peak_ID int, ..., Peak_shape
// blob);"
const std::string& Annotate_Create_Statement();
// "insert into Annotate_Peaklist values(?1, ?2, ..., ?17);"
const std::string& Annotate_Insert_Statement();
// The columns of Annotate_Peaklist in stored order.
const std::array<const Peak_Column*, kAnnotateColumnCount>& Annotate_Columns();

#endif  // VARNEL_STORAGE_RESULT_COLUMNS_H_
