// The class `OfficeJsObject`: the proxy for one remote Office.js object. Its special methods hold
// no logic of their own (see operations.cpp); only the constructor and __repr__ work locally.
#include "ostrel/common.hpp"
#include "ostrel/delegate.hpp"
#include "ostrel/parts.hpp"
#include "ostrel/proxy_methods.hpp"

namespace ostrel {
namespace {

Ref init_impl(PyObject* module, const ArgValues& a) {
    init_internals(module, a[0], a[1], a[2], N.officejs_object);
    return support::none();
}

Ref getitem_impl(PyObject* module, const ArgValues& a) {
    PyObject* args[] = {a[0], a[1]};
    return delegate(module, N._cw__getitem__, args, 2);
}

Ref setattr_impl(PyObject* module, const ArgValues& a) {
    PyObject* args[] = {a[0], a[1], a[2]};
    return delegate(module, N._cw__setattr__, args, 3);
}

Ref repr_impl(PyObject*, const ArgValues& a) {
    Ref type_name = get_attr(a[0], N._internal_typeName);
    Ref id = get_attr(a[0], N._internal_id);
    Ref shown_type = Ref::steal(PyObject_Format(type_name.get(), C.empty_str));
    Ref shown_id = Ref::steal(PyObject_Format(id.get(), C.empty_str));
    return Ref::steal(
        PyUnicode_FromFormat("<OfficeJsObject %U id=%U>", shown_type.get(), shown_id.get()));
}

const FunctionDef init_def{
    "__init__",
    "OfficeJsObject.__init__",
    nullptr,
    {"__init__",
     {Param{"self"}, Param{"object_id", ArgType::Int}, Param{"type_name", ArgType::Str}}},
    init_impl,
    {{"object_id", "int"}, {"type_name", "str"}}};
const FunctionDef getitem_def{"__getitem__",
                              "OfficeJsObject.__getitem__",
                              nullptr,
                              {"__getitem__", {Param{"self"}, Param{"index"}}},
                              getitem_impl};
const FunctionDef setattr_def{
    "__setattr__", "OfficeJsObject.__setattr__",
    nullptr,       {"__setattr__", {Param{"self"}, Param{"name", ArgType::Str}, Param{"value"}}},
    setattr_impl,  {{"name", "str"}}};
const FunctionDef repr_def{
    "__repr__", "OfficeJsObject.__repr__", nullptr, {"__repr__", {Param{"self"}}}, repr_impl};

const char* const kDoc =
    "\n    Dynamic proxy class for Office.js objects.\n\n"
    "    Provides __getattr__, __setattr__, __call__, __getitem__ to proxy\n"
    "    operations to the Office.js Add-in via WebSocket.\n    ";

}  // namespace

Ref make_object_class(PyObject* module) {
    std::vector<support::Member> m =
        support::methods(module, {&init_def, &object_getattr_def, &getitem_def, &setattr_def,
                                  &object_call_def, &object_del_def, &repr_def});
    return support::make_class(module, "OfficeJsObject", nullptr, kDoc, std::move(m));
}

}  // namespace ostrel
