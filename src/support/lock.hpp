// Holding a Python `threading.Lock` around a C++ body.
#pragma once

#include "support/ref.hpp"

namespace support {

// `lock.acquire()` and `lock.release()` through the lock's own methods (a threading.Lock releases
// the GIL while it blocks).
Ref lock_acquire(PyObject* lock);
Ref lock_release(PyObject* lock);
// The interned "release", for the unwinding path that must not throw before it restores the error.
PyObject* lock_release_name();

// Runs `body` holding `lock`, releasing it also when the body raises (the body's error wins over
// one from the release). What the body may do is the caller's contract, stated at each lock: a
// body that ran Python code which took the same lock would deadlock this thread.
template <class F>
void with_lock(PyObject* lock, F&& body) {
    Ref taken = lock_acquire(lock);
    try {
        body();
    } catch (...) {
        CaughtError err;
        PyObject* released = PyObject_CallMethodNoArgs(lock, lock_release_name());
        if (released) {
            Py_DECREF(released);
        } else {
            PyErr_Clear();
        }
        if (err.get()) PyErr_SetRaisedException(err.take().release());
        throw;
    }
    Ref released = lock_release(lock);
}

}  // namespace support
