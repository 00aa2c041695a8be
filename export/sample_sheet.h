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
//
// Any other first line that names a sample column and a group column (in any
// order, among other columns) is a header of named columns: every line then
// has as many fields as it, columns it does not know are ignored, and these
// are read (names in any case, spaces, "_", "-" and "." ignored; the names
// other QC-correction tools give the same facts are accepted):
//   sample        sample, sample name, sample id, name, file name
//   group         group, class, classes, label, sample type
//   order         order, injection order, run order, sample order,
//                 acquisition order (a number, global across batches)
//   batch         batch, batch id, batch number, batch no (any text)
//   conditioning  conditioning, conditioning QC (yes/no, true/false, 1/0 or
//                 empty for no): QCs run to condition the column
struct Sample_Sheet {
  std::string path;
  std::vector<std::pair<std::string, std::string>> rows;  // sample, group
  std::vector<double> order;       // injection order of each row; empty without the column
  std::vector<std::string> batch;  // batch of each row; empty without the column
  std::vector<char> conditioning;  // 1 for a conditioning row; empty without the column
};

// Throws std::runtime_error "<path>: ..." (with the line number where there
// is one) for an unreadable file, a line without exactly two fields (three
// with the order column, as many as the header of named columns), a header
// naming one fact twice, an order that is not a finite number, an empty
// sample, group or batch, a conditioning mark that is not yes or no, a
// sample named twice, an unterminated quote or no sample.
Sample_Sheet Read_Sample_Sheet(const std::string& path);

// Splits one CSV line into fields (RFC 4180 quoting within the line), spaces
// around an unquoted field dropped; false for an unterminated quote.
bool Split_Csv_Line(std::string_view line, std::vector<std::string>& fields);

// The group of every sample, in sample order: each sample is looked up by its
// shown name first, then by its SAMPLE_NAME. Throws std::runtime_error
// "<sheet path>: no group for sample(s) ..." naming up to five missing ones.
std::vector<std::string> Groups_Of(const std::vector<Result_Sample>& samples,
                                   const Sample_Sheet& sheet);
// The sheet row of every sample, looked up and refused as by Groups_Of.
std::vector<std::size_t> Sheet_Rows_Of(const std::vector<Result_Sample>& samples,
                                       const Sample_Sheet& sheet);

#endif  // VARNEL_EXPORT_SAMPLE_SHEET_H_
