// Owned references and the one error convention shared by both extension modules.
//
// Error convention: a helper that calls into the C API and sees a failure leaves Python's error
// indicator set and throws PyErrorSet. Nothing else is thrown across our code (std::bad_alloc
// aside). Every function that CPython calls (an entry point) wraps its body in `entry(...)`,
// which turns PyErrorSet into the NULL / -1 that the C API expects. RAII (`Ref`) releases every
// reference on the way out, so an error path never needs its own clean-up.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <new>
#include <utility>

namespace support {

// Thrown after a C API call failed; Python's error indicator is already set.
struct PyErrorSet {};

[[noreturn]] inline void throw_error() { throw PyErrorSet{}; }

// Raise a Python exception of `type` with `message` and unwind.
[[noreturn]] inline void raise(PyObject* type, const char* message) {
    PyErr_SetString(type, message);
    throw PyErrorSet{};
}

// Owns exactly one strong reference, or nothing. Move-only.
class Ref {
public:
    Ref() noexcept = default;
    Ref(std::nullptr_t) noexcept {}
    Ref(Ref&& other) noexcept : p_(other.p_) { other.p_ = nullptr; }
    Ref& operator=(Ref&& other) noexcept {
        if (this != &other) {
            PyObject* old = p_;
            p_ = other.p_;
            other.p_ = nullptr;
            Py_XDECREF(old);
        }
        return *this;
    }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    ~Ref() { Py_XDECREF(p_); }

    // Takes over a new reference returned by the C API; NULL means the call failed.
    static Ref steal(PyObject* o) {
        if (!o) throw_error();
        return Ref(o);
    }
    // Takes over a reference that may legitimately be NULL (no error implied).
    static Ref steal_or_null(PyObject* o) noexcept { return Ref(o); }
    // Adds a reference to a borrowed object.
    static Ref borrow(PyObject* o) noexcept {
        Py_XINCREF(o);
        return Ref(o);
    }

    PyObject* get() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }
    // Hands the reference to the caller (for returning to CPython).
    PyObject* release() noexcept {
        PyObject* o = p_;
        p_ = nullptr;
        return o;
    }
    // A second owned reference to the same object.
    Ref dup() const noexcept { return borrow(p_); }
    void reset() noexcept { Ref tmp(std::move(*this)); }

private:
    explicit Ref(PyObject* o) noexcept : p_(o) {}
    PyObject* p_ = nullptr;
};

inline Ref none() { return Ref::borrow(Py_None); }
inline Ref boolean(bool v) { return Ref::borrow(v ? Py_True : Py_False); }

// Throws when a C API call that returns -1 on error failed.
inline int check(int rc) {
    if (rc < 0) throw_error();
    return rc;
}

// Truth value of `o` as `bool(o)` gives it.
inline bool truthy(PyObject* o) { return check(PyObject_IsTrue(o)) != 0; }

// Entry point wrappers: run `body` and translate the error convention for CPython.
template <class F>
PyObject* entry(F&& body) noexcept {
    try {
        return body().release();
    } catch (const PyErrorSet&) {
        return nullptr;
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
        return nullptr;
    }
}

template <class F>
int entry_int(F&& body) noexcept {
    try {
        return body();
    } catch (const PyErrorSet&) {
        return -1;
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
        return -1;
    }
}

// Holds the currently raised exception for the lifetime of the object and can restore it.
// Used where an error must be inspected, handled or re-raised after other calls.
class CaughtError {
public:
    CaughtError() : exc_(Ref::steal_or_null(PyErr_GetRaisedException())) {}
    PyObject* get() const noexcept { return exc_.get(); }
    bool matches(PyObject* type) const {
        return exc_ && PyErr_GivenExceptionMatches(exc_.get(), type);
    }
    // Raises the held exception again and unwinds.
    [[noreturn]] void rethrow() {
        PyErr_SetRaisedException(exc_.release());
        throw PyErrorSet{};
    }
    Ref take() noexcept { return std::move(exc_); }

private:
    Ref exc_;
};

// RAII for Py_EnterRecursiveCall: deep or self-containing input raises RecursionError instead
// of overflowing the C stack.
class RecursionGuard {
public:
    explicit RecursionGuard(const char* where) {
        if (Py_EnterRecursiveCall(where)) throw_error();
    }
    ~RecursionGuard() { Py_LeaveRecursiveCall(); }
    RecursionGuard(const RecursionGuard&) = delete;
    RecursionGuard& operator=(const RecursionGuard&) = delete;
};

}  // namespace support
