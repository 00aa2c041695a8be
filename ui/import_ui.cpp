#include "ui/import_ui.h"

#include <string>
#include <vector>

#include "storage/path.h"
#include "import/feature_import.h"
#include "ui/text_codec.h"

namespace Varnel {

std::optional<QString> Check_Import(const Import_Form_Values& values) {
  if (!Parse_Import_Format(To_Engine_String(values.format))) {
    return QStringLiteral("Unknown feature-list format \"%1\".").arg(values.format);
  }
  if (values.inputs.isEmpty()) return QStringLiteral("Please choose the feature lists to import!");
  if (values.out_dir.trimmed().isEmpty()) {
    return QStringLiteral("Please choose the folder to write the databases into!");
  }
  return std::nullopt;
}

Import_Summary Run_Import(const Import_Form_Values& values) {
  Import_Options options;
  options.format = *Parse_Import_Format(To_Engine_String(values.format));
  if (values.rt_unit == QStringLiteral("min")) options.rt_unit = Rt_Unit::kMinutes;
  if (values.rt_unit == QStringLiteral("s")) options.rt_unit = Rt_Unit::kSeconds;
  std::vector<std::string> inputs;
  for (const QString& input : values.inputs) inputs.push_back(To_Engine_String(input));
  const std::string out_dir = To_Engine_String(values.out_dir);

  const std::vector<Imported_Database> written =
      Write_Imported_Samples(Read_Feature_Lists(options, inputs), out_dir);
  Import_Summary summary;
  std::size_t features = 0;
  std::size_t neutral = 0;
  for (const Imported_Database& d : written) {
    summary.databases.push_back(From_Engine_String(Join_Path(out_dir, d.file_name)));
    features += d.features;
    neutral += d.neutral;
  }
  summary.message = QStringLiteral(
                        "Imported %1 samples (%2 features) into %3.\nMasses: %4 neutral (from the "
                        "adduct), %5 the m/z.")
                        .arg(written.size())
                        .arg(features)
                        .arg(values.out_dir)
                        .arg(neutral)
                        .arg(features - neutral);
  return summary;
}

}  // namespace Varnel
