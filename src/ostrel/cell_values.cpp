// Missing markers, further numbers and values without a cell meaning (see cell_values.hpp).
#include "ostrel/cell_values.hpp"

#include <cmath>

#include "ostrel/common.hpp"

namespace ostrel {

bool is_missing_marker(PyObject* value) {
    if (value == C.pd_NA || value == C.pd_NaT) return true;
    if (!support::is_instance(value, C.np_datetime64) &&
        !support::is_instance(value, C.np_timedelta64)) {
        return false;
    }
    Ref nat = Ref::steal(PyObject_CallOneArg(C.np_isnat, value));
    return support::truthy(nat.get());
}

Ref real_number(PyObject* value) {
    if (support::is_instance(value, C.decimal_Decimal)) {
        // float() refuses a signalling NaN; to a cell it is a NaN like any other.
        Ref nan = call_method(value, N.is_nan);
        if (support::truthy(nan.get())) return Ref::steal(PyFloat_FromDouble(std::nan("")));
        return Ref::steal(PyNumber_Float(value));
    }
    // numpy registers its timedelta64 as an integer, but it is a span of time, not a number.
    if (support::is_instance(value, C.np_timedelta64)) return Ref();
    if (support::is_instance(value, C.numbers_Real)) return Ref::steal(PyNumber_Float(value));
    return Ref();
}

bool has_no_cell_meaning(PyObject* value) {
    PyTypeObject* tp = Py_TYPE(value);
    if (PyAnySet_Check(value) || PyComplex_Check(value) || PyRange_Check(value) ||
        PyModule_Check(value) || PyIter_Check(value)) {
        return true;
    }
    if (PyDictKeys_Check(value) || PyDictValues_Check(value) || PyDictItems_Check(value)) {
        return true;
    }
    // Such an object's text is only its type and address.
    return tp->tp_str == PyBaseObject_Type.tp_str && tp->tp_repr == PyBaseObject_Type.tp_repr;
}

}  // namespace ostrel
