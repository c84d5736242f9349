// Calls from C++ into Python (see call.hpp).
#include "support/call.hpp"

namespace support {
namespace {

// Vectorcall with keywords; `self` is prepended when given (the object of a method call).
Ref vector_call(PyObject* callable, PyObject* method_name, PyObject* self,
                std::initializer_list<PyObject*> args, std::initializer_list<Kw> kw) {
    PyObject* stack[kMaxCallArgs];
    if ((self ? 1 : 0) + args.size() + kw.size() > kMaxCallArgs) {
        raise(PyExc_SystemError, "too many arguments for an internal call");
    }
    std::size_t n = 0;
    if (self) stack[n++] = self;
    for (PyObject* a : args) stack[n++] = a;
    const std::size_t npos = n;
    Ref kwnames;
    if (kw.size()) {
        kwnames = Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(kw.size())));
        Py_ssize_t i = 0;
        for (const Kw& k : kw) {
            PyTuple_SET_ITEM(kwnames.get(), i++, Py_NewRef(k.name));
            stack[n++] = k.value;
        }
    }
    if (method_name) {
        return Ref::steal(PyObject_VectorcallMethod(method_name, stack, npos, kwnames.get()));
    }
    return Ref::steal(PyObject_Vectorcall(callable, stack, npos, kwnames.get()));
}

}  // namespace

Ref call(PyObject* callable, std::initializer_list<PyObject*> args, std::initializer_list<Kw> kw) {
    return vector_call(callable, nullptr, nullptr, args, kw);
}

Ref call_method(PyObject* obj, PyObject* name, std::initializer_list<PyObject*> args,
                std::initializer_list<Kw> kw) {
    return vector_call(nullptr, name, obj, args, kw);
}

}  // namespace support
