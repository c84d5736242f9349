// What the encoder makes of values that none of the wire format's own rules take: missing-value
// markers become empty cells, other real numbers become numbers, and values whose text would be
// Python's description of them rather than data are refused.
#pragma once

#include "support/ref.hpp"

namespace ostrel {

// pandas' and numpy's missing markers: pd.NA, pd.NaT, a NaT datetime64 or timedelta64. They are
// sent as the empty text, which empties a cell, as they are inside a table.
bool is_missing_marker(PyObject* value);

// The float of a real number that is neither an int nor a float (a Decimal, a Fraction, any
// numbers.Real), or an empty Ref for anything else. A Decimal NaN, signalling or not, is a NaN.
support::Ref real_number(PyObject* value);

// True for a value that has no meaning in a cell and no text of its own: a set, a complex number,
// an iterator, a range, a module, a dict view, or an object that defines neither __str__ nor
// __repr__.
bool has_no_cell_meaning(PyObject* value);

}  // namespace ostrel
