// varnel-report's work, callable without the program: the quality page of an
// aligned result, written as a folder that appears complete or not at all.
#ifndef VARNEL_UI_WIDGETS_QUALITY_REPORT_H_
#define VARNEL_UI_WIDGETS_QUALITY_REPORT_H_

#include <string>

#include "ui/quality_data.h"

namespace Varnel {

// Writes out_dir/index.html, one PNG per chart beside it (at least
// kMinSavedWidth pixels wide) for the aligned result at result_path.
// Everything is written into a fresh temporary folder beside out_dir and then
// renamed into place. out_dir may be missing or empty; a folder holding an
// earlier report (index.html and pictures only) is replaced as a whole; any
// other existing out_dir is refused, so nothing of the user's is lost.
// REQUIRES: a QApplication (the charts are drawn offscreen).
// Throws Quality_Error whose text starts with the path at fault (the result,
// out_dir or the file that could not be written); then out_dir is as before
// and no temporary folder remains.
// options.sheet colours the charts by group (and adds the QC and injection
// order charts when it has a QC group or an order column); options.progress
// may stop the work.
void Write_Quality_Report(const std::string& result_path, const std::string& out_dir,
                          const Quality_Options& options = {});

}  // namespace Varnel

#endif  // VARNEL_UI_WIDGETS_QUALITY_REPORT_H_
