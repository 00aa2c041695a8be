#include "storage/stop_signals.h"

#include <signal.h>

#include <csignal>

namespace {

volatile std::sig_atomic_t g_stop_signal = 0;

extern "C" void On_Stop_Signal(int signal) { g_stop_signal = signal; }

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

}  // namespace

void Install_Stop_Handlers() {
  struct sigaction action {};
  action.sa_handler = On_Stop_Signal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESETHAND;
  for (const int signal : kStopSignals) {
    struct sigaction before {};
    if (sigaction(signal, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
    sigaction(signal, &action, nullptr);
  }
}

int Stop_Signal() { return g_stop_signal; }

int Stop_Exit_Status() { return 128 + g_stop_signal; }

const char* Stop_Signal_Name() {
  switch (g_stop_signal) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    case SIGHUP:
      return "SIGHUP";
    default:
      return "";
  }
}
