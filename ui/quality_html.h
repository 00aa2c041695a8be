// The page of varnel-report, built without widgets: the summary table, one
// picture per chart (ID.png beside the page) and a per-sample table. The page
// needs nothing but the files beside it, so it opens offline.
#ifndef VARNEL_UI_QUALITY_HTML_H_
#define VARNEL_UI_QUALITY_HTML_H_

#include <QString>
#include <vector>

#include "ui/quality_charts.h"

namespace Varnel {

// File name of a chart's picture: its id followed by ".png".
QString Chart_File_Name(const Quality_Chart& chart);

// True for the charts the page shows two to a row (before and after a
// retention-time correction, PCA before and after the QC correction).
bool Chart_Shown_In_Pair(const Quality_Chart& chart);

// The whole page as UTF-8 HTML text. Every text from the result is escaped.
QString Quality_Report_Html(const Quality_Data& data, const std::vector<Quality_Chart>& charts);

}  // namespace Varnel

#endif  // VARNEL_UI_QUALITY_HTML_H_
