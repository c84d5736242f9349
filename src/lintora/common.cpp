// The shared helpers of the editor language services (see common.hpp).
#include "lintora/common.hpp"

namespace lintora {

using support::check;
using support::throw_error;

Names N;

void init_names() {
#define LINTORA_INTERN(member, literal)                       \
    if (!N.member) {                                          \
        N.member = PyUnicode_InternFromString(literal);       \
        if (!N.member) throw_error();                         \
    }
    LINTORA_NAMES(LINTORA_INTERN)
#undef LINTORA_INTERN
}

void forget_names() {
#define LINTORA_FORGET(member, literal) Py_CLEAR(N.member);
    LINTORA_NAMES(LINTORA_FORGET)
#undef LINTORA_FORGET
}

Ref getattr_optional(PyObject* o, PyObject* name) {
    PyObject* value = nullptr;
    check(PyObject_GetOptionalAttr(o, name, &value));
    return Ref::steal_or_null(value);
}

namespace {

// Vectorcall with keywords; `first` is prepended when given (the object of a method call).
Ref vector_call(PyObject* callable, PyObject* method_name, PyObject* first,
                std::initializer_list<PyObject*> args, std::initializer_list<Kw> kw) {
    // Our calls pass at most a handful of arguments; the bound is checked, not assumed.
    PyObject* stack[16];
    if (args.size() + kw.size() + 1 > 16) {
        PyErr_SetString(PyExc_SystemError, "too many arguments for an internal call");
        throw_error();
    }
    std::size_t n = 0;
    if (first) stack[n++] = first;
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

Ref call_method(PyObject* o, PyObject* name, std::initializer_list<PyObject*> args,
                std::initializer_list<Kw> kw) {
    return vector_call(nullptr, name, o, args, kw);
}

Ref make_dict(std::initializer_list<Kw> items) {
    Ref d = Ref::steal(PyDict_New());
    for (const Kw& it : items) set_item(d.get(), it.name, it.value);
    return d;
}

int compare_int(PyObject* value, long bound) {
    int overflow = 0;
    long v = PyLong_AsLongAndOverflow(value, &overflow);
    if (v == -1 && !overflow && PyErr_Occurred()) throw_error();
    if (overflow) return overflow;
    return v < bound ? -1 : (v > bound ? 1 : 0);
}

Ref fenced_block(PyObject* body) {
    return Ref::steal(PyUnicode_FromFormat("```python\n%U\n```", body));
}

void lsp_log(PyObject* module, LogLevel level, const char* fmt, std::initializer_list<PyObject*> args,
         PyObject* exc_info) {
    Ref logger = global(module, N.g_logger);
    support::log(logger.get(), level, fmt, args, exc_info);
}

void lsp_log_message(PyObject* module, LogLevel level, PyObject* message) {
    Ref logger = global(module, N.g_logger);
    support::log_message(logger.get(), level, message);
}

Ref logger_if_enabled(PyObject* module, LogLevel level) {
    Ref logger = global(module, N.g_logger);
    if (!support::log_enabled(logger.get(), level)) return Ref();
    return logger;
}

}  // namespace lintora
