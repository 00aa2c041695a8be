// What the visualization charts show, built without widgets: the query of the
// two peak lists for a selected grid row, and from them each chart's curves
// (points, colour, legend label), title and axis titles. Also the rule by
// which the radio handlers decide to redraw.
#ifndef VARNEL_UI_VIZ_PLOT_H_
#define VARNEL_UI_VIZ_PLOT_H_

#include <QColor>
#include <QList>
#include <QString>
#include <optional>
#include <string>
#include <vector>

#include "model/peak.h"
#include "storage/rt_shift_curves.h"

namespace Varnel {

class Align_Table_Model;

using Peak_List = std::vector<Chromatogram_Peak_Group_Compound_Align>;

// kRT_Corrected moves every peak onto its group's Align_RT (a group always
// looks aligned there); kRT_Drift_Corrected draws each peak at its own times
// moved by its sample's stored drift correction (results aligned with it).
enum class X_Axis { kScan, kRT_Original, kRT_Corrected, kRT_Drift_Corrected };

// The captions and tooltips of the time-axis choices beyond Scan Number.
inline constexpr char kRT_Drift_Corrected_Caption[] = "RT_Drift_Corrected";
inline constexpr char kRT_Corrected_Tip[] =
    "Each peak moved onto its group's Align_RT: a group always looks perfectly aligned here, "
    "whatever its members' own times.";
inline constexpr char kRT_Drift_Corrected_Tip[] =
    "Each peak at its own retention times moved by its sample's drift correction, as the "
    "alignment saw them: how well the group agrees after the correction.";
enum class Y_Scale { kStandard, kNormalized };
enum class Detail_Mode { kPeak, kGroup, kCompound };

struct Plot_Options {
  X_Axis x_axis = X_Axis::kScan;
  Y_Scale y_scale = Y_Scale::kStandard;
  Detail_Mode detail = Detail_Mode::kPeak;
};

// The keys of the selected grid row: the integer cells kCol_EIC_ID,
// kCol_Peak_ID, kCol_Group_ID, kCol_Compound_ID, kCol_SAMPLE_ID and
// kCol_Align_ID (ui/grid/aligned_table.h); kCol_SAMPLE_NAME and kCol_Align_ID
// as text.
struct Row_Keys {
  int EIC_ID = 0;
  int Peak_ID = 0;
  int Group_ID = 0;
  int Compound_ID = 0;
  int SAMPLE_ID = 0;
  int Align_ID = 0;
  QString sample_name;
  QString align_id_text;
};

// One line curve; an empty label means no legend entry.
struct Curve {
  QString label;
  QList<double> x;
  QList<double> y;
  QColor color;
};

struct Chart_Content {
  QString title;
  QString x_title;
  QString y_title;
  std::vector<Curve> curves;
};

// The two lists of one redraw: every peak of the row's alignment (sorted by
// SAMPLE_ID; the row's own peak alone for Align_ID 0), and the row's peak,
// group or compound within its sample.
struct Redraw_Lists {
  Peak_List aligned;
  Peak_List detail;
};

// Palettes larger than this are never built: entries wrap around instead, so
// a corrupt SAMPLE_ID cannot make a redraw allocate without bound.
inline constexpr int kMaxPaletteColors = 1 << 16;

// A real number as the grid and the legends show it: general format, up to
// 15 significant digits, in the user's locale, without group separators.
QString Format_General(double value);

// The plot-mode caption: "Peak Plot", "Group Plot" or "Compound Plot".
QString Detail_Caption(Detail_Mode mode);

// Largest Intensity of the peak's points, starting from 0.0 (NaN ignored).
double Peak_Height(const Chromatogram_Peak_Group_Compound_Align& peak);
// Largest peak height of the list, starting from 0.0.
double List_Height(const Peak_List& peaks);

// The keys of displayed row `row` of the result grid. Throws
// std::runtime_error naming file (the database the grid shows) when a key
// cell holds no whole number. REQUIRES: 0 <= row < model.rowCount().
Row_Keys Grid_Row_Keys(const Align_Table_Model& model, int row, const std::string& file);

// Runs the Engine_Query_ functions on Join_Path(path, file) for the row.
// Throws whatever the queries throw (CppSQLite3Exception, std::exception).
Redraw_Lists Query_Redraw_Lists(const std::string& path, const std::string& file,
                                const Row_Keys& row, Detail_Mode mode);

// The upper chart: one curve per peak in list order, coloured and labelled
// by sample (each sample labelled once), X corrected under kRT_Corrected,
// and under kRT_Drift_Corrected by `drift` (the times as read without it).
// REQUIRES: aligned sorted by ascending SAMPLE_ID.
Chart_Content Build_Aligned_Chart(const Peak_List& aligned, const QString& align_id_text,
                                  X_Axis x_axis, Y_Scale y_scale,
                                  const Rt_Shift_Curves* drift = nullptr);
// The lower chart: one curve per peak, labelled by Apex_MZ (plus the adduct
// under kCompound), coloured by position; never moved onto Align_RT, but
// under kRT_Drift_Corrected moved by `drift` like the upper chart.
Chart_Content Build_Detail_Chart(const Peak_List& detail, const QString& sample_name,
                                 const Plot_Options& options,
                                 const Rt_Shift_Curves* drift = nullptr);

// The drift correction stored in the result Join_Path(path, file), or
// nothing when it holds none. Throws what opening the result throws.
std::optional<Rt_Shift_Curves> Read_Drift_Curves(const std::string& path, const std::string& file);

// The five radio handlers and the checked state of the three radio groups.
enum class Radio_Handler {
  kNormalized,
  kRT_Original,
  kRT_Corrected,
  kGroupPlot,
  kCompoundPlot,
  kRT_Drift_Corrected
};
struct Radio_State {
  bool scan = true;
  bool rt_original = false;
  bool rt_corrected = false;
  bool rt_drift_corrected = false;
  bool peak_plot = true;
  bool group_plot = false;
  bool compound_plot = false;
};
// Whether a handler redraws when its button's checked state changed, given the
// state after the change. Every change of selection in a group is then
// redrawn exactly once by one of the handlers.
bool Handler_Redraws(Radio_Handler handler, const Radio_State& state);

}  // namespace Varnel

#endif  // VARNEL_UI_VIZ_PLOT_H_
