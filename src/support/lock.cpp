// Holding a Python lock (see lock.hpp).
#include "support/lock.hpp"

#include "support/names.hpp"

namespace support {
namespace {

// clang-format off
#define SUPPORT_LOCK_NAMES(X) \
    X(acquire, "acquire")     \
    X(release, "release")
// clang-format on

SUPPORT_NAME_TABLE(LockNames, SUPPORT_LOCK_NAMES)

// Interned on first use under the GIL and kept for the process: the locks are taken on every
// request, so the method names are not rebuilt each time. Each module links its own copy.
LockNames g_names;

}  // namespace

PyObject* lock_release_name() { return g_names.release; }

Ref lock_acquire(PyObject* lock) {
    g_names.intern_all();
    return Ref::steal(PyObject_CallMethodNoArgs(lock, g_names.acquire));
}

Ref lock_release(PyObject* lock) {
    g_names.intern_all();
    return Ref::steal(PyObject_CallMethodNoArgs(lock, g_names.release));
}

}  // namespace support
