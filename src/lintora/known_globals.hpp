// The kernel's script globals as the editor sees them (see known_globals.cpp).
#pragma once

#include "support/ref.hpp"

namespace lintora {

// The import line jedi reads before the buffer ("" when no names are known), ending in "\n".
support::Ref known_prelude(PyObject* self);
// The buffer as jedi reads it: the prelude, then `code`.
support::Ref script_code(PyObject* self, PyObject* code);
// The buffer's 1-based `line` as a line of script_code.
support::Ref script_line(PyObject* self, PyObject* line);
// True when `name` (a str) is one of the known globals.
bool is_known_global(PyObject* self, PyObject* name);

}  // namespace lintora
