// What numpy arrays and pandas frames are sent as: plain Python values that the ordered
// encoding rules then take, so that the cells of an array or a table read as the user meant them.
#pragma once

#include "support/ref.hpp"

namespace ostrel {

// The contents of a numpy array as the encoder should see them: `tolist()`, except for datetime
// and timedelta arrays, which give their numpy scalars (a 0-d array its one scalar, any other a
// list of its items, sub-arrays included), since `tolist` turns nanosecond values into integers.
support::Ref array_items(PyObject* array);

// A Series or DataFrame as a new list of rows: the column labels, then one list of cells per row
// (the index is not sent). Datetime-like cells come out as pandas Timestamps and Timedeltas at
// any precision, and missing values (None, NaN, NaT, pd.NA) as the empty string, which empties
// the cell where None would leave it as it was.
support::Ref frame_rows(PyObject* frame);

}  // namespace ostrel
