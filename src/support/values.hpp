// Building and comparing plain values from C++: dicts, lists, strings and ints, each with the
// meaning of the Python expression named beside it.
#pragma once

#include <initializer_list>
#include <utility>

#include "support/call.hpp"
#include "support/ref.hpp"

namespace support {

// `{k1: v1, k2: v2, ...}` in the given order.
Ref make_dict(std::initializer_list<Kw> items);

// `obj[key] = value` (an exact dict without a method lookup).
inline void set_item(PyObject* obj, PyObject* key, PyObject* value) {
    check(PyDict_CheckExact(obj) ? PyDict_SetItem(obj, key, value)
                                 : PyObject_SetItem(obj, key, value));
}

// `obj.get(key, default)`; `dflt` nullptr means None. An exact dict is read directly.
Ref mapping_get(PyObject* obj, PyObject* key, PyObject* dflt = nullptr);

// Two exact strs with the same text; decided without calling back into Python.
inline bool same_str(PyObject* a, PyObject* b) {
    return a == b ||
           (PyUnicode_GET_LENGTH(a) == PyUnicode_GET_LENGTH(b) && PyUnicode_Compare(a, b) == 0);
}

// `name in (c1, c2, ...)` for an exact str among interned strs.
inline bool str_in(PyObject* name, std::initializer_list<PyObject*> candidates) {
    for (PyObject* c : candidates) {
        if (name == c) return true;
    }
    for (PyObject* c : candidates) {
        if (same_str(name, c)) return true;
    }
    return false;
}

// `a == b` (true for the same object, as `in` and `list.index` see it); two exact strs are
// compared without calling back into Python.
inline bool equals(PyObject* a, PyObject* b) {
    if (a == b) return true;
    if (PyUnicode_CheckExact(a) && PyUnicode_CheckExact(b)) return same_str(a, b);
    return check(PyObject_RichCompareBool(a, b, Py_EQ)) != 0;
}

// `str(o)`, a str from UTF-8 text, `int(v)`.
inline Ref str(PyObject* o) { return Ref::steal(PyObject_Str(o)); }
inline Ref text(const char* s) { return Ref::steal(PyUnicode_FromString(s)); }
inline Ref integer(long v) { return Ref::steal(PyLong_FromLong(v)); }

// `a + b`
inline Ref add(PyObject* a, PyObject* b) { return Ref::steal(PyNumber_Add(a, b)); }

// `[]` and `list.append(item)`
inline Ref new_list() { return Ref::steal(PyList_New(0)); }
inline void append(PyObject* list, PyObject* item) { check(PyList_Append(list, item)); }

// `len(o)` as an int object.
inline Ref length(PyObject* o) {
    const Py_ssize_t n = PyObject_Length(o);
    if (n < 0) throw_error();
    return Ref::steal(PyLong_FromSsize_t(n));
}

// `list += more` (list.extend with any iterable).
inline void extend(PyObject* list, PyObject* more) {
    Ref same = Ref::steal(PySequence_InPlaceConcat(list, more));
}

// `obj.pop(key, None)` (an exact dict without a method lookup).
Ref mapping_pop(PyObject* obj, PyObject* key);

// The value of an int as a Py_ssize_t; OverflowError when it does not fit.
inline Py_ssize_t as_ssize(PyObject* number) {
    const Py_ssize_t n = PyLong_AsSsize_t(number);
    if (n == -1 && PyErr_Occurred()) throw_error();
    return n;
}

// `operator.index(number)` clamped to the Py_ssize_t range, as slicing clamps huge bounds.
inline Py_ssize_t as_clamped_index(PyObject* number) {
    const Py_ssize_t n = PyNumber_AsSsize_t(number, nullptr);
    if (n == -1 && PyErr_Occurred()) throw_error();
    return n;
}

// `isinstance(obj, cls)`
inline bool is_instance(PyObject* obj, PyObject* cls) {
    return check(PyObject_IsInstance(obj, cls)) != 0;
}
inline bool is_instance(PyObject* obj, PyTypeObject* cls) {
    return is_instance(obj, reinterpret_cast<PyObject*>(cls));
}

// `part in text` for strs.
inline bool str_contains(PyObject* text, PyObject* part) {
    return check(PyUnicode_Contains(text, part)) != 0;
}

// An int object from a Py_ssize_t.
inline Ref ssize_int(Py_ssize_t v) { return Ref::steal(PyLong_FromSsize_t(v)); }

// `a or b`
inline Ref either(Ref a, PyObject* b) { return truthy(a.get()) ? std::move(a) : Ref::borrow(b); }

// The sign of an int compared with `bound` (-1, 0, 1), without overflow.
int compare_int(PyObject* value, long bound);

}  // namespace support
