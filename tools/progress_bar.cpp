#include "tools/progress_bar.h"

#include <unistd.h>

#include <algorithm>
#include <ostream>
#include <utility>

namespace {

constexpr std::size_t kBarWidth = 30;
constexpr auto kRedrawEvery = std::chrono::milliseconds(100);

}  // namespace

Progress_Bar::Progress_Bar(std::ostream& out, bool enabled) : out_(out), enabled_(enabled) {}

Progress_Bar::~Progress_Bar() {
  if (enabled_ && line_open_) out_ << '\n' << std::flush;
}

void Progress_Bar::Stage(std::string label) {
  if (!enabled_) return;
  if (line_open_) out_ << '\n';
  line_open_ = false;
  last_length_ = 0;
  label_ = std::move(label);
  last_draw_ = {};
}

bool Progress_Bar::Due() const {
  return enabled_ && std::chrono::steady_clock::now() - last_draw_ >= kRedrawEvery;
}

void Progress_Bar::Update(std::size_t done, std::size_t total, const std::string& detail,
                          bool force) {
  if (!enabled_ || (!force && !Due())) return;
  last_draw_ = std::chrono::steady_clock::now();
  std::string line = Line(label_, done, total, detail, kBarWidth);
  const std::size_t length = line.size();
  // Blank out the tail of a longer previous line.
  if (length < last_length_) line.append(last_length_ - length, ' ');
  last_length_ = length;
  out_ << '\r' << line << std::flush;
  line_open_ = true;
}

void Progress_Bar::Finish(std::size_t done, std::size_t total, const std::string& detail) {
  if (!enabled_) return;
  Update(done, total, detail, true);
  out_ << '\n' << std::flush;
  line_open_ = false;
}

std::string Progress_Bar::Line(const std::string& label, std::size_t done, std::size_t total,
                               const std::string& detail, std::size_t width) {
  const double fraction =
      total == 0 ? 1.0 : std::min(1.0, static_cast<double>(done) / static_cast<double>(total));
  const auto filled = static_cast<std::size_t>(fraction * static_cast<double>(width));
  std::string line = label;
  line += " [";
  line.append(filled, '#');
  line.append(width - filled, '.');
  line += "] ";
  const std::string percent = std::to_string(static_cast<int>(fraction * 100.0));
  line.append(3 - std::min<std::size_t>(3, percent.size()), ' ');
  line += percent;
  line += "% ";
  line += detail;
  return line;
}

bool Stderr_Is_Terminal() { return isatty(STDERR_FILENO) == 1; }
