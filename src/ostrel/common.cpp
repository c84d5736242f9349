// The error text of a failed response (see common.hpp).
#include "ostrel/common.hpp"

namespace ostrel {

Ref error_text(PyObject* error, PyObject* fallback) {
    if (!error || error == Py_None) return Ref::borrow(fallback);
    if (PyDict_Check(error)) return mapping_get(error, N.message, fallback);
    if (PyUnicode_Check(error)) {
        return Ref::borrow(PyUnicode_GET_LENGTH(error) ? error : fallback);
    }
    if (Ref get = support::get_attr_optional(error, N.get)) {
        return support::call(get.get(), {N.message, fallback});
    }
    return Ref::borrow(fallback);
}

}  // namespace ostrel
