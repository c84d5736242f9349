// `try: ... except <types>:` for C++ bodies that follow the error convention of ref.hpp.
#pragma once

#include <initializer_list>

#include "support/ref.hpp"

namespace support {

// Runs `body`; when it raises an exception matching one of `types`, runs `handler(exc)` with the
// exception object instead and returns what it returns. Other exceptions, such as
// KeyboardInterrupt under an `Exception` guard, pass through unchanged.
template <class Body, class Handler>
auto guard(std::initializer_list<PyObject*> types, Body&& body, Handler&& handler)
    -> decltype(body()) {
    try {
        return body();
    } catch (const PyErrorSet&) {
        CaughtError err;
        bool caught = false;
        for (PyObject* t : types) caught = caught || err.matches(t);
        if (!caught) err.rethrow();
        return handler(err.get());
    }
}

// `try: body() except Exception: pass`. Returns whether `body` ran to its end.
template <class Body>
bool ignore_exception(Body&& body) {
    return guard(
        {PyExc_Exception},
        [&] {
            body();
            return true;
        },
        [](PyObject*) { return false; });
}

// `raise type(text)` inside `except` with `context` as the exception being handled: the new
// exception gets it as its __context__.
[[noreturn]] inline void raise_in_context(PyObject* type, PyObject* text, PyObject* context) {
    Ref exc = Ref::steal(PyObject_CallOneArg(type, text));
    if (context) PyException_SetContext(exc.get(), Py_NewRef(context));
    PyErr_SetRaisedException(exc.release());
    throw PyErrorSet{};
}

}  // namespace support
