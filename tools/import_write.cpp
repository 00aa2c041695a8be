// Imported features as annotated databases.
#include <cmath>
#include <filesystem>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <system_error>

#include "run/alignment_request.h"
#include "storage/path.h"
#include "storage/sqlite/cppsqlite3.h"
#include "tools/annotated_writer.h"
#include "tools/feature_import.h"
#include "tools/import_common.h"

void Feature_Peak(const Imported_Feature& feature, std::uint32_t number,
                  Chromatogram_Peak_Group_Compound& peak) {
  const double width = feature.width > 0.0 ? feature.width : kDefaultWidth;
  const double sigma = width / 4.0;
  const double step = width / (kShapePoints - 1);
  constexpr int kApex = (kShapePoints - 1) / 2;
  peak.Peak_shape.resize(kShapePoints);
  double area = 0.0;
  for (int k = 0; k < kShapePoints; ++k) {
    Data_Point& point = peak.Peak_shape[k];
    const double z = (k - kApex) * step / sigma;
    point.Scan = static_cast<std::uint32_t>(k);
    point.RT = feature.rt + (k - kApex) * step;
    point.MZ = feature.mz;
    point.Intensity = feature.height * std::exp(-0.5 * z * z);
    if (k > 0) area += 0.5 * (point.Intensity + peak.Peak_shape[k - 1].Intensity) * step;
  }
  peak.EIC_ID = number;
  peak.Peak_ID = number;
  peak.Apex_MZ = feature.mz;
  peak.Apex_Pos = kApex;
  peak.Apex_Retention_Time = feature.rt;
  peak.Apex_Intensity = feature.height;
  peak.Peak_Area = feature.area >= 0.0 ? feature.area : area;
  peak.Peak_SNR = 0.0;
  peak.Left_Boundary = 0;
  peak.Right_Boundary = kShapePoints - 1;
  peak.Group_ID = number;
  peak.Adduct_Annotation = feature.adduct;
  peak.Compound_ID = number;
  peak.Compound_MolecularMass = feature.mass;
  peak.Compound_Retention_Time = feature.rt;
  peak.Compound_Intensity = feature.height;
}

std::vector<Imported_Database> Write_Imported_Samples(
    const std::vector<Imported_Sample>& samples, const std::string& out_dir,
    const std::function<void(std::size_t)>& on_sample) {
  std::error_code error;
  std::filesystem::create_directories(out_dir, error);
  if (error) throw std::runtime_error(out_dir + ": cannot create the folder: " + error.message());

  std::vector<Imported_Database> written(samples.size());
  std::vector<std::unique_ptr<Annotated_Database_Replacement>> pending(samples.size());
  std::mutex progress;
  std::size_t done = 0;
  // The samples are written side by side, each under its temporary name.
  import_detail::For_Each_Parallel(samples.size(), [&](std::size_t i) {
    const Imported_Sample& sample = samples[i];
    Imported_Database& database = written[i];
    database = {sample.name, sample.name + kAnnotatedSuffix, 0, 0};
    if (sample.features.size() >= 0x7fffffffu) {
      throw std::runtime_error(sample.source + ": sample \"" + sample.name +
                               "\" has more features than a database numbers");
    }
    try {
      auto file = std::make_unique<Annotated_Database_Replacement>(out_dir, database.file_name);
      Chromatogram_Peak_Group_Compound peak;
      for (const Imported_Feature& feature : sample.features) {
        Feature_Peak(feature, static_cast<std::uint32_t>(++database.features), peak);
        file->Add(peak);
        if (feature.neutral) ++database.neutral;
      }
      file->Finish();
      pending[i] = std::move(file);
    } catch (const CppSQLite3Exception& e) {
      throw std::runtime_error(Join_Path(out_dir, database.file_name) + ": " +
                               std::string(e.errorDetail()));
    }
    const std::lock_guard<std::mutex> lock(progress);
    if (on_sample) on_sample(done++);
  });
  for (std::size_t i = 0; i < pending.size(); ++i) {
    try {
      pending[i]->Commit();
    } catch (const CppSQLite3Exception& e) {
      throw std::runtime_error(Join_Path(out_dir, written[i].file_name) + ": " +
                               std::string(e.errorDetail()) +
                               (i > 0 ? " (the databases before it are in place)" : ""));
    }
  }
  return written;
}
