// Pyflakes markers narrowed to the name their message is about (see marker_names.cpp).
#pragma once

#include "lintora/columns.hpp"
#include "support/ref.hpp"

namespace lintora {

// The text between the first two single quotes of `msg` (pyflakes quotes the name a message is
// about: "undefined name 'x'", "'os' imported but unused"); an empty Ref when there is none.
support::Ref first_quoted(PyObject* msg);

// Moves a marker (already in editor columns) onto the name its message quotes, where that name
// stands on the marker's line; a marker whose name is not found there keeps its range.
void cover_quoted_name(Columns& columns, PyObject* diag);

}  // namespace lintora
