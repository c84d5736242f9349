// The send handler's calls, kept from nesting on one thread (see handler_calls.hpp).
#include "ostrel/handler_calls.hpp"

#include "support/thread_exit.hpp"

#include <utility>
#include <vector>

namespace ostrel {
namespace {

using support::CaughtError;
using support::PyErrorSet;
using support::Ref;

struct Queued {
    Ref handler;
    Ref message;
};

// The queue of the handler call under way on this thread, or null. It lives in the frame of the
// outermost call (so the references it holds are released by that frame, with the GIL held), and
// the pointer is cleared before that frame ends.
thread_local std::vector<Queued>* t_queue = nullptr;

// The handler may block (writing to a full pipe, say) with the interpreter lock released.
void invoke(PyObject* handler, PyObject* message) {
    Ref ignored =
        support::exit_safe([&] { return Ref::steal(PyObject_CallOneArg(handler, message)); });
}

// Sends what was queued, and whatever those sends queue in turn, in order. An error that is not
// an Exception (KeyboardInterrupt, SystemExit) is kept for the caller, the first one only; the
// rest of the queue is still sent.
Ref drain(std::vector<Queued>& queue) {
    Ref interrupt;
    for (std::size_t i = 0; i < queue.size(); ++i) {
        Queued next = std::move(queue[i]);  // the vector may grow during the call
        try {
            invoke(next.handler.get(), next.message.get());
        } catch (const PyErrorSet&) {
            CaughtError err;
            if (!err.matches(PyExc_Exception) && !interrupt) interrupt = err.take();
        }
    }
    queue.clear();
    return interrupt;
}

}  // namespace

void call_handler(PyObject* handler, PyObject* message) {
    if (t_queue) {
        invoke(handler, message);
        return;
    }
    std::vector<Queued> queue;
    struct Active {
        explicit Active(std::vector<Queued>* q) { t_queue = q; }
        ~Active() { t_queue = nullptr; }
        Active(const Active&) = delete;
        Active& operator=(const Active&) = delete;
    } active(&queue);

    Ref failure;
    try {
        invoke(handler, message);
    } catch (const PyErrorSet&) {
        failure = CaughtError().take();
    }
    Ref interrupt = drain(queue);
    if (failure) {
        PyErr_SetRaisedException(failure.release());
        throw PyErrorSet{};
    }
    if (interrupt) {
        PyErr_SetRaisedException(interrupt.release());
        throw PyErrorSet{};
    }
}

void send_unanswered(PyObject* handler, PyObject* message) {
    if (t_queue) {
        t_queue->push_back(Queued{Ref::borrow(handler), Ref::borrow(message)});
        return;
    }
    call_handler(handler, message);
}

}  // namespace ostrel
