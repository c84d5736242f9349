// Attribute access and calls from C++ into Python, with the semantics of the Python expression
// they stand for (`obj.name`, `obj.name = v`, `f(*args, **kw)`, `obj.name(*args, **kw)`).
#pragma once

#include <initializer_list>

#include "support/ref.hpp"

namespace support {

// `obj.name`
inline Ref get_attr(PyObject* obj, PyObject* name) {
    return Ref::steal(PyObject_GetAttr(obj, name));
}

// `getattr(obj, name, <nothing>)`: an empty Ref when only AttributeError says the attribute is
// missing; any other error propagates.
inline Ref get_attr_optional(PyObject* obj, PyObject* name) {
    PyObject* value = nullptr;
    check(PyObject_GetOptionalAttr(obj, name, &value));
    return Ref::steal_or_null(value);
}

// `getattr(obj, "name")` for a name known only as C text (initialisation code, not hot paths).
inline Ref get_attr(PyObject* obj, const char* name) {
    return Ref::steal(PyObject_GetAttrString(obj, name));
}

// `obj.name = value`
inline void set_attr(PyObject* obj, PyObject* name, PyObject* value) {
    check(PyObject_SetAttr(obj, name, value));
}

// One keyword argument of a call: `name=value`.
struct Kw {
    PyObject* name;
    PyObject* value;
};

// The most arguments (positional and keyword together, plus the object of a method call) one
// call through these helpers passes; a call with more raises SystemError.
constexpr std::size_t kMaxCallArgs = 16;

// `callable(*args, **kw)`
Ref call(PyObject* callable, std::initializer_list<PyObject*> args = {},
         std::initializer_list<Kw> kw = {});

// `obj.name(*args, **kw)`, looked up on the object at each call so that an instance attribute,
// a subclass or a patch takes effect.
Ref call_method(PyObject* obj, PyObject* name, std::initializer_list<PyObject*> args = {},
                std::initializer_list<Kw> kw = {});

}  // namespace support
