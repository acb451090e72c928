// The fault guard on POSIX: processor faults become a return from the guard.
#include <setjmp.h>
#include <signal.h>

#include <cstring>

#include "platform/catch_all.h"
#include "platform/platform.h"

namespace platform {

// The fault guard: a signal handler for the fault signals, installed while the
// outermost guard runs, jumps back to the innermost guard of the thread that
// faulted.
namespace {

struct GuardFrame {
  sigjmp_buf resume;
  GuardFrame* outer;
};

thread_local GuardFrame* innermost_guard = nullptr;
constexpr int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE};
struct sigaction saved_actions[sizeof kFaultSignals / sizeof kFaultSignals[0]];

void on_fault(int signal_number, siginfo_t* info, void*) {
  // Only a fault the processor raised (si_code > 0), not one sent by a process.
  if (innermost_guard && info && info->si_code > 0) siglongjmp(innermost_guard->resume, 1);
  // Anything else: die as the process would have.
  ::signal(signal_number, SIG_DFL);
  ::raise(signal_number);
}

void install_fault_handlers() {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_sigaction = on_fault;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_SIGINFO | SA_NODEFER;
  for (std::size_t i = 0; i < sizeof kFaultSignals / sizeof kFaultSignals[0]; ++i)
    sigaction(kFaultSignals[i], &action, &saved_actions[i]);
}

void restore_fault_handlers() {
  for (std::size_t i = 0; i < sizeof kFaultSignals / sizeof kFaultSignals[0]; ++i)
    sigaction(kFaultSignals[i], &saved_actions[i], nullptr);
}


}  // namespace

bool run_guarded(void (*body)(void* context), void* context) {
  GuardFrame frame;
  frame.outer = innermost_guard;
  if (!frame.outer) install_fault_handlers();
  innermost_guard = &frame;
  volatile bool completed = false;
  if (sigsetjmp(frame.resume, 1) == 0) completed = call_catching(body, context);
  innermost_guard = frame.outer;
  if (!frame.outer) restore_fault_handlers();
  return completed;
}

}  // namespace platform
