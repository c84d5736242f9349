// Helpers shared by the bridge's files (see util.hpp).
#include "ostrel/util.hpp"

namespace ostrel {

Ref mapping_get(PyObject* obj, PyObject* key, PyObject* dflt) {
    if (!dflt) dflt = Py_None;
    if (PyDict_CheckExact(obj)) {
        PyObject* found = nullptr;
        if (support::check(PyDict_GetItemRef(obj, key, &found))) return Ref::steal(found);
        return Ref::borrow(dflt);
    }
    return call_method(obj, N.get, key, dflt);
}

Ref make_dict(std::initializer_list<std::pair<PyObject*, PyObject*>> items) {
    Ref d = Ref::steal(PyDict_New());
    for (const auto& kv : items) support::check(PyDict_SetItem(d.get(), kv.first, kv.second));
    return d;
}

Ref error_text(PyObject* error, PyObject* fallback) {
    if (!error || error == Py_None) return Ref::borrow(fallback);
    if (PyDict_Check(error)) return mapping_get(error, N.message, fallback);
    if (PyUnicode_Check(error)) {
        return Ref::borrow(PyUnicode_GET_LENGTH(error) ? error : fallback);
    }
    PyObject* getter = nullptr;
    if (support::check(PyObject_GetOptionalAttr(error, N.get, &getter))) {
        Ref get = Ref::steal(getter);
        PyObject* args[] = {N.message, fallback};
        return Ref::steal(PyObject_Vectorcall(get.get(), args, 2, nullptr));
    }
    return Ref::borrow(fallback);
}

void raise_in_context(PyObject* type, PyObject* text, PyObject* context) {
    Ref exc = Ref::steal(PyObject_CallOneArg(type, text));
    if (context) PyException_SetContext(exc.get(), Py_NewRef(context));
    PyErr_SetRaisedException(exc.release());
    throw support::PyErrorSet{};
}

bool equals(PyObject* a, PyObject* b) {
    if (a == b) return true;
    if (PyUnicode_CheckExact(a) && PyUnicode_CheckExact(b)) {
        return PyUnicode_GET_LENGTH(a) == PyUnicode_GET_LENGTH(b) && PyUnicode_Compare(a, b) == 0;
    }
    Ref r = Ref::steal(PyObject_RichCompare(a, b, Py_EQ));
    return support::truthy(r.get());
}

}  // namespace ostrel
