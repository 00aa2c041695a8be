#include "ui/widgets/quality_report.h"

#include <stdlib.h>

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

// A fresh folder named after base beside it (mkdtemp).
fs::path Make_Sibling(const fs::path& base, const char* tag) {
  std::string name(1, '.');
  name.append(base.filename().string()).append(tag).append("-XXXXXX");
  std::string pattern = (base.parent_path() / name).string();
  if (mkdtemp(pattern.data()) == nullptr)
    Fail(base, std::string("cannot create a folder beside it (") + std::strerror(errno) + ")");
  return pattern;
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

  const fs::path temp = Make_Sibling(out, ".tmp");
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

  // Into place: an earlier report or an empty folder steps aside first and
  // comes back if the rename fails.
  if (exists) {
    const fs::path old = Make_Sibling(out, ".old");
    fs::remove(old, ec);
    fs::rename(out, old, ec);
    if (ec) Fail(out, "cannot replace it (" + ec.message() + ")");
    fs::rename(temp, out, ec);
    if (ec) {
      std::error_code back;
      fs::rename(old, out, back);
      Fail(out, "cannot replace it (" + ec.message() + ")");
    }
    fs::remove_all(old, ec);
  } else {
    fs::rename(temp, out, ec);
    if (ec) Fail(out, "cannot create it (" + ec.message() + ")");
  }
  temp_guard.Release();
}

}  // namespace Varnel
