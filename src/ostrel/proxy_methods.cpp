// The special methods shared by the proxy classes (see proxy_methods.hpp).
#include "ostrel/proxy_methods.hpp"

#include <vector>

#include "ostrel/common.hpp"
#include "ostrel/delegate.hpp"

namespace ostrel {
namespace {

Ref getattr_impl(PyObject* module, const ArgValues& a) {
    return delegate_getattr(module, a[0], a[1]);
}

Ref call_impl(PyObject* module, const ArgValues& a) {
    PyObject* positional = a.varargs();
    std::vector<PyObject*> args;
    args.reserve(1 + static_cast<std::size_t>(PyTuple_GET_SIZE(positional)));
    args.push_back(a[0]);
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(positional); ++i) {
        args.push_back(PyTuple_GET_ITEM(positional, i));
    }
    return delegate(module, N._cw__call__, args.data(), args.size(), a.varkw());
}

Ref del_impl(PyObject* module, const ArgValues& a) {
    // While the interpreter finalises, the kernel's channel and the module namespace are being
    // torn down and no release could be answered: a proxy finalised then just goes.
    if (Py_IsFinalizing()) return support::none();
    PyObject* args[] = {a[0]};
    return delegate(module, N._cw__del__, args, 1);
}

const support::Signature getattr_sig{"__getattr__", {Param{"self"}, Param{"name", ArgType::Str}}};
const support::Signature call_sig{"__call__", {Param{"self"}}, true, true};
const support::Signature del_sig{"__del__", {Param{"self"}}};

}  // namespace

void init_internals(PyObject* module, PyObject* self, PyObject* object_id, PyObject* type_name,
                    PyObject* kind) {
    support::check(PyObject_GenericSetAttr(self, N._internal_id, object_id));
    support::check(PyObject_GenericSetAttr(self, N._internal_typeName, type_name));
    Ref messaging = lookup_global(module, N.messaging);
    Ref guid = get_attr(messaging.get(), N._guid);
    support::check(PyObject_GenericSetAttr(self, N._msg_guid, guid.get()));
    support::check(PyObject_GenericSetAttr(self, N._typ, kind));
    Ref cache = Ref::steal(PyDict_New());
    support::check(PyObject_GenericSetAttr(self, N._internal_cache, cache.get()));
}

Ref delegate_getattr(PyObject* module, PyObject* self, PyObject* name) {
    PyObject* args[] = {self, name};
    return delegate(module, N._cw__getattr__, args, 2);
}

const FunctionDef object_getattr_def{"__getattr__", "OfficeJsObject.__getattr__",
                                     nullptr,       getattr_sig,
                                     getattr_impl,  {{"name", "str"}}};
const FunctionDef object_call_def{"__call__", "OfficeJsObject.__call__", nullptr, call_sig,
                                  call_impl};
const FunctionDef object_del_def{"__del__", "OfficeJsObject.__del__", nullptr, del_sig, del_impl};
const FunctionDef array_getattr_def{"__getattr__", "OfficeJsArray.__getattr__",
                                    nullptr,       getattr_sig,
                                    getattr_impl,  {{"name", "str"}}};
const FunctionDef array_call_def{"__call__", "OfficeJsArray.__call__", nullptr, call_sig,
                                 call_impl};
const FunctionDef array_del_def{"__del__", "OfficeJsArray.__del__", nullptr, del_sig, del_impl};
const FunctionDef dict_call_def{"__call__", "OfficeJsDict.__call__", nullptr, call_sig, call_impl};
const FunctionDef dict_del_def{"__del__", "OfficeJsDict.__del__", nullptr, del_sig, del_impl};

}  // namespace ostrel
