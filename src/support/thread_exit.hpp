// Calls that may block with the interpreter lock released, made safe against the end of the
// interpreter.
//
// When the interpreter is finalising, CPython 3.13 ends a daemon thread that tries to take the
// interpreter lock back with pthread_exit, which on glibc unwinds the thread's stack like an
// exception. Our frames above the blocking call would then run their destructors, releasing
// references into an interpreter that is being torn down, and crash the process at exit. The
// thread is ending anyway and nothing waits for it, so it stops where the unwinding starts, as
// later CPython versions stop such threads.
#pragma once

#include <unistd.h>

#if defined(__GLIBCXX__)
#include <cxxabi.h>
#endif

namespace support {

// Runs `body` (which may release the interpreter lock and wait) and returns what it returns; a
// thread that the interpreter ends meanwhile stops inside it for good. A forced unwind carries no
// exception object, so the handler's reference is bound to nothing by design: the null check of
// the undefined-behaviour sanitizer is off for this frame alone.
template <class Body>
#if defined(__GLIBCXX__)
__attribute__((no_sanitize("null")))
#endif
auto exit_safe(Body&& body) -> decltype(body()) {
#if defined(__GLIBCXX__)
    try {
        return body();
    } catch (abi::__forced_unwind&) {
        for (;;) pause();
    }
#else
    return body();
#endif
}

}  // namespace support
