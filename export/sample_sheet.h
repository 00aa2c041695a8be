// A sample sheet: which group (study variable) each sample belongs to.
#ifndef VARNEL_EXPORT_SAMPLE_SHEET_H_
#define VARNEL_EXPORT_SAMPLE_SHEET_H_

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "storage/aligned_result.h"

// CSV with two fields per line, sample and group, in file order. An optional
// first line "sample,group" (any case) is a header; with the header
// "sample,group,order" every line has a third field, the sample's injection
// order (a number; smaller ran earlier). Fields may be quoted (RFC
// 4180, one line each); spaces around a field are dropped; empty lines are
// skipped; a UTF-8 byte order mark is skipped.
struct Sample_Sheet {
  std::string path;
  std::vector<std::pair<std::string, std::string>> rows;  // sample, group
  std::vector<double> order;  // injection order of each row; empty without the column
};

// Throws std::runtime_error "<path>: ..." (with the line number where there
// is one) for an unreadable file, a line without exactly two fields (three
// with the order column), an order that is not a finite number, an empty
// sample or group, a sample named twice, an unterminated quote or no sample.
Sample_Sheet Read_Sample_Sheet(const std::string& path);

// Splits one CSV line into fields (RFC 4180 quoting within the line), spaces
// around an unquoted field dropped; false for an unterminated quote.
bool Split_Csv_Line(std::string_view line, std::vector<std::string>& fields);

// The group of every sample, in sample order: each sample is looked up by its
// shown name first, then by its SAMPLE_NAME. Throws std::runtime_error
// "<sheet path>: no group for sample(s) ..." naming up to five missing ones.
std::vector<std::string> Groups_Of(const std::vector<Result_Sample>& samples,
                                   const Sample_Sheet& sheet);

#endif  // VARNEL_EXPORT_SAMPLE_SHEET_H_
