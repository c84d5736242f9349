// Entry point of the Excel object bridge extension module.
#include "support/module_guard.hpp"

namespace {

void build(PyObject*) {}

const support::ModuleSpec spec{"ostrel", "Excel object bridge.", build, nullptr};

}  // namespace

PyMODINIT_FUNC PyInit_ostrel() { return support::module_init(spec); }
