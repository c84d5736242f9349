// Delegation with traceback trimming (see delegate.hpp).
//
// Our native functions add no traceback entries of their own; the entries trimmed here are
// those of Python code standing in for the operation functions under their usual names (a
// replaced `_cw__getattr__`, say), compared by bare code name against the module list
// `_internal_officejs_names`.
#include "ostrel/delegate.hpp"

#include "ostrel/common.hpp"

namespace ostrel {
namespace {

// `tb = e.__traceback__`, then drops leading entries whose code name is an internal one.
void trim(PyObject* module, PyObject* exc) {
    Ref tb = Ref::steal_or_null(PyException_GetTraceback(exc));
    Ref names;
    while (tb && tb.get() != Py_None) {
        if (!names) names = lookup_global(module, N._internal_officejs_names);
        Ref frame = get_attr(tb.get(), N.tb_frame);
        Ref code = get_attr(frame.get(), N.f_code);
        Ref name = get_attr(code.get(), N.co_name);
        if (!support::check(PySequence_Contains(names.get(), name.get()))) break;
        tb = get_attr(tb.get(), N.tb_next);
    }
    support::check(PyException_SetTraceback(exc, tb ? tb.get() : Py_None));
}

}  // namespace

Ref delegate(PyObject* module, PyObject* fn_name, PyObject* const* args, std::size_t nargs,
             PyObject* kwargs) {
    try {
        Ref fn = lookup_global(module, fn_name);
        if (!kwargs) return Ref::steal(PyObject_Vectorcall(fn.get(), args, nargs, nullptr));
        Ref tuple = Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(nargs)));
        for (std::size_t i = 0; i < nargs; ++i) {
            PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(i), Py_NewRef(args[i]));
        }
        return Ref::steal(PyObject_Call(fn.get(), tuple.get(), kwargs));
    } catch (const support::PyErrorSet&) {
        support::CaughtError err;
        if (!err.matches(PyExc_Exception)) err.rethrow();
        try {
            trim(module, err.get());
        } catch (const support::PyErrorSet&) {
            // A failure while trimming surfaces as raised during the handling of the original.
            support::CaughtError during;
            if (during.get()) PyException_SetContext(during.get(), err.take().release());
            during.rethrow();
        }
        err.rethrow();
    }
}

}  // namespace ostrel
