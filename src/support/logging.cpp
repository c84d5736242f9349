// Logging calls into a Python logger (see logging.hpp).
#include "support/logging.hpp"

namespace support {
namespace {

const char* method_name(LogLevel level) {
    switch (level) {
        case LogLevel::Debug:
            return "debug";
        case LogLevel::Info:
            return "info";
        case LogLevel::Warning:
            return "warning";
        case LogLevel::Error:
            return "error";
    }
    return "error";
}

}  // namespace

bool log_enabled(PyObject* logger, LogLevel level) {
    PyObject* method = nullptr;
    if (!check(PyObject_GetOptionalAttrString(logger, "isEnabledFor", &method))) return true;
    Ref m = Ref::steal(method);
    Ref lv = Ref::steal(PyLong_FromLong(static_cast<long>(level)));
    Ref res = Ref::steal(PyObject_CallOneArg(m.get(), lv.get()));
    return truthy(res.get());
}

void log_unchecked(PyObject* logger, LogLevel level, const char* fmt,
                   std::initializer_list<PyObject*> args, PyObject* exc_info) {
    Ref method = Ref::steal(PyObject_GetAttrString(logger, method_name(level)));
    Ref call_args = Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(args.size() + 1)));
    PyObject* f = PyUnicode_FromString(fmt);
    if (!f) throw_error();
    PyTuple_SET_ITEM(call_args.get(), 0, f);
    Py_ssize_t i = 1;
    for (PyObject* a : args) PyTuple_SET_ITEM(call_args.get(), i++, Py_NewRef(a));
    Ref kwargs;
    if (exc_info) {
        kwargs = Ref::steal(PyDict_New());
        check(PyDict_SetItemString(kwargs.get(), "exc_info", exc_info));
    }
    Ref res = Ref::steal(PyObject_Call(method.get(), call_args.get(), kwargs.get()));
}

void log_message(PyObject* logger, LogLevel level, PyObject* message) {
    if (!log_enabled(logger, level)) return;
    Ref method = Ref::steal(PyObject_GetAttrString(logger, method_name(level)));
    Ref res = Ref::steal(PyObject_CallOneArg(method.get(), message));
}

void log(PyObject* logger, LogLevel level, const char* fmt, std::initializer_list<PyObject*> args,
         PyObject* exc_info) {
    if (!log_enabled(logger, level)) return;
    log_unchecked(logger, level, fmt, args, exc_info);
}

}  // namespace support
