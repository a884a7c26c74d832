#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <utility>

#include "gorvic/linux/units.hpp"
#include "gorvic/output_file.hpp"

namespace gorvic::detail {
namespace {

// What the handler removes: written only while the signals are held.
std::atomic<int> guarded_directory{-1};
char guarded_name[NAME_MAX + 1];
static_assert(std::atomic<int>::is_always_lock_free);

sigset_t saved_mask;
bool held = false;

sigset_t terminating_signals() {
  sigset_t set;
  sigemptyset(&set);
  for (const int signal_number : {SIGHUP,  SIGINT,  SIGQUIT,   SIGILL,  SIGTRAP, SIGABRT, SIGBUS,
                                  SIGFPE,  SIGUSR1, SIGSEGV,   SIGUSR2, SIGPIPE, SIGALRM, SIGTERM,
                                  SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGIO,   SIGPWR,  SIGSYS}) {
    sigaddset(&set, signal_number);
  }
#ifdef SIGSTKFLT
  sigaddset(&set, SIGSTKFLT);
#endif
  for (int signal_number = SIGRTMIN; signal_number <= SIGRTMAX; ++signal_number) {
    sigaddset(&set, signal_number);
  }
  return set;
}

extern "C" void remove_and_end(int signal_number) {
  const int saved_errno = errno;
  abandon_new_file();
  // Then end by the same signal, which takes its default action when this returns.
  struct sigaction default_action {};
  default_action.sa_handler = SIG_DFL;
  ::sigaction(signal_number, &default_action, nullptr);
  ::raise(signal_number);
  errno = saved_errno;
}

}  // namespace

void hold_signals() {
  const sigset_t signals = terminating_signals();
  if (!std::exchange(held, true)) ::sigprocmask(SIG_BLOCK, &signals, &saved_mask);
}

void release_signals() {
  if (std::exchange(held, false)) ::sigprocmask(SIG_SETMASK, &saved_mask, nullptr);
}

void guard(int directory, std::string_view name) {
  std::snprintf(guarded_name, sizeof guarded_name, "%.*s", static_cast<int>(name.size()),
                name.data());
  guarded_directory = directory;
  static bool handling = false;  // the handler stays: with nothing guarded it only ends
  if (std::exchange(handling, true)) return;
  struct sigaction action {};
  action.sa_handler = remove_and_end;
  action.sa_mask = terminating_signals();
  for (int signal_number = 1; signal_number < NSIG; ++signal_number) {
    struct sigaction now {};
    if (sigismember(&action.sa_mask, signal_number) == 1 &&
        ::sigaction(signal_number, nullptr, &now) == 0 && now.sa_handler != SIG_IGN) {
      ::sigaction(signal_number, &action, nullptr);
    }
  }
}

void unguard() noexcept {
  guarded_directory = -1;
}

}  // namespace gorvic::detail

void gorvic::abandon_new_file() noexcept {
  if (const int directory = detail::guarded_directory.load(); directory >= 0) {
    ::unlinkat(directory, detail::guarded_name, 0);
  }
}
