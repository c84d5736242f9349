// numpy arrays and pandas frames turned into plain rows for the encoder (see numpy_pandas.hpp).
#include "ostrel/numpy_pandas.hpp"

#include <cmath>

#include "ostrel/common.hpp"

namespace ostrel {
namespace {

// numpy's one-letter kind of `values.dtype` ('f', 'M', 'O', ...), or 0 when it has none.
Py_UCS4 dtype_kind(PyObject* values) {
    PyObject* found = nullptr;
    if (!support::check(PyObject_GetOptionalAttr(values, N.dtype, &found))) return 0;
    Ref dtype = Ref::steal(found);
    if (!support::check(PyObject_GetOptionalAttr(dtype.get(), N.kind, &found))) return 0;
    Ref kind = Ref::steal(found);
    if (!PyUnicode_Check(kind.get()) || PyUnicode_GET_LENGTH(kind.get()) != 1) return 0;
    return PyUnicode_READ_CHAR(kind.get(), 0);
}

bool is_datetime_kind(Py_UCS4 kind) { return kind == 'M' || kind == 'm'; }

// What pandas counts as missing in a cell. The common exact types are settled without a call;
// numpy scalars (a NaT datetime64, a float32 NaN) are asked of pandas' own predicate.
bool is_missing(PyObject* cell) {
    if (cell == Py_None) return true;
    PyTypeObject* tp = Py_TYPE(cell);
    if (tp == &PyFloat_Type) return std::isnan(PyFloat_AS_DOUBLE(cell));
    if (tp == &PyLong_Type || tp == &PyUnicode_Type || tp == &PyBool_Type) return false;
    if (cell == C.pd_NA || cell == C.pd_NaT) return true;
    if (PyFloat_Check(cell)) return std::isnan(PyFloat_AS_DOUBLE(cell));
    if (support::is_instance(cell, C.decimal_Decimal)) {
        // A Decimal is a number like a float, and its NaN is missing like a float's.
        Ref nan = call_method(cell, N.is_nan);
        return support::truthy(nan.get());
    }
    if (!support::is_instance(cell, C.np_generic)) return false;
    Ref answer = Ref::steal(PyObject_CallOneArg(C.pd_isna, cell));
    if (PyBool_Check(answer.get())) return answer.get() == Py_True;
    return support::is_instance(answer.get(), C.np_bool) && support::truthy(answer.get());
}

// Replaces the missing cells of one row (a list the row's `tolist` just made) by "".
void blank_missing(PyObject* cells) {
    if (!PyList_CheckExact(cells)) return;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(cells); ++i) {
        if (is_missing(PyList_GET_ITEM(cells, i))) {
            support::check(PyList_SetItem(cells, i, Py_NewRef(C.empty_str)));
        }
    }
}

}  // namespace

Ref array_items(PyObject* array) {
    if (!is_datetime_kind(dtype_kind(array))) return call_method(array, N.tolist);
    Ref ndim = get_attr(array, N.ndim);
    const Py_ssize_t dims = support::as_ssize(ndim.get());
    if (dims == 0) {
        Ref no_index = Ref::steal(PyTuple_New(0));
        return Ref::steal(PyObject_GetItem(array, no_index.get()));
    }
    return Ref::steal(PySequence_List(array));
}

Ref frame_rows(PyObject* value) {
    Ref frame = support::is_instance(value, C.pd_Series) ? call_method(value, N.to_frame)
                                                         : Ref::borrow(value);
    Ref columns = get_attr(frame.get(), N.columns);
    Ref header = call_method(columns.get(), N.tolist);
    Ref rows = Ref::steal(PyList_New(0));
    support::check(PyList_Append(rows.get(), header.get()));
    Ref values = get_attr(frame.get(), N.values);
    Py_UCS4 kind = dtype_kind(values.get());
    if (is_datetime_kind(kind)) {
        // Only a frame whose every column is datetime-like (or timedelta-like) gives numpy
        // datetime values here; mixed frames already give pandas' own objects, and those keep
        // the instant at any precision.
        Ref objects =
            call_method(frame.get(), N.astype, {reinterpret_cast<PyObject*>(&PyBaseObject_Type)});
        values = get_attr(objects.get(), N.values);
        kind = 'O';
    }
    // Integer and boolean arrays cannot hold a missing value.
    const bool may_miss = kind != 'i' && kind != 'u' && kind != 'b';
    for (Ref& row : iterate(values.get())) {
        Ref cells = call_method(row.get(), N.tolist);
        if (may_miss) blank_missing(cells.get());
        support::check(PyList_Append(rows.get(), cells.get()));
    }
    return rows;
}

}  // namespace ostrel
