// Plain values from C++ (see values.hpp).
#include "support/values.hpp"

namespace support {

Ref make_dict(std::initializer_list<Kw> items) {
    Ref d = Ref::steal(PyDict_New());
    for (const Kw& item : items) check(PyDict_SetItem(d.get(), item.name, item.value));
    return d;
}

Ref mapping_get(PyObject* obj, PyObject* key, PyObject* dflt) {
    if (!dflt) dflt = Py_None;
    if (PyDict_CheckExact(obj)) {
        PyObject* found = nullptr;
        if (check(PyDict_GetItemRef(obj, key, &found))) return Ref::steal(found);
        return Ref::borrow(dflt);
    }
    return Ref::steal(PyObject_CallMethod(obj, "get", "OO", key, dflt));
}

Ref mapping_pop(PyObject* obj, PyObject* key) {
    if (PyDict_CheckExact(obj)) {
        PyObject* found = nullptr;
        if (check(PyDict_Pop(obj, key, &found))) return Ref::steal(found);
        return none();
    }
    return Ref::steal(PyObject_CallMethod(obj, "pop", "OO", key, Py_None));
}

int compare_int(PyObject* value, long bound) {
    int overflow = 0;
    const long v = PyLong_AsLongAndOverflow(value, &overflow);
    if (v == -1 && !overflow && PyErr_Occurred()) throw_error();
    if (overflow) return overflow;
    return v < bound ? -1 : (v > bound ? 1 : 0);
}

}  // namespace support
