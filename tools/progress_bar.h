// A one-line progress bar for terminals: "label [#####.....]  45% detail".
// Redrawn in place with a carriage return, at most every 100 ms.
#ifndef VARNEL_TOOLS_PROGRESS_BAR_H_
#define VARNEL_TOOLS_PROGRESS_BAR_H_

#include <chrono>
#include <cstddef>
#include <iosfwd>
#include <string>

class Progress_Bar {
 public:
  // Draws on `out` when `enabled`; a disabled bar does nothing at all.
  Progress_Bar(std::ostream& out, bool enabled);
  ~Progress_Bar();  // ends a line left open
  Progress_Bar(const Progress_Bar&) = delete;
  Progress_Bar& operator=(const Progress_Bar&) = delete;

  // Starts a stage: a new line unless the previous stage ended one.
  void Stage(std::string label);
  // Shows done/total (a full bar when total is 0) and the detail text. Only
  // redraws when 100 ms have passed, or when `force` is set.
  void Update(std::size_t done, std::size_t total, const std::string& detail, bool force = false);
  // Redraws at once and ends the line.
  void Finish(std::size_t done, std::size_t total, const std::string& detail);

  // True when a redraw is due; lets callers skip building the detail text.
  bool Due() const;

  // The text of one line, without the carriage return (for tests).
  static std::string Line(const std::string& label, std::size_t done, std::size_t total,
                          const std::string& detail, std::size_t width);

 private:
  std::ostream& out_;
  bool enabled_;
  bool line_open_ = false;
  std::string label_;
  std::size_t last_length_ = 0;
  std::chrono::steady_clock::time_point last_draw_{};
};

// True when standard error is a terminal.
bool Stderr_Is_Terminal();

#endif  // VARNEL_TOOLS_PROGRESS_BAR_H_
