// Handing request messages to the kernel's send handler without ever calling it re-entrantly.
//
// A proxy may be finalised anywhere, the send handler's own frames included (the collector runs
// between any two bytecodes). Its release then needs the handler while that handler is still in
// the middle of sending another message on the same thread; a handler that holds a lock of its
// own or writes a stream would deadlock or interleave. So while a handler call is under way on a
// thread, the releases finalised there wait in that thread's queue, and are handed to the
// handler, in order, as soon as it returns.
#pragma once

#include "support/ref.hpp"

namespace ostrel {

// `handler(message)`; its return value is dropped. Messages queued on this thread meanwhile are
// sent when it returns, before its error (if any) propagates.
void call_handler(PyObject* handler, PyObject* message);

// Sends a message nobody waits for: at once, or, while a handler call is under way on this
// thread, queued for its end (errors of a queued send are dropped, as nobody is there to see
// them).
void send_unanswered(PyObject* handler, PyObject* message);

}  // namespace ostrel
