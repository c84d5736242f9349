// Holding a Python lock (see lock.hpp).
#include "support/lock.hpp"

namespace support {
namespace {

// Interned on first use under the GIL and kept for the process: the locks are taken on every
// request, so the method names are not rebuilt each time.
PyObject* interned(PyObject*& slot, const char* text) {
    if (!slot) slot = intern(text).release();
    return slot;
}
PyObject* g_acquire = nullptr;
PyObject* g_release = nullptr;

}  // namespace

PyObject* lock_release_name() { return g_release; }

Ref lock_acquire(PyObject* lock) {
    interned(g_release, "release");
    return Ref::steal(PyObject_CallMethodNoArgs(lock, interned(g_acquire, "acquire")));
}

Ref lock_release(PyObject* lock) {
    return Ref::steal(PyObject_CallMethodNoArgs(lock, interned(g_release, "release")));
}

}  // namespace support
