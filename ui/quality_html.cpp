#include "ui/quality_html.h"

#include <QFileInfo>

#include "ui/text_codec.h"

namespace Varnel {

namespace {

const char* const kStyle =
    "body{font-family:'DejaVu Sans',Arial,sans-serif;margin:24px auto;max-width:1300px;"
    "color:#222;background:#fff}"
    "h1{font-size:24px;margin:0 0 4px}h2{font-size:19px;margin:28px 0 8px;"
    "border-bottom:1px solid #ccc;padding-bottom:4px}"
    ".file{color:#555;margin:0 0 8px;word-break:break-all}"
    ".verdict{font-size:17px;font-weight:bold;margin:0 0 16px;padding:8px 12px;"
    "background:#f2f6fa;border-left:4px solid #4682b4}"
    "table{border-collapse:collapse;font-size:14px}"
    "td,th{padding:4px 12px;border-bottom:1px solid #e4e4e4;text-align:left}"
    "th{background:#f2f2f2}table.summary "
    "td:first-child{white-space:nowrap}td.n{text-align:right;font-variant-numeric:tabular-nums}"
    "tr.section td{font-weight:bold;background:#f7f7f7;padding-top:10px}"
    "tr.flag td{color:#b00}"
    "figure{margin:0 0 24px}figure img{width:100%;height:auto;border:1px solid #ddd}"
    ".pair{display:flex;gap:12px}.pair figure{flex:1;min-width:0}"
    ".scroll{max-height:600px;overflow:auto;border:1px solid #e4e4e4;display:inline-block}";

QString Escape(const QString& text) { return text.toHtmlEscaped(); }

QString Figure(const Quality_Chart& chart) {
  return QStringLiteral("<figure><img src=\"%1\" alt=\"%2\"></figure>\n")
      .arg(Escape(Chart_File_Name(chart)), Escape(chart.title));
}

}  // namespace

bool Chart_Shown_In_Pair(const Quality_Chart& chart) {
  return chart.id == QLatin1String("rt_deviation_before") ||
         chart.id == QLatin1String("rt_deviation_after") ||
         chart.id == QLatin1String("signal_pca_before") ||
         chart.id == QLatin1String("signal_pca_after");
}

QString Chart_File_Name(const Quality_Chart& chart) { return chart.id + QStringLiteral(".png"); }

QString Quality_Report_Html(const Quality_Data& data, const std::vector<Quality_Chart>& charts) {
  const QString file = From_Engine_String(data.file);
  QString html;
  html += QStringLiteral(
              "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
              "<title>Alignment quality: %1</title>\n<style>%2</style>\n</head>\n<body>\n")
              .arg(Escape(QFileInfo(file).fileName()), QString::fromLatin1(kStyle));
  html +=
      QStringLiteral("<h1>Alignment quality</h1>\n<p class=\"file\">%1</p>\n").arg(Escape(file));
  html += QStringLiteral("<p class=\"verdict\">%1</p>\n").arg(Escape(Quality_Verdict(data)));

  html += QStringLiteral("<h2>Summary</h2>\n<table class=\"summary\">\n");
  for (const Summary_Row& row : Quality_Summary(data)) {
    if (row.section)
      html += QStringLiteral("<tr class=\"section\"><td colspan=\"2\">%1</td></tr>\n")
                  .arg(Escape(row.label));
    else
      html += QStringLiteral("<tr><td>%1</td><td>%2</td></tr>\n")
                  .arg(Escape(row.label), Escape(row.value));
  }
  html += QStringLiteral("</table>\n");

  // Before and after a correction stand side by side.
  html += QStringLiteral("<h2>Charts</h2>\n");
  for (std::size_t i = 0; i < charts.size(); ++i) {
    if (Chart_Shown_In_Pair(charts[i]) && i + 1 < charts.size() &&
        Chart_Shown_In_Pair(charts[i + 1])) {
      html += QStringLiteral("<div class=\"pair\">\n") + Figure(charts[i]) + Figure(charts[i + 1]) +
              QStringLiteral("</div>\n");
      ++i;
      continue;
    }
    html += Figure(charts[i]);
  }

  html += QStringLiteral(
              "<h2>Samples</h2>\n<p>Ordered by median |retention-time deviation|, largest first; "
              "a robust score of %1 or more is marked red.</p>\n<div class=\"scroll\"><table>\n"
              "<tr><th>Sample</th><th>SAMPLE_ID</th><th>Peaks read</th><th>Peaks aligned</th>"
              "<th>Share aligned</th><th>Median RT deviation (s)</th>"
              "<th>Median |RT deviation| (s)</th><th>Robust score</th>%2"
              "<th>Missing values</th><th>Median correlation</th>%3</tr>\n")
              .arg(Quality_Number(kOutlierScore, 1),
                   data.has_correction ? QStringLiteral("<th>Median |RT deviation| after "
                                                        "correction (s)</th>")
                                       : QString(),
                   data.has_sheet ? QStringLiteral("<th>Group</th>") : QString());
  for (std::uint32_t s : data.outlier_order) {
    const Sample_Quality& q = data.samples[s];
    html +=
        QStringLiteral(
            "<tr%1><td>%2</td><td class=\"n\">%3</td><td class=\"n\">%4</td>"
            "<td class=\"n\">%5</td><td class=\"n\">%6 %</td><td class=\"n\">%7</td>"
            "<td class=\"n\">%8</td><td class=\"n\">%9</td>")
            .arg(q.outlier_score >= kOutlierScore ? QStringLiteral(" class=\"flag\"") : QString(),
                 Escape(From_Engine_String(q.name)), QString::number(q.sample_id),
                 QString::number(static_cast<qulonglong>(q.peaks_read)),
                 QString::number(static_cast<qulonglong>(q.peaks_aligned)),
                 Quality_Number(100.0 * q.Share_Aligned(), 1),
                 Quality_Number(q.median_rt_before, 2), Quality_Number(q.median_abs_rt, 2),
                 Quality_Number(q.outlier_score, 1));
    if (data.has_correction)
      html +=
          QStringLiteral("<td class=\"n\">%1</td>").arg(Quality_Number(q.median_abs_rt_after, 2));
    html += QStringLiteral("<td class=\"n\">%1</td><td class=\"n\">%2</td>")
                .arg(QString::number(static_cast<qulonglong>(q.missing)),
                     Quality_Number(q.median_correlation, 3));
    if (data.has_sheet)
      html +=
          QStringLiteral("<td>%1</td>").arg(Escape(From_Engine_String(data.group_names[q.group])));
    html += QStringLiteral("</tr>\n");
  }
  html += QStringLiteral("</table></div>\n");

  if (data.run_inputs.size() > 1) {
    html += QStringLiteral("<h2>Input files of the run</h2>\n<table>\n<tr>");
    for (const std::string& name : data.run_inputs.front())
      html += QStringLiteral("<th>%1</th>").arg(Escape(From_Engine_String(name)));
    html += QStringLiteral("</tr>\n");
    for (std::size_t r = 1; r < data.run_inputs.size(); ++r) {
      html += QStringLiteral("<tr>");
      for (const std::string& cell : data.run_inputs[r])
        html += QStringLiteral("<td>%1</td>").arg(Escape(From_Engine_String(cell)));
      html += QStringLiteral("</tr>\n");
    }
    html += QStringLiteral("</table>\n");
  }
  html += QStringLiteral("</body>\n</html>\n");
  return html;
}

}  // namespace Varnel
