#include "ui/viz_plot.h"

#include <QLocale>
#include <algorithm>
#include <cstdint>
#include <stdexcept>

#include "storage/aligned_queries.h"
#include "storage/aligned_result.h"
#include "storage/path.h"
#include "ui/align_table_model.h"
#include "ui/grid/aligned_table.h"
#include "ui/text_codec.h"
#include "ui/viz_palette.h"

namespace Varnel {

namespace {

const QString kAlignedTitle = QStringLiteral("Aligned Plot  for Align_ID: ");
const QString kSampleTitle = QStringLiteral(" for Sample: ");
const QString kIntensityTitle = QStringLiteral("Intensity");
const QString kScanTitle = QStringLiteral("Scan Number");
const QString kRetentionTitle = QStringLiteral("Retention Time (seconds)");

const QString kDriftRetentionTitle = QStringLiteral("Retention Time, drift-corrected (seconds)");

QString X_Title(X_Axis x_axis) {
  if (x_axis == X_Axis::kRT_Drift_Corrected) return kDriftRetentionTitle;
  return x_axis == X_Axis::kScan ? kScanTitle : kRetentionTitle;
}

// Under Normalized a peak is raised to the list's height; a peak of height
// 0.0 has nothing to raise and is drawn as it is.
double Scale_Factor(Y_Scale y_scale, double list_height, double peak_height) {
  if (y_scale == Y_Scale::kStandard || peak_height == 0.0) return 1.0;
  return list_height / peak_height;
}

int Palette_Size(std::uint64_t wanted) {
  return static_cast<int>(std::min<std::uint64_t>(wanted, kMaxPaletteColors));
}

const QColor& Entry(const std::vector<QColor>& palette, std::uint64_t index) {
  return palette[index % palette.size()];
}

}  // namespace

QString Format_General(double value) {
  QLocale locale;
  locale.setNumberOptions(locale.numberOptions() | QLocale::OmitGroupSeparator);
  return locale.toString(value, 'g', 15);
}

QString Detail_Caption(Detail_Mode mode) {
  switch (mode) {
    case Detail_Mode::kGroup:
      return QStringLiteral("Group Plot");
    case Detail_Mode::kCompound:
      return QStringLiteral("Compound Plot");
    default:
      return QStringLiteral("Peak Plot");
  }
}

double Peak_Height(const Chromatogram_Peak_Group_Compound_Align& peak) {
  double height = 0.0;
  for (const Data_Point& p : peak.Peak_shape)
    if (p.Intensity > height) height = p.Intensity;
  return height;
}

double List_Height(const Peak_List& peaks) {
  double height = 0.0;
  for (const auto& peak : peaks) height = std::max(height, Peak_Height(peak));
  return height;
}

Redraw_Lists Query_Redraw_Lists(const std::string& path, const std::string& file,
                                const Row_Keys& row, Detail_Mode mode) {
  Redraw_Lists lists;
  if (row.Align_ID == 0) {
    Engine_Query_ChromatographPeak_FromAlignDataBase(path, file, row.SAMPLE_ID, row.EIC_ID,
                                                     row.Peak_ID, lists.aligned);
  } else {
    Engine_Query_AlignedAnnotatedGroupedChromatographPeaklist_FromAlignDataBase(
        path, file, row.Align_ID, lists.aligned);
  }
  if (mode == Detail_Mode::kGroup) {
    Engine_Query_GroupedChromatographPeaklist_FromAlignDataBase(path, file, row.SAMPLE_ID,
                                                                row.Group_ID, lists.detail);
  } else if (mode == Detail_Mode::kCompound && row.Compound_ID != 0) {
    Engine_Query_AnnotatedGroupedChromatographPeaklist_FromAlignDataBase(
        path, file, row.SAMPLE_ID, row.Compound_ID, lists.detail);
  } else {
    Engine_Query_ChromatographPeak_FromAlignDataBase(path, file, row.SAMPLE_ID, row.EIC_ID,
                                                     row.Peak_ID, lists.detail);
  }
  return lists;
}

Chart_Content Build_Aligned_Chart(const Peak_List& aligned, const QString& align_id_text,
                                  X_Axis x_axis, Y_Scale y_scale, const Rt_Shift_Curves* drift) {
  Chart_Content chart;
  chart.title = kAlignedTitle + align_id_text;
  chart.x_title = X_Title(x_axis);
  chart.y_title = kIntensityTitle;
  if (aligned.empty()) return chart;  // nothing to size the palette by, nothing to draw

  const std::vector<QColor> palette =
      Make_Palette(Palette_Size(std::uint64_t{aligned.back().SAMPLE_ID} + 1));
  const double list_height = List_Height(aligned);
  chart.curves.reserve(aligned.size());
  for (std::size_t i = 0; i < aligned.size(); ++i) {
    const auto& peak = aligned[i];
    Curve curve;
    if (i == 0) {
      curve.label = From_Engine_String(peak.SAMPLE_NAME);
      curve.color = palette[0];
    } else if (peak.SAMPLE_ID != aligned[i - 1].SAMPLE_ID) {
      curve.label = From_Engine_String(peak.SAMPLE_NAME);
      curve.color = Entry(palette, peak.SAMPLE_ID);
    } else {
      curve.color = chart.curves.back().color;
    }
    const double f = Scale_Factor(y_scale, list_height, Peak_Height(peak));
    curve.x.reserve(static_cast<qsizetype>(peak.Peak_shape.size()));
    curve.y.reserve(static_cast<qsizetype>(peak.Peak_shape.size()));
    for (const Data_Point& p : peak.Peak_shape) {
      curve.y.push_back(p.Intensity * f);
      switch (x_axis) {
        case X_Axis::kScan:
          curve.x.push_back(static_cast<double>(p.Scan));
          break;
        case X_Axis::kRT_Corrected:
          curve.x.push_back(peak.Align_RT + p.RT - peak.Compound_Retention_Time);
          break;
        case X_Axis::kRT_Drift_Corrected:
          curve.x.push_back(drift != nullptr ? drift->Corrected(peak.SAMPLE_ID, p.RT) : p.RT);
          break;
        default:
          curve.x.push_back(p.RT);
          break;
      }
    }
    chart.curves.push_back(std::move(curve));
  }
  return chart;
}

Chart_Content Build_Detail_Chart(const Peak_List& detail, const QString& sample_name,
                                 const Plot_Options& options, const Rt_Shift_Curves* drift) {
  Chart_Content chart;
  chart.title = Detail_Caption(options.detail) + kSampleTitle + sample_name;
  chart.x_title = X_Title(options.x_axis);
  chart.y_title = kIntensityTitle;
  if (detail.empty()) return chart;

  const std::vector<QColor> palette = Make_Palette(Palette_Size(detail.size()));
  const double list_height = List_Height(detail);
  chart.curves.reserve(detail.size());
  for (std::size_t k = 0; k < detail.size(); ++k) {
    const auto& peak = detail[k];
    Curve curve;
    curve.label = Format_General(peak.Apex_MZ);
    if (options.detail == Detail_Mode::kCompound)
      curve.label += QLatin1Char(' ') + From_Engine_String(peak.Adduct_Annotation);
    curve.color = Entry(palette, k);
    const double f = Scale_Factor(options.y_scale, list_height, Peak_Height(peak));
    curve.x.reserve(static_cast<qsizetype>(peak.Peak_shape.size()));
    curve.y.reserve(static_cast<qsizetype>(peak.Peak_shape.size()));
    for (const Data_Point& p : peak.Peak_shape) {
      curve.y.push_back(p.Intensity * f);
      if (options.x_axis == X_Axis::kScan) {
        curve.x.push_back(static_cast<double>(p.Scan));
      } else if (options.x_axis == X_Axis::kRT_Drift_Corrected && drift != nullptr) {
        curve.x.push_back(drift->Corrected(peak.SAMPLE_ID, p.RT));
      } else {
        curve.x.push_back(p.RT);
      }
    }
    chart.curves.push_back(std::move(curve));
  }
  return chart;
}

bool Handler_Redraws(Radio_Handler handler, const Radio_State& s) {
  switch (handler) {
    case Radio_Handler::kNormalized:
      return true;  // two buttons: one event per change
    case Radio_Handler::kRT_Original:
      return s.rt_original || s.scan;
    case Radio_Handler::kRT_Corrected:
      return s.rt_corrected || s.scan;
    case Radio_Handler::kGroupPlot:
      return s.group_plot || s.peak_plot;
    case Radio_Handler::kCompoundPlot:
      return s.compound_plot || s.peak_plot;
    case Radio_Handler::kRT_Drift_Corrected:
      return s.rt_drift_corrected || s.scan;
  }
  return false;
}

Row_Keys Grid_Row_Keys(const Align_Table_Model& model, int row, const std::string& file) {
  const auto whole = [&](int column) {
    if (std::optional<int> value = model.Int_Cell(row, column)) return *value;
    throw std::runtime_error(file + ": the selected row holds no whole number in column " +
                             model.Table().Column_Name(column) + ".");
  };
  Row_Keys keys;
  keys.Align_ID = whole(kCol_Align_ID);
  keys.SAMPLE_ID = whole(kCol_SAMPLE_ID);
  keys.EIC_ID = whole(kCol_EIC_ID);
  keys.Peak_ID = whole(kCol_Peak_ID);
  keys.Group_ID = whole(kCol_Group_ID);
  keys.Compound_ID = whole(kCol_Compound_ID);
  keys.sample_name = model.Text_Cell(row, kCol_SAMPLE_NAME);
  keys.align_id_text = model.Text_Cell(row, kCol_Align_ID);
  return keys;
}

std::optional<Rt_Shift_Curves> Read_Drift_Curves(const std::string& path, const std::string& file) {
  Aligned_Result result(Join_Path(path, file));
  std::optional<std::vector<Rt_Shift_Point>> points = result.Read_Rt_Correction();
  if (!points || points->empty()) return std::nullopt;
  return Rt_Shift_Curves(std::move(*points));
}

}  // namespace Varnel
