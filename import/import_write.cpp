// Imported features as annotated databases.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <system_error>

#include "import/feature_import.h"
#include "import/import_common.h"
#include "storage/annotated_reader.h"
#include "storage/annotated_writer.h"
#include "storage/output_folder.h"
#include "storage/import_commit.h"
#include "storage/path.h"
#include "storage/replacement_file.h"
#include "storage/sqlite/cppsqlite3.h"

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

namespace {

bool Empty_Folder(const std::string& folder) {
  std::error_code error;
  return std::filesystem::is_empty(folder, error) && !error;
}

// A folder made beside out_dir under a Varnel temporary name, locked while it
// lives, and removed with what it holds unless Commit() renamed it over
// out_dir.
class Temporary_Folder {
 public:
  explicit Temporary_Folder(const std::string& out_dir) : target_(out_dir) {
    std::string pattern = Own_Temporary_Pattern(Split_Path(out_dir).folder);
    if (::mkdtemp(pattern.data()) == nullptr) {
      throw std::runtime_error(out_dir +
                               ": cannot create a folder beside it: " + std::strerror(errno));
    }
    path_ = pattern;
    lock_fd_ = ::open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (lock_fd_ >= 0) ::flock(lock_fd_, LOCK_EX | LOCK_NB);
  }
  Temporary_Folder(const Temporary_Folder&) = delete;
  Temporary_Folder& operator=(const Temporary_Folder&) = delete;
  ~Temporary_Folder() {
    if (!committed_) {
      std::error_code ignored;
      std::filesystem::remove_all(path_, ignored);
    }
    if (lock_fd_ >= 0) ::close(lock_fd_);
  }

  const std::string& path() const { return path_; }

  // Syncs the folder and renames it over the target (missing or empty).
  // False, with nothing changed, when the target is there and holds files.
  bool Commit() {
    if (lock_fd_ >= 0) ::fsync(lock_fd_);
    if (std::rename(path_.c_str(), target_.c_str()) != 0) {
      if (errno == ENOTEMPTY || errno == EEXIST) return false;
      throw std::runtime_error(target_ + ": cannot rename " + path_ +
                               " to it: " + std::strerror(errno));
    }
    committed_ = true;
    const std::string parent = Split_Path(target_).folder;
    const int fd =
        ::open(parent.empty() ? "/" : parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
      ::fsync(fd);
      ::close(fd);
    }
    return true;
  }

 private:
  std::string target_;
  std::string path_;
  int lock_fd_ = -1;
  bool committed_ = false;
};

// Writes the samples as databases under temporary names in folder; the
// pending files, in sample order.
std::vector<std::unique_ptr<Annotated_Database_Replacement>> Write_Pending(
    const std::vector<Imported_Sample>& samples, const std::string& folder,
    std::vector<Imported_Database>& written, const std::function<void(std::size_t)>& on_sample,
    const std::function<bool()>& stop) {
  std::vector<std::unique_ptr<Annotated_Database_Replacement>> pending(samples.size());
  std::mutex progress;
  std::size_t done = 0;
  // The samples are written side by side, each under its temporary name.
  import_detail::For_Each_Parallel(samples.size(), [&](std::size_t i) {
    if (stop && stop()) throw Import_Stopped();
    const Imported_Sample& sample = samples[i];
    Imported_Database& database = written[i];
    database = {sample.name, sample.name + kAnnotatedSuffix, 0, 0, sample.not_detected};
    if (sample.features.size() >= 0x7fffffffu) {
      throw std::runtime_error(sample.source + ": sample \"" + sample.name +
                               "\" has more features than a database numbers");
    }
    try {
      auto file = std::make_unique<Annotated_Database_Replacement>(folder, database.file_name);
      Chromatogram_Peak_Group_Compound peak;
      for (const Imported_Feature& feature : sample.features) {
        Feature_Peak(feature, static_cast<std::uint32_t>(++database.features), peak);
        file->Add(peak);
        if (feature.neutral) ++database.neutral;
        if ((database.features & 0xfff) == 0 && stop && stop()) throw Import_Stopped();
      }
      file->Finish();
      pending[i] = std::move(file);
    } catch (const CppSQLite3Exception& e) {
      throw std::runtime_error(Join_Path(folder, database.file_name) + ": " +
                               std::string(e.errorDetail()));
    }
    const std::lock_guard<std::mutex> lock(progress);
    if (on_sample) on_sample(done++);
  });
  if (stop && stop()) throw Import_Stopped();
  return pending;
}

}  // namespace

std::vector<Imported_Database> Write_Imported_Samples(
    const std::vector<Imported_Sample>& samples, const std::string& out_dir,
    const std::function<void(std::size_t)>& on_sample, const std::function<bool()>& stop) {
  std::vector<Imported_Database> written(samples.size());
  std::string target = out_dir;  // "out/" is the folder "out"
  while (target.size() > 1 && target.back() == '/') target.pop_back();
  const std::string parent = Split_Path(target).folder;
  if (!parent.empty()) {
    const Output_Folder made(parent, "folder");
    if (!made.ok()) throw std::runtime_error(made.error());
  }
  std::error_code error;
  Remove_Dead_Temporaries(parent);
  const bool exists = std::filesystem::exists(target, error);
  if (exists && !std::filesystem::is_directory(target, error)) {
    throw std::runtime_error(out_dir + ": not a folder");
  }

  if (!exists || Empty_Folder(target)) {
    // The whole folder is written beside it and renamed into place.
    Temporary_Folder folder(target);
    std::vector<std::unique_ptr<Annotated_Database_Replacement>> pending =
        Write_Pending(samples, folder.path(), written, on_sample, stop);
    for (std::size_t i = 0; i < pending.size(); ++i) {
      try {
        pending[i]->Commit();
      } catch (const CppSQLite3Exception& e) {
        throw std::runtime_error(Join_Path(out_dir, written[i].file_name) + ": " +
                                 std::string(e.errorDetail()));
      }
    }
    if (folder.Commit()) return written;
    // Someone filled the folder meanwhile: it is written into as below.
  }

  // The folder holds files: the new databases are written beside them and
  // renamed in as one under a record, which an interrupted import left here
  // earlier is carried out first.
  const Import_Folder_Recovery earlier = Recover_Import_Folder(target);
  if (earlier.refused) throw std::runtime_error(earlier.problem);
  for (const std::string& old : earlier.left_old) {
    bool renewed = false;
    for (const Imported_Sample& sample : samples) {
      renewed = renewed || sample.name + kAnnotatedSuffix == old;
    }
    if (!renewed) throw std::runtime_error(earlier.problem);
  }
  Remove_Dead_Temporaries(target);
  std::vector<std::unique_ptr<Annotated_Database_Replacement>> pending =
      Write_Pending(samples, target, written, on_sample, stop);
  std::vector<Import_Rename> renames;
  for (std::size_t i = 0; i < pending.size(); ++i) {
    // From here on a stop leaves the new files: the record may name them.
    pending[i]->Keep_On_Stop();
    renames.push_back({pending[i]->temp_path(), written[i].file_name});
  }
  bool recorded = false;
  try {
    Replace_Databases_Together(target, renames, &recorded);
  } catch (...) {
    if (recorded) {
      for (auto& file : pending) file->Release();
    }
    throw;
  }
  for (auto& file : pending) file->Release();
  return written;
}
