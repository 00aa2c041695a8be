#include "storage/result_columns.h"

namespace {

static_assert(kAlignColumns.back().kind == Column_Kind::kShape,
              "Peak_shape is the last column and the only one not shown");

// The columns joined by ", " but for the first join, which is
// first_separator (Align_Peaklist has always been created with "," there).
std::string Create_Statement(const char* table, bool annotated, const char* first_separator) {
  std::string s = std::string("create table ") + table + "(";
  std::size_t written = 0;
  for (const Peak_Column& c : kAlignColumns) {
    if (annotated && !c.in_annotated) continue;
    if (written == 1) s += first_separator;
    if (written > 1) s += ", ";
    ++written;
    s += c.name;
    s += ' ';
    s += c.sql_type;
  }
  s += ");";
  return s;
}

std::string Insert_Statement(const char* table, std::size_t columns) {
  std::string s = std::string("insert into ") + table + " values(";
  for (std::size_t i = 1; i <= columns; ++i) {
    if (i > 1) s += ", ";
    s += '?';
    s += std::to_string(i);
  }
  s += ");";
  return s;
}

}  // namespace

const std::string& Align_Create_Statement() {
  static const std::string text = Create_Statement("Align_Peaklist", false, ",");
  return text;
}

std::string Align_Index_Name(const Peak_Column& c) {
  return std::string("Align_Peaklist_") + c.name + "_index";
}

const std::array<std::string, 6>& Align_Index_Statements() {
  static const std::array<std::string, 6> texts = [] {
    std::array<std::string, 6> out;
    std::size_t n = 0;
    for (const Peak_Column& c : kAlignColumns) {
      if (!c.indexed) continue;
      out.at(n++) = "CREATE INDEX if not exists " + Align_Index_Name(c) + " ON Align_Peaklist(" +
                    c.name + ");";
    }
    return out;
  }();
  return texts;
}

const std::string& Align_Insert_Statement() {
  static const std::string text = Insert_Statement("Align_Peaklist", kAlignColumnCount);
  return text;
}

const std::string& Align_Csv_Header() {
  static const std::string text = [] {
    std::string s;
    for (std::size_t c = 0; c < kShownColumnCount; ++c) {
      if (c > 0) s += ',';
      s += kAlignColumns[c].shown_name;
    }
    s += '\n';
    return s;
  }();
  return text;
}

const std::string& Annotate_Create_Statement() {
  static const std::string text = Create_Statement("Annotate_Peaklist", true, ", ");
  return text;
}

const std::string& Annotate_Insert_Statement() {
  static const std::string text = Insert_Statement("Annotate_Peaklist", kAnnotateColumnCount);
  return text;
}

const std::array<const Peak_Column*, kAnnotateColumnCount>& Annotate_Columns() {
  static const std::array<const Peak_Column*, kAnnotateColumnCount> columns = [] {
    std::array<const Peak_Column*, kAnnotateColumnCount> out{};
    std::size_t n = 0;
    for (const Peak_Column& c : kAlignColumns) {
      if (c.in_annotated) out.at(n++) = &c;
    }
    return out;
  }();
  return columns;
}
