// Warnings for attributes that a class of the Excel-API stubs does not have (see member_check.cpp).
#pragma once

#include "support/ref.hpp"

namespace lintora {

// The markers for `code` (already parsed into `tree`, with no syntax error), as a new list. A
// failure inside is logged at warning level and gives the markers found before it.
support::Ref excel_member_markers(PyObject* module, PyObject* self, PyObject* code, PyObject* tree,
                                  PyObject* module_name);

}  // namespace lintora
