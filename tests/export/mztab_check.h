// A structural checker of mzTab-M 2.0.0-M files, for the tests of the mzTab-M
// export: line prefixes, section order, cell counts, mandatory metadata with
// consistent indexes, the required SML and SMF columns in their order, "null"
// for missing values and plain decimal numbers. It checks structure, not
// controlled-vocabulary terms.
#ifndef VARNEL_TESTS_EXPORT_MZTAB_CHECK_H_
#define VARNEL_TESTS_EXPORT_MZTAB_CHECK_H_

#include <string>
#include <string_view>
#include <vector>

// Every problem found in text, each as "line N: what" or a whole-file
// problem; empty when text passes.
std::vector<std::string> Check_MzTab(std::string_view text);

#endif  // VARNEL_TESTS_EXPORT_MZTAB_CHECK_H_
