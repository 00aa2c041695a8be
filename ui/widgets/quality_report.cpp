#include "ui/widgets/quality_report.h"

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/file.h>
#include <unistd.h>

#include <QFile>
#include <QString>
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <optional>
#include <system_error>
#include <vector>

#include "storage/replacement_file.h"
#include "ui/quality_charts.h"
#include "ui/quality_data.h"
#include "ui/quality_html.h"
#include "ui/text_codec.h"
#include "ui/widgets/quality_charts_view.h"

namespace Varnel {

namespace fs = std::filesystem;

namespace {

const char* const kPageName = "index.html";
constexpr double kPairScale = 2.2;

// Removes a folder and its contents when it goes, unless released.
class Folder_Guard {
 public:
  explicit Folder_Guard(fs::path path) : path_(std::move(path)) {}
  ~Folder_Guard() {
    if (path_.empty()) return;
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  Folder_Guard(const Folder_Guard&) = delete;
  Folder_Guard& operator=(const Folder_Guard&) = delete;
  void Release() { path_.clear(); }

 private:
  fs::path path_;
};

[[noreturn]] void Fail(const fs::path& path, const std::string& what) {
  throw Quality_Error(path.string() + ": " + what);
}

// A fresh folder beside base under a Varnel temporary name (mkdtemp), locked
// while this program lives: what a killed report leaves there is removed by
// the next program that writes beside it (storage/replacement_file.h).
class Sibling_Folder {
 public:
  explicit Sibling_Folder(const fs::path& base) {
    std::string pattern = Own_Temporary_Pattern(base.parent_path().string());
    if (mkdtemp(pattern.data()) == nullptr)
      Fail(base, std::string("cannot create a folder beside it (") + std::strerror(errno) + ")");
    path_ = pattern;
    lock_fd_ = ::open(pattern.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (lock_fd_ >= 0) ::flock(lock_fd_, LOCK_EX | LOCK_NB);
  }
  ~Sibling_Folder() {
    if (lock_fd_ >= 0) ::close(lock_fd_);
  }
  Sibling_Folder(const Sibling_Folder&) = delete;
  Sibling_Folder& operator=(const Sibling_Folder&) = delete;
  const fs::path& path() const { return path_; }
  // Makes the renames of the folder's entries durable.
  void Sync() const {
    if (lock_fd_ >= 0) ::fsync(lock_fd_);
  }

 private:
  fs::path path_;
  int lock_fd_ = -1;
};

// Test hook: the program ends by SIGKILL at step N of putting the report in
// place when the environment holds VARNEL_TEST_KILL_AT_REPORT_STEP=N (0: the
// new report complete beside out; 1: exchanged, the earlier one not yet
// removed).
void Kill_Point(int step) {
  const char* value = std::getenv("VARNEL_TEST_KILL_AT_REPORT_STEP");
  if (value != nullptr && std::strtol(value, nullptr, 10) == step) ::raise(SIGKILL);
}

void Sync_Folder(const fs::path& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

// The report's temporary folder and files, removed if a stop signal ends
// the program while they are written (storage/exit_on_stop.h).
class Held_For_Stop {
 public:
  Held_For_Stop() = default;
  Held_For_Stop(const Held_For_Stop&) = delete;
  Held_For_Stop& operator=(const Held_For_Stop&) = delete;
  ~Held_For_Stop() {
    for (const int ticket : tickets_) Keep_On_Stop(ticket);
  }
  void Add(const fs::path& path, bool folder = false) {
    tickets_.push_back(Remove_On_Stop(path.string(), folder));
  }

 private:
  std::vector<int> tickets_;
};

// True when the folder holds nothing but what a report writes.
bool Holds_Only_A_Report(const fs::path& folder) {
  std::error_code ec;
  bool has_page = false;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, ec)) {
    const fs::path name = entry.path().filename();
    if (name == kPageName) {
      has_page = true;
      continue;
    }
    if (!entry.is_regular_file(ec) || name.extension() != ".png") return false;
  }
  return !ec && has_page;
}

bool Is_Empty_Folder(const fs::path& folder) {
  std::error_code ec;
  return fs::is_empty(folder, ec) && !ec;
}

void Write_Page(const fs::path& path, const QString& html) {
  QFile file(From_Engine_String(path.string()));
  const QByteArray bytes = html.toUtf8();
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size() ||
      !file.flush())
    Fail(path, "cannot write (" + file.errorString().toStdString() + ")");
  file.close();
}

}  // namespace

void Write_Quality_Report(const std::string& result_path, const std::string& out_dir,
                          const Quality_Options& options) {
  const Quality_Data data = Load_Quality_Data(result_path, options);
  std::vector<Quality_Chart> charts = Build_Quality_Charts(data);
  for (std::uint32_t id : options.signal_features) {
    QString why;
    std::optional<Quality_Chart> chart = Signal_Group_Chart(data.signal, id, &why);
    if (!chart) throw Quality_Error(result_path + ": " + To_Engine_String(why));
    const bool again = std::any_of(charts.begin(), charts.end(),
                                   [&](const Quality_Chart& c) { return c.id == chart->id; });
    if (!again) charts.push_back(std::move(*chart));
  }

  std::error_code ec;
  fs::path out = fs::absolute(fs::path(out_dir), ec);
  if (ec || out_dir.empty()) Fail(out_dir, "not a usable folder name");
  if (!out.has_filename()) out = out.parent_path();  // "dir/" names dir
  const bool exists = fs::exists(out, ec);
  if (exists && !fs::is_directory(out, ec)) Fail(out, "exists and is not a folder");
  if (exists && !Is_Empty_Folder(out) && !Holds_Only_A_Report(out))
    Fail(out, "exists and holds other files; name a new or empty folder, or an earlier report");
  if (!fs::is_directory(out.parent_path(), ec)) Fail(out, "its parent folder does not exist");

  // What killed reports left beside out goes first.
  Remove_Dead_Temporaries(out.parent_path().string());
  const Sibling_Folder sibling(out);
  const fs::path& temp = sibling.path();
  Folder_Guard temp_guard(temp);
  Held_For_Stop held;
  held.Add(temp, true);
  fs::permissions(temp,
                  fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                      fs::perms::others_read | fs::perms::others_exec,
                  ec);
  for (const Quality_Chart& chart : charts) {
    const fs::path picture = temp / To_Engine_String(Chart_File_Name(chart));
    // The page shows before and after a correction side by side, each at half
    // the width: larger text keeps them readable there.
    const double scale = Chart_Shown_In_Pair(chart) ? kPairScale : kReportScale;
    held.Add(picture);
    if (!Render_Quality_Png(chart, From_Engine_String(picture.string()), kMinSavedWidth, scale))
      Fail(picture, "cannot write the picture");
  }
  held.Add(temp / kPageName);
  Write_Page(temp / kPageName, Quality_Report_Html(data, charts));
  sibling.Sync();
  Kill_Point(0);

  // Into place in one step: a missing or empty out is renamed over, an
  // earlier report is exchanged with the new one (and then removed under
  // the temporary name), so a stop at any moment leaves one whole report
  // at out.
  if (exists && !Is_Empty_Folder(out)) {
    if (::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, out.c_str(), RENAME_EXCHANGE) != 0) {
      if (errno != EINVAL && errno != ENOSYS)
        Fail(out, std::string("cannot replace it (") + std::strerror(errno) + ")");
      // A file system without the exchange: the earlier report steps aside
      // under a name no tidying removes, and comes back if the rename fails.
      const fs::path old = out.parent_path() / ("." + out.filename().string() + ".old");
      fs::remove_all(old, ec);
      fs::rename(out, old, ec);
      if (ec) Fail(out, "cannot replace it (" + ec.message() + ")");
      fs::rename(temp, out, ec);
      if (ec) {
        std::error_code back;
        fs::rename(old, out, back);
        Fail(out, "cannot replace it (" + ec.message() + ")");
      }
      fs::remove_all(old, ec);
    }
    Sync_Folder(out.parent_path());
    // temp now holds the earlier report.
    Kill_Point(1);
  } else {
    fs::rename(temp, out, ec);
    if (ec) Fail(out, (exists ? "cannot replace it (" : "cannot create it (") + ec.message() + ")");
    Sync_Folder(out.parent_path());
    temp_guard.Release();
  }
}
}  // namespace Varnel
