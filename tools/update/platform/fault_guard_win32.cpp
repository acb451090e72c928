// The fault guard on Windows: processor faults become a return from the guard.
#include <windows.h>

#include "platform/catch_all.h"
#include "platform/platform.h"

namespace platform {

// The fault guard: a frame-based handler on the thread's handler chain
// (fs:[0]) while the body runs, as __try/__except registers one. Handlers
// registered deeper (the system's own) see a fault first; a fault that reaches
// the guard's handler resumes the thread at the guard's jump point, as
// __builtin_longjmp would, by rewriting the faulting context. C++ exceptions
// (DWARF unwinding) never reach the chain and are caught in call_catching.
namespace {

// The registration record the system walks, followed by the guard's own data.
struct GuardFrame {
  EXCEPTION_REGISTRATION_RECORD record;
  void* resume[5];  // __builtin_setjmp: frame pointer, resume address, stack pointer
};

EXCEPTION_REGISTRATION_RECORD* handler_chain() {
  EXCEPTION_REGISTRATION_RECORD* chain;
  __asm__ volatile("movl %%fs:0, %0" : "=r"(chain));
  return chain;
}

void set_handler_chain(EXCEPTION_REGISTRATION_RECORD* chain) {
  __asm__ volatile("movl %0, %%fs:0" : : "r"(chain) : "memory");
}

bool is_fault(DWORD code) {
  switch (code) {
    case EXCEPTION_ACCESS_VIOLATION:
    case EXCEPTION_IN_PAGE_ERROR:
    case EXCEPTION_DATATYPE_MISALIGNMENT:
    case EXCEPTION_ARRAY_BOUNDS_EXCEEDED:
    case EXCEPTION_ILLEGAL_INSTRUCTION:
    case EXCEPTION_PRIV_INSTRUCTION:
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
    case EXCEPTION_INT_OVERFLOW:
    case EXCEPTION_STACK_OVERFLOW:
      return true;
    default:
      return false;
  }
}

EXCEPTION_DISPOSITION NTAPI on_fault(EXCEPTION_RECORD* record, void* establisher, CONTEXT* context, void*) {
  // Unwinds pass by, and so does what is no fault (debugger output, say).
  if ((record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) != 0 ||
      !is_fault(record->ExceptionCode))
    return ExceptionContinueSearch;
  GuardFrame* frame = static_cast<GuardFrame*>(establisher);
  context->Ebp = reinterpret_cast<DWORD>(frame->resume[0]);
  context->Eip = reinterpret_cast<DWORD>(frame->resume[1]);
  context->Esp = reinterpret_cast<DWORD>(frame->resume[2]);
  return ExceptionContinueExecution;
}


}  // namespace

bool run_guarded(void (*body)(void* context), void* context) {
  GuardFrame frame;
  frame.record.Next = handler_chain();
  frame.record.Handler = on_fault;
  volatile bool completed = false;
  if (__builtin_setjmp(frame.resume) == 0) {
    set_handler_chain(&frame.record);
    completed = call_catching(body, context);
  }
  // Whether the body returned or a fault resumed here, the handlers registered
  // inside it belong to frames that are gone: the chain is as it was at entry.
  set_handler_chain(frame.record.Next);
  return completed;
}

}  // namespace platform
