// Entry point of the editor language services extension module.
#include "support/module_guard.hpp"

namespace {

void build(PyObject*) {}

const support::ModuleSpec spec{"lintora", "Editor language services.", build, nullptr};

}  // namespace

PyMODINIT_FUNC PyInit_lintora() { return support::module_init(spec); }
