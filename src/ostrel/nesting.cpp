// Depth and cycle limits for the recursive encoder and decoder (see nesting.hpp).
#include "ostrel/nesting.hpp"

namespace ostrel {
namespace {

// Past this depth each new container is looked for among those already open on this thread.
constexpr std::size_t kCycleScanDepth = 32;
// Never nest deeper than this, whatever the recursion limit says: each level takes a few C
// frames, and the C stack of a thread is finite.
constexpr int kHardLimit = 4000;

// Containers being encoded or decoded on this thread, outermost first.
thread_local std::vector<PyObject*> t_path;

}  // namespace

Nesting::Nesting(PyObject* container, bool detect_cycles, const char* where) : guard_(where) {
    int limit = Py_GetRecursionLimit();
    if (limit > kHardLimit) limit = kHardLimit;
    if (t_path.size() >= static_cast<std::size_t>(limit)) {
        PyErr_Format(PyExc_RecursionError, "maximum recursion depth exceeded%s", where);
        support::throw_error();
    }
    if (detect_cycles && t_path.size() >= kCycleScanDepth) {
        for (PyObject* open : t_path) {
            if (open == container) {
                support::raise(PyExc_ValueError, "Circular reference detected");
            }
        }
    }
    t_path.push_back(container);
}

Nesting::~Nesting() { t_path.pop_back(); }

}  // namespace ostrel
