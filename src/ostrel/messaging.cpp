// The class `Messaging`: blocking request/response calls over the kernel's send handler, and the
// registry of Python callables that the add-in may refer to.
//
// Every method reads its state from the instance's attributes at each call (the kernel and tests
// may inspect or replace them), so an instance is an ordinary object with a __dict__.
//
// Locking discipline: `_waiters_lock` and `_callable_lock` are held only around operations that
// cannot run Python code: C-level operations on exact dicts with exact str keys, and exact ints
// and strs. Anything that may run Python code (the send handler, the wait, resolving or
// cancelling a future, dropping the last reference to a callable or a future, the methods of an
// attribute the kernel or a test replaced with an object of its own) happens with no lock of ours
// held: such code may finalise a proxy, whose release request needs `_waiters_lock` again on this
// very thread. So the lock and the table are read from the instance before the lock is taken,
// and a table that is not an exact dict is used through its own methods without the lock.
//
// The locked sections allocate: under `_waiters_lock` the list of stored ids, the list of pending
// futures and dict entries; under `_callable_lock` the callable id, the counter's next value, the
// registry's copy and its entries. Allocating cannot run Python code either: CPython 3.12 and
// later run the cyclic garbage collector only at the eval breaker, between bytecodes, never
// inside an allocation, so no finaliser runs under either lock.
#include <chrono>
#include <cmath>

#include "ostrel/common.hpp"
#include "ostrel/handler_calls.hpp"
#include "ostrel/parts.hpp"
#include "ostrel/request_id.hpp"
#include "support/function.hpp"
#include "support/thread_exit.hpp"

namespace ostrel {
namespace {

// Runs `op` on a table of the instance (`waiters`, `_callable_registry`) holding `lock` when the
// table is an exact dict; a replacement's own methods run without it (see the top of the file).
template <class F>
void on_table(PyObject* lock, PyObject* table, F&& op) {
    if (PyDict_CheckExact(table)) {
        with_lock(lock, op);
    } else {
        op();
    }
}

// For a request id that is not an exact str, the stored id that a lookup of `rid` in `waiters`
// would find (the same hash, then equal), or None. Hashing and comparing such an id may run
// Python code (its own __hash__ and __eq__, or a collection they set off), which must not run
// under `_waiters_lock`: code that finalises a proxy there would wait for that lock on its own
// thread. So under the lock only the stored ids, all exact str, are read, and the hash and the
// comparisons come after it. Empty when `waiters` is not an exact dict.
Ref stored_id(PyObject* self, PyObject* rid) {
    Ref stored = Ref::steal(PyList_New(0));
    Ref lock = get_attr(self, N._waiters_lock);
    Ref waiters = get_attr(self, N.waiters);
    if (!PyDict_CheckExact(waiters.get())) return Ref();
    with_lock(lock.get(), [&] {
        Py_ssize_t pos = 0;
        PyObject* key = nullptr;
        PyObject* value = nullptr;
        while (PyDict_Next(waiters.get(), &pos, &key, &value)) {
            if (PyUnicode_CheckExact(key)) support::check(PyList_Append(stored.get(), key));
        }
    });
    // As `pop` on a dict: nothing to find in an empty one, and the id is hashed only otherwise.
    if (PyList_GET_SIZE(stored.get()) == 0) return support::none();
    const Py_hash_t hash = PyObject_Hash(rid);
    if (hash == -1) support::throw_error();
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(stored.get()); ++i) {
        PyObject* key = PyList_GET_ITEM(stored.get(), i);  // kept alive by `stored`
        if (key == rid) return Ref::borrow(key);
        if (PyObject_Hash(key) == hash &&
            support::check(PyObject_RichCompareBool(key, rid, Py_EQ))) {
            return Ref::borrow(key);
        }
    }
    return support::none();
}

// Removes a request id from `waiters` if it is still there. The future stays alive in the
// caller, so nothing is freed under the lock.
Ref discard_waiter(PyObject* self, PyObject* rid) {
    Ref key;
    if (!PyUnicode_CheckExact(rid)) {
        // An id whose hash or comparison fails (an unhashable one, say) names no request: the
        // message is dropped like that of an id never sent, and the listener goes on.
        const bool looked_up = ignore_exception([&] { key = stored_id(self, rid); });
        if (!looked_up || (key && key.get() == Py_None)) return support::none();
        if (key) rid = key.get();
    }
    Ref lock = get_attr(self, N._waiters_lock);
    Ref waiters = get_attr(self, N.waiters);
    Ref popped;
    on_table(lock.get(), waiters.get(), [&] { popped = support::mapping_pop(waiters.get(), rid); });
    return popped;
}

Ref init_impl(PyObject*, const ArgValues& a) {
    PyObject* self = a[0];
    Ref waiters = Ref::steal(PyDict_New());
    set_attr(self, N.waiters, waiters.get());
    Ref waiters_lock = Ref::steal(PyObject_CallNoArgs(C.new_lock));
    set_attr(self, N._waiters_lock, waiters_lock.get());
    Ref guid = new_hex_id();
    set_attr(self, N._guid, guid.get());
    set_attr(self, N._send_handler, Py_None);
    set_attr(self, N.loop, Py_None);
    set_attr(self, N.loop_thread, Py_None);
    Ref registry = Ref::steal(PyDict_New());
    set_attr(self, N._callable_registry, registry.get());
    Ref callable_lock = Ref::steal(PyObject_CallNoArgs(C.new_lock));
    set_attr(self, N._callable_lock, callable_lock.get());
    Ref one = Ref::steal(PyLong_FromLong(1));
    set_attr(self, N._next_callable_id, one.get());
    return support::none();
}

Ref set_send_handler_impl(PyObject*, const ArgValues& a) {
    set_attr(a[0], N._send_handler, a[1]);
    return support::none();
}

// True when a failed response's error record says the index is past the end of the collection
// (`code` "IndexOutOfRange"): the one refusal that may end a loop, so nothing else is read as it.
bool is_index_refusal(PyObject* error) {
    if (!error || !PyDict_Check(error)) return false;
    Ref code = mapping_get(error, N.code);
    return PyUnicode_CheckExact(code.get()) && equals(code.get(), N.IndexOutOfRange);
}

Ref on_message_impl(PyObject*, const ArgValues& a) {
    PyObject* self = a[0];
    PyObject* message = a[1];
    Ref rid = mapping_get(message, N.requestId);
    if (!support::truthy(rid.get())) return support::none();
    Ref future = discard_waiter(self, rid.get());
    if (future.get() == Py_None) return support::none();
    // A Future of the standard class is resolved without asking done() first: resolving one that
    // is already done raises InvalidStateError and changes nothing, which is the same answer for
    // half the calls into it. Anything else stored as a waiter is asked.
    const bool standard = Py_IS_TYPE(future.get(), reinterpret_cast<PyTypeObject*>(C.Future));
    if (!standard) {
        Ref done = call_method(future.get(), N.done);
        if (support::truthy(done.get())) return support::none();
    }
    auto resolve = [&](PyObject* method, PyObject* value) {
        if (!standard) {
            Ref r = call_method(future.get(), method, {value});
            return;
        }
        support::guard(
            {C.InvalidStateError}, [&] { return call_method(future.get(), method, {value}); },
            [](PyObject*) { return support::none(); });
    };

    Ref ok = mapping_get(message, N.ok);
    if (support::truthy(ok.get())) {
        resolve(N.set_result, message);
        return support::none();
    }
    PyObject* error = nullptr;  // `message` is an exact dict (argument rule)
    support::check(PyDict_GetItemRef(message, N.error, &error));
    Ref error_ref = Ref::steal_or_null(error);
    Ref text = error_text(error, N.Remote_error);
    PyObject* type = is_index_refusal(error) ? C.index_error : PyExc_RuntimeError;
    Ref exc = Ref::steal(PyObject_CallOneArg(type, text.get()));
    resolve(N.set_exception, exc.get());
    return support::none();
}

// True when the request body is an attribute read (`method` "GET").
bool is_attribute_read(PyObject* req) {
    PyObject* method = nullptr;  // `req` is an exact dict (argument rule)
    support::check(PyDict_GetItemRef(req, N.method, &method));
    Ref held = Ref::steal_or_null(method);
    return method && PyUnicode_CheckExact(method) && equals(method, N.GET);
}

// True when the error that ended the wait is the one `on_message` set on the future (the add-in's
// refusal), rather than one that reached the waiting thread from elsewhere (an asynchronous
// exception, a signal handler's).
bool from_response(PyObject* future, PyObject* exc) {
    Ref done = call_method(future, N.done);
    if (!support::truthy(done.get())) return false;
    Ref cancelled = call_method(future, N.cancelled);
    if (support::truthy(cancelled.get())) return false;
    Ref zero = Ref::steal(PyFloat_FromDouble(0.0));
    Ref set = call_method(future, N.exception, {zero.get()});
    return set.get() == exc;
}

// The error that ends a request (the caught one is Python's current error): the waiter is removed
// and the error raised again, a time-out as the builtin TimeoutError. Whatever the error, even a
// KeyboardInterrupt or SystemExit, the waiter goes before it propagates; a failure to remove it
// then does not replace such an error. An error of the wait loses the traceback entries of
// `Future.result`, so that what the caller sees begins at its own line; the exception object,
// its type, message and context stay. The add-in's refusal of an attribute read becomes the
// attribute-read error, with the same message and context.
[[noreturn]] void fail_request(PyObject* self, PyObject* rid, PyObject* future, bool from_wait,
                               bool attribute_read) {
    support::CaughtError err;
    if (!err.matches(PyExc_Exception)) {
        ignore_exception([&] { Ref popped = discard_waiter(self, rid); });
        err.rethrow();
    }
    if (from_wait) support::check(PyException_SetTraceback(err.get(), Py_None));
    Ref popped = discard_waiter(self, rid);
    if (err.matches(C.TimeoutError)) {
        Ref text = Ref::steal(PyUnicode_FromString("Timed out waiting for Office.js response"));
        support::raise_in_context(PyExc_TimeoutError, text.get(), err.get());
    }
    if (from_wait && attribute_read &&
        Py_IS_TYPE(err.get(), reinterpret_cast<PyTypeObject*>(PyExc_RuntimeError)) &&
        from_response(future, err.get())) {
        Ref args = Ref::steal(PyException_GetArgs(err.get()));
        Ref exc = Ref::steal(PyObject_Call(C.attribute_error, args.get(), nullptr));
        Ref context = Ref::steal_or_null(PyException_GetContext(err.get()));
        if (context) PyException_SetContext(exc.get(), context.release());
        PyErr_SetRaisedException(exc.release());
        support::throw_error();
    }
    err.rethrow();
}

// `future.result(timeout=seconds)`.
Ref wait_for(PyObject* future, double seconds) {
    Ref timeout = Ref::steal(PyFloat_FromDouble(seconds));
    PyObject* args[] = {future, timeout.get()};
    return support::exit_safe([&] {
        return Ref::steal(PyObject_VectorcallMethod(N.result, args, 1, C.timeout_kwnames));
    });
}

// Waits for the response like `future.result(timeout=timeout)`, in slices short enough that an
// exception meant for this thread ends the wait soon: an asynchronous exception is raised only
// when the thread runs bytecode, and a signal handler's exception on the main thread only once
// the wait returns to the interpreter; a blocked lock wakes for neither. Between slices the
// interpreter checks both (the slice returns through `Future.result`'s own code) and so do we.
constexpr double kWaitSlice = 0.05;  // seconds; an interrupt is seen within about this long

Ref wait_response(PyObject* future, double timeout) {
    // Zero, negative, infinite and NaN time-outs keep `Future.result`'s own handling.
    if (!(timeout > kWaitSlice) || !std::isfinite(timeout)) return wait_for(future, timeout);
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                          std::chrono::duration<double>(timeout));
    for (;;) {
        const double left = std::chrono::duration<double>(deadline - Clock::now()).count();
        if (left <= kWaitSlice) return wait_for(future, left > 0.0 ? left : 0.0);
        try {
            return wait_for(future, kWaitSlice);
        } catch (const support::PyErrorSet&) {
            support::CaughtError err;
            if (!err.matches(C.TimeoutError)) err.rethrow();
            // The future may have been finished meanwhile, or hold a TimeoutError of its own:
            // then its outcome is what the caller gets, at once.
            Ref done = call_method(future, N.done);
            if (support::truthy(done.get())) return wait_for(future, 0.0);
        }
        if (PyErr_CheckSignals() < 0) support::throw_error();
    }
}

// The request message of a body: a copy of it with a fresh `requestId` and `kind` "request".
Ref request_message(PyObject* req, PyObject* rid) {
    Ref message = Ref::steal(PyDict_Copy(req));
    support::check(PyDict_SetItem(message.get(), N.requestId, rid));
    support::check(PyDict_SetItem(message.get(), N.kind, N.request));
    return message;
}

// The send handler, or the error every request meets before one is installed (nothing else has
// happened then: no id drawn, no waiter registered).
Ref installed_handler(PyObject* self) {
    Ref handler = get_attr(self, N._send_handler);
    if (!support::truthy(handler.get()))
        support::raise(PyExc_RuntimeError, "No send handler registered");
    return handler;
}

Ref send_request_sync_impl(PyObject*, const ArgValues& a) {
    PyObject* self = a[0];
    PyObject* req = a[1];
    Ref handler = installed_handler(self);

    const bool attribute_read = is_attribute_read(req);
    Ref rid = new_hex_id();
    Ref message = request_message(req, rid.get());
    Ref future = Ref::steal(PyObject_CallNoArgs(C.Future));
    {
        Ref lock = get_attr(self, N._waiters_lock);
        Ref waiters = get_attr(self, N.waiters);
        on_table(lock.get(), waiters.get(),
                 [&] { set_item(waiters.get(), rid.get(), future.get()); });
    }

    try {
        call_handler(handler.get(), message.get());
    } catch (const support::PyErrorSet&) {
        fail_request(self, rid.get(), future.get(), false, attribute_read);
    }
    try {
        return wait_response(future.get(), a.as_double(2));
    } catch (const support::PyErrorSet&) {
        fail_request(self, rid.get(), future.get(), true, attribute_read);
    }
}

Ref send_request_nowait_impl(PyObject*, const ArgValues& a) {
    PyObject* self = a[0];
    Ref handler = installed_handler(self);
    Ref rid = new_hex_id();
    Ref message = request_message(a[1], rid.get());
    send_unanswered(handler.get(), message.get());
    return support::none();
}

Ref reset_impl(PyObject* module, const ArgValues& a) {
    PyObject* self = a[0];
    // Snapshot and clear under the lock; cancel afterwards, since cancelling runs Python code.
    Ref pending;
    {
        Ref lock = get_attr(self, N._waiters_lock);
        Ref waiters = get_attr(self, N.waiters);
        if (PyDict_CheckExact(waiters.get())) {
            // The futures stay alive in `pending`: clearing frees no value under the lock.
            with_lock(lock.get(), [&] {
                pending = Ref::steal(PyDict_Values(waiters.get()));
                PyDict_Clear(waiters.get());
            });
        } else {
            Ref values = call_method(waiters.get(), N.values);
            pending = Ref::steal(PySequence_List(values.get()));
            Ref r = call_method(waiters.get(), N.clear);
        }
    }
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(pending.get()); ++i) {
        PyObject* future = PyList_GET_ITEM(pending.get(), i);  // kept alive by `pending`
        Ref done = call_method(future, N.done);
        if (!support::truthy(done.get())) Ref r = call_method(future, N.cancel);
    }
    pending.reset();

    Ref guid = new_hex_id();

    // The new context id is set under the registry lock, together with the counter: a
    // registration racing with the reset then forms its id from the old id and old counter (and
    // is dropped with the old registry) or from the new id and the fresh counter. Setting it
    // before taking the lock would let a registration pair the new id with the old counter, and
    // that id would be handed out again, to another callable, once the counter got there.
    // The registry's callables and the old id are dropped after the lock is released: a
    // callable's last reference may hold a proxy whose finaliser sends a request.
    // `_guid` and `_next_callable_id` are plain instance attributes, read and set in the
    // instance's own dict; the old values are kept until the lock is released, so replacing them
    // frees nothing under it.
    Ref dropped;
    Ref old_guid;
    Ref old_counter;
    {
        Ref lock = get_attr(self, N._callable_lock);
        Ref registry = get_attr(self, N._callable_registry);
        Ref one = Ref::steal(PyLong_FromLong(1));
        with_lock(lock.get(), [&] {
            old_guid = get_attr(self, N._guid);
            old_counter = get_attr(self, N._next_callable_id);
            set_attr(self, N._guid, guid.get());
            if (PyDict_CheckExact(registry.get())) {
                dropped = Ref::steal(PyDict_Copy(registry.get()));
                PyDict_Clear(registry.get());
            }
            set_attr(self, N._next_callable_id, one.get());
        });
        if (!PyDict_CheckExact(registry.get())) Ref r = call_method(registry.get(), N.clear);
    }
    dropped.reset();
    old_guid.reset();
    old_counter.reset();

    // All three root proxies follow the new context id, GetSetting included, so that none of
    // them is refused after a reconnect.
    for (PyObject* root : {N.Context, N.Excel, N.GetSetting}) {
        ignore_exception([&] {
            Ref proxy = lookup_global(module, root);
            set_attr(proxy.get(), N._msg_guid, guid.get());
        });
    }
    return support::none();
}

// "pyfunc_<first 8 characters of the context id>_<number>".
constexpr Py_ssize_t kIdPrefixLength = 8;
Ref callable_id(PyObject* guid, PyObject* number) {
    Ref prefix = PyUnicode_CheckExact(guid)
                     ? Ref::steal(PyUnicode_Substring(guid, 0, kIdPrefixLength))
                     : Ref::steal(PySequence_GetSlice(guid, 0, kIdPrefixLength));
    return Ref::steal(PyUnicode_FromFormat("pyfunc_%S_%S", prefix.get(), number));
}

// `number + 1`
Ref next_number(PyObject* number) {
    Ref one = Ref::steal(PyLong_FromLong(1));
    return Ref::steal(PyNumber_Add(number, one.get()));
}

Ref register_callable_impl(PyObject*, const ArgValues& a) {
    PyObject* self = a[0];
    PyObject* obj = a[1];
    if (!PyCallable_Check(obj)) {
        Ref type_name = Ref::steal(PyType_GetName(Py_TYPE(obj)));
        PyErr_Format(PyExc_TypeError, "Object must be callable, got %U", type_name.get());
        support::throw_error();
    }
    Ref lock = get_attr(self, N._callable_lock);
    Ref registry = get_attr(self, N._callable_registry);
    Ref id;
    Ref guid;
    Ref number;  // the counter's old value, kept until the lock is released
    Ref replaced;
    // The id and the counter's step are made under the lock when the context id is an exact str
    // and the counter an exact int (nothing there runs Python code), so that a reset racing with
    // this registration pairs either the old id with the old counter or the new with the new (see
    // reset). Replaced values are formatted and stepped with their own methods after the lock.
    auto store = [&] {
        if (PyDict_CheckExact(registry.get())) {
            // Keep a callable that an equal id displaces alive until the lock is released.
            PyObject* old = nullptr;
            support::check(PyDict_GetItemRef(registry.get(), id.get(), &old));
            replaced = Ref::steal_or_null(old);
        }
        set_item(registry.get(), id.get(), obj);
    };
    bool made = false;
    bool stored = false;
    with_lock(lock.get(), [&] {
        guid = get_attr(self, N._guid);
        number = get_attr(self, N._next_callable_id);
        if (!PyUnicode_CheckExact(guid.get()) || !PyLong_CheckExact(number.get())) return;
        id = callable_id(guid.get(), number.get());
        Ref next = next_number(number.get());
        set_attr(self, N._next_callable_id, next.get());
        made = true;
        if (PyDict_CheckExact(registry.get())) {
            store();
            stored = true;
        }
    });
    if (!made) {
        id = callable_id(guid.get(), number.get());
        Ref next = next_number(number.get());
        set_attr(self, N._next_callable_id, next.get());
    }
    if (!stored) on_table(lock.get(), registry.get(), store);
    return id;
}

Ref get_callable_impl(PyObject*, const ArgValues& a) {
    Ref lock = get_attr(a[0], N._callable_lock);
    Ref registry = get_attr(a[0], N._callable_registry);
    Ref found;
    on_table(lock.get(), registry.get(), [&] { found = mapping_get(registry.get(), a[1]); });
    return found;
}

Ref unregister_callable_impl(PyObject*, const ArgValues& a) {
    Ref lock = get_attr(a[0], N._callable_lock);
    Ref registry = get_attr(a[0], N._callable_registry);
    Ref popped;  // released after the lock
    on_table(lock.get(), registry.get(),
             [&] { popped = support::mapping_pop(registry.get(), a[1]); });
    popped.reset();
    return support::none();
}

const FunctionDef init_def{
    "__init__", "Messaging.__init__", "__init__(self)", {"__init__", {Param{"self"}}}, init_impl};

const FunctionDef set_send_handler_def{
    "set_send_handler",
    "Messaging.set_send_handler",
    "set_send_handler(self, handler)\n\n"
    "Register a callback used to send messages to the add-in.\n\n"
    "The handler should be a callable that takes a dict (the message payload)\n"
    "and sends it appropriately (e.g., via WebSocket through the Business Layer).",
    {"set_send_handler", {Param{"self"}, Param{"handler"}}},
    set_send_handler_impl};

const FunctionDef on_message_def{
    "on_message",
    "Messaging.on_message",
    "on_message(self, message: Dict[str, Any])\n\n"
    "Handle an incoming response message from the add-in.\n\n"
    "This method is called by the kernel when it receives an excel_response\n"
    "message. It resolves the pending future for the corresponding request.\n\n"
    "Threading Note: This method is typically called from the listener thread.\n"
    "The _waiters_lock ensures thread-safe access to the waiters dict.",
    {"on_message", {Param{"self"}, Param{"message", ArgType::Dict}}},
    on_message_impl,
    {{"message", "Dict[str, Any]"}}};

const FunctionDef send_request_sync_def{
    "send_request_sync",
    "Messaging.send_request_sync",
    "send_request_sync(self, req: Dict[str, Any], timeout: float = 30.0)\n\n"
    "Send a request and wait synchronously for the response.\n\n"
    "This creates a thread-safe Future, calls the send handler, and blocks\n"
    "until the response is received (or timeout).\n\n"
    "Threading Note: This method can be called from worker threads. It blocks\n"
    "the calling thread using concurrent.futures.Future.result(), but releases\n"
    "the GIL so the listener thread can continue processing messages.",
    {"send_request_sync",
     {Param{"self"}, Param{"req", ArgType::Dict},
      Param{"timeout", ArgType::Float, Default::Value, 30.0}}},
    send_request_sync_impl,
    {{"req", "Dict[str, Any]"}, {"timeout", "float"}}};

const FunctionDef reset_def{
    "reset",
    "Messaging.reset",
    "reset(self)\n\n"
    "Reset the messaging state (e.g., when the connection is closed).\n\n"
    "Cancels all pending futures and generates a new GUID.\n\n"
    "Threading Note: This method should be called from the listener thread\n"
    "during disconnect/reconnect. The locks ensure thread-safe cleanup.",
    {"reset", {Param{"self"}}},
    reset_impl};

const FunctionDef register_callable_def{
    "register_callable",
    "Messaging.register_callable",
    "register_callable(self, callable_obj: Any) -> str\n\n"
    "Register a Python callable and return its ID.\n\n"
    "Args:\n"
    "    callable_obj: The callable to register (function, lambda, method, etc.)\n\n"
    "Returns:\n"
    "    String ID that can be used to invoke the callable from Excel.\n"
    "    \n"
    "Raises:\n"
    "    TypeError: If callable_obj is not callable\n"
    "    \n"
    "Threading Note: This method is thread-safe due to _callable_lock.\n"
    "Can be called from any thread (worker or listener).",
    {"register_callable", {Param{"self"}, Param{"callable_obj"}}},
    register_callable_impl,
    {{"callable_obj", "Any"}, {"return", "str"}}};

const FunctionDef get_callable_def{
    "get_callable",
    "Messaging.get_callable",
    "get_callable(self, callable_id: str) -> Any\n\n"
    "Retrieve a registered callable by its ID.\n\n"
    "Args:\n"
    "    callable_id: The ID returned by register_callable.\n\n"
    "Returns:\n"
    "    The callable object, or None if not found.\n"
    "    \n"
    "Threading Note: This method is thread-safe due to _callable_lock.\n"
    "Can be called from any thread (worker or listener).",
    {"get_callable", {Param{"self"}, Param{"callable_id", ArgType::Str}}},
    get_callable_impl,
    {{"callable_id", "str"}, {"return", "Any"}}};

const FunctionDef unregister_callable_def{
    "unregister_callable",
    "Messaging.unregister_callable",
    "unregister_callable(self, callable_id: str)\n\n"
    "Remove a callable from the registry.\n\n"
    "Args:\n"
    "    callable_id: The ID of the callable to remove.\n"
    "    \n"
    "Threading Note: This method is thread-safe due to _callable_lock.\n"
    "Can be called from any thread (worker or listener).",
    {"unregister_callable", {Param{"self"}, Param{"callable_id", ArgType::Str}}},
    unregister_callable_impl,
    {{"callable_id", "str"}}};

const FunctionDef send_request_nowait_def{
    "send_request_nowait",
    "Messaging.send_request_nowait",
    "send_request_nowait(self, req: Dict[str, Any])\n\n"
    "Send a request without waiting for its response.\n\n"
    "The request is stamped as send_request_sync stamps it (a fresh requestId,\n"
    "kind \"request\") and handed to the send handler at once; no future is\n"
    "created, and a response that comes for it is dropped by on_message.\n"
    "Proxies release their objects through it.\n\n"
    "Threading Note: This method never blocks on a response, so it can be called\n"
    "from any thread, the listener thread and finalisers included. A request made\n"
    "on a thread that is inside the send handler is handed to the handler as soon\n"
    "as that call returns, so the handler is never entered twice on one thread.",
    {"send_request_nowait", {Param{"self"}, Param{"req", ArgType::Dict}}},
    send_request_nowait_impl,
    {{"req", "Dict[str, Any]"}}};

const char* const kDoc =
    "\n    Handles messaging for the Python-Excel bridge.\n\n"
    "    This class does NOT start a WebSocket server. Instead, it uses a\n"
    "    send handler callback pattern that allows the kernel to forward\n"
    "    messages through the Business Layer.\n    \n"
    "    Threading Model:\n"
    "    ----------------\n"
    "    This class is designed to be thread-safe for use in multi-threaded environments:\n"
    "    - waiters dict: Protected by _waiters_lock (threading.Lock)\n"
    "    - callable_registry: Protected by _callable_lock (threading.Lock)\n"
    "    - send_request_sync(): Can be called from worker threads, blocks using "
    "concurrent.futures.Future\n"
    "    - on_message(): Can be called from listener thread to resolve pending futures\n"
    "    ";

}  // namespace

Ref make_messaging_class(PyObject* module) {
    std::vector<support::Member> m = support::methods(
        module, {&init_def, &set_send_handler_def, &on_message_def, &send_request_sync_def,
                 &reset_def, &register_callable_def, &get_callable_def, &unregister_callable_def,
                 &send_request_nowait_def});
    return support::make_class(module, "Messaging", nullptr, kDoc, std::move(m));
}

}  // namespace ostrel
