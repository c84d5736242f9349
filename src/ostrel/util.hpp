// Small helpers shared by the bridge's files: attribute and mapping access that keeps the
// semantics of the equivalent Python expression (with fast paths for exact dicts), holding one of
// the messaging locks, and the error text of a failed response.
#pragma once

#include <initializer_list>
#include <utility>

#include "ostrel/state.hpp"
#include "support/namespace.hpp"
#include "support/ref.hpp"

namespace ostrel {

using support::Ref;

// A module global looked up by name at this use (late binding).
inline Ref global(PyObject* module, PyObject* name) { return support::lookup_global(module, name); }

inline Ref get_attr(PyObject* obj, PyObject* name) { return Ref::steal(PyObject_GetAttr(obj, name)); }

inline void set_attr(PyObject* obj, PyObject* name, PyObject* value) {
    support::check(PyObject_SetAttr(obj, name, value));
}

// `obj.name()`, `obj.name(a)`, `obj.name(a, b)`.
inline Ref call_method(PyObject* obj, PyObject* name) {
    return Ref::steal(PyObject_CallMethodNoArgs(obj, name));
}
inline Ref call_method(PyObject* obj, PyObject* name, PyObject* a) {
    return Ref::steal(PyObject_CallMethodOneArg(obj, name, a));
}
inline Ref call_method(PyObject* obj, PyObject* name, PyObject* a, PyObject* b) {
    PyObject* args[] = {obj, a, b};
    return Ref::steal(PyObject_VectorcallMethod(name, args, 3, nullptr));
}

// `obj.get(key, default)`; `default` may be nullptr for None.
Ref mapping_get(PyObject* obj, PyObject* key, PyObject* dflt = nullptr);

// `obj[key] = value`.
inline void set_item(PyObject* obj, PyObject* key, PyObject* value) {
    if (PyDict_CheckExact(obj)) {
        support::check(PyDict_SetItem(obj, key, value));
    } else {
        support::check(PyObject_SetItem(obj, key, value));
    }
}

// A new dict built from interned keys and values, in the given order.
Ref make_dict(std::initializer_list<std::pair<PyObject*, PyObject*>> items);

// The text of a failed response's `error`: its `message` when `error` is a mapping (else
// `fallback`), the string itself when it is a non-empty str, `fallback` otherwise (absent, None,
// a number, an empty string). A response whose error is not a mapping must still fail its
// request with a readable text rather than break the code that reads it.
Ref error_text(PyObject* error, PyObject* fallback);

// Raises `type(text)` with `context` as its __context__, as `raise` inside `except` would.
[[noreturn]] void raise_in_context(PyObject* type, PyObject* text, PyObject* context);

// Runs `body` holding `lock` (a threading.Lock taken through its own acquire/release, which
// releases the GIL while it blocks). The body must not run Python code: a finaliser that ran
// here and needed the same lock would deadlock this thread.
template <class F>
void with_lock(PyObject* lock, F&& body) {
    Ref taken = call_method(lock, N.acquire);
    try {
        body();
    } catch (...) {
        support::CaughtError err;
        PyObject* released = PyObject_CallMethodNoArgs(lock, N.release);
        if (released) {
            Py_DECREF(released);
        } else {
            PyErr_Clear();
        }
        if (err.get()) PyErr_SetRaisedException(err.take().release());
        throw;
    }
    Ref released = call_method(lock, N.release);
}

// True when `name` (an exact str) equals one of `candidates` (interned strs).
inline bool name_in(PyObject* name, std::initializer_list<PyObject*> candidates) {
    for (PyObject* c : candidates) {
        if (name == c) return true;
    }
    for (PyObject* c : candidates) {
        if (PyUnicode_GET_LENGTH(name) == PyUnicode_GET_LENGTH(c) && PyUnicode_Compare(name, c) == 0) {
            return true;
        }
    }
    return false;
}

// `a == b` for the tag tests (any objects; a str compared without calling back into Python).
bool equals(PyObject* a, PyObject* b);

}  // namespace ostrel
