#include "storage/exit_on_stop.h"

#include <signal.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "storage/replacement_file.h"

namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr const char* kSignalNames[] = {"SIGINT", "SIGTERM", "SIGHUP"};

// The handler's three lines, made before any signal.
constexpr std::size_t kLineBytes = 256;
char g_lines[3][kLineBytes];

extern "C" void On_Exit_Signal(int signal) {
  Remove_Files_Held_For_Stop();
  const char* line = g_lines[signal == SIGINT ? 0 : signal == SIGTERM ? 1 : 2];
  const ssize_t written = ::write(STDERR_FILENO, line, std::strlen(line));
  static_cast<void>(written);
  ::_exit(128 + signal);
}

}  // namespace

void Install_Exit_Handlers(const char* program) {
  for (int i = 0; i < 3; ++i) {
    const std::string line = std::string(program).substr(0, 100) + ": stopped by " +
                             kSignalNames[i] + "; earlier files are unchanged\n";
    std::memcpy(g_lines[i], line.c_str(), line.size() + 1);
  }
  struct sigaction action {};
  action.sa_handler = On_Exit_Signal;
  sigemptyset(&action.sa_mask);
  for (const int signal : kStopSignals) sigaddset(&action.sa_mask, signal);
  for (const int signal : kStopSignals) {
    struct sigaction before {};
    if (sigaction(signal, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
    sigaction(signal, &action, nullptr);
  }
}
