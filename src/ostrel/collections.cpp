// The classes `OfficeJsArray` (a real list) and `OfficeJsDict` (a real dict): proxies for remote
// collections that hold their decoded contents locally. Element access and every list or dict
// operation work on the local copy and send nothing; attribute reads the local data cannot
// answer, calls and release go through the shared operation functions.
#include "ostrel/common.hpp"
#include "ostrel/data_text.hpp"
#include "ostrel/delegate.hpp"
#include "ostrel/parts.hpp"
#include "ostrel/proxy_methods.hpp"

namespace ostrel {
namespace {

// `super().__init__()` for the built-in base, then the internal attributes.
void init_collection(PyObject* module, PyObject* self, PyObject* object_id, PyTypeObject* base,
                     PyObject* type_name, PyObject* kind) {
    Ref no_args = Ref::steal(PyTuple_New(0));
    support::check(base->tp_init(self, no_args.get(), nullptr));
    init_internals(module, self, object_id, type_name, kind);
}

Ref array_init_impl(PyObject* module, const ArgValues& a) {
    init_collection(module, a[0], a[1], &PyList_Type, N.Array, N.officejs_array);
    return support::none();
}

Ref dict_init_impl(PyObject* module, const ArgValues& a) {
    init_collection(module, a[0], a[1], &PyDict_Type, N.Dict, N.officejs_dict);
    return support::none();
}

Ref array_setattr_impl(PyObject*, const ArgValues&) {
    support::raise(PyExc_AttributeError, "Cannot set attributes on OfficeJsArray");
}

// A local key is answered from the local contents, before and regardless of the stamp.
Ref dict_getattr_impl(PyObject* module, const ArgValues& a) {
    if (support::check(PySequence_Contains(a[0], a[1])))
        return Ref::steal(PyObject_GetItem(a[0], a[1]));
    return delegate_getattr(module, a[0], a[1]);
}

Ref dict_setattr_impl(PyObject*, const ArgValues& a) {
    if (!support::check(PySequence_Contains(a[0], a[1]))) {
        support::raise(PyExc_AttributeError, "Cannot set attributes on OfficeJsDict");
    }
    support::check(PyObject_SetItem(a[0], a[1], a[2]));
    return support::none();
}

Ref shown_id(PyObject* self) {
    Ref id = get_attr(self, N._internal_id);
    return Ref::steal(PyObject_Format(id.get(), C.empty_str));
}

Ref array_repr_impl(PyObject*, const ArgValues& a) {
    Ref id = shown_id(a[0]);
    const Py_ssize_t n = PyObject_Length(a[0]);
    if (n < 0) support::throw_error();
    return Ref::steal(PyUnicode_FromFormat("<OfficeJsArray id=%U len=%zd>", id.get(), n));
}

Ref dict_repr_impl(PyObject*, const ArgValues& a) {
    Ref id = shown_id(a[0]);
    Ref keys_view = call_method(a[0], N.keys);
    Ref keys = Ref::steal(PySequence_List(keys_view.get()));
    Ref shown_keys = Ref::steal(PyObject_Format(keys.get(), C.empty_str));
    return Ref::steal(
        PyUnicode_FromFormat("<OfficeJsDict id=%U keys=%U>", id.get(), shown_keys.get()));
}

// print() and str() show the data; repr keeps the id.
Ref str_impl(PyObject* module, const ArgValues& a) { return data_text(module, a[0]); }

const support::Signature init_sig{"__init__", {Param{"self"}, Param{"object_id", ArgType::Int}}};
const support::Signature setattr_sig{"__setattr__",
                                     {Param{"self"}, Param{"name", ArgType::Str}, Param{"value"}}};
const support::Signature repr_sig{"__repr__", {Param{"self"}}};
const support::Signature str_sig{"__str__", {Param{"self"}}};

const FunctionDef array_init_def{"__init__", "OfficeJsArray.__init__", nullptr,
                                 init_sig,   array_init_impl,          {{"object_id", "int"}}};
const FunctionDef array_setattr_def{"__setattr__", "OfficeJsArray.__setattr__", nullptr,
                                    setattr_sig,   array_setattr_impl,          {{"name", "str"}}};
const FunctionDef array_repr_def{"__repr__", "OfficeJsArray.__repr__", nullptr, repr_sig,
                                 array_repr_impl};
const FunctionDef array_str_def{"__str__", "OfficeJsArray.__str__", nullptr, str_sig, str_impl};

const FunctionDef dict_init_def{"__init__", "OfficeJsDict.__init__", nullptr,
                                init_sig,   dict_init_impl,          {{"object_id", "int"}}};
const FunctionDef dict_getattr_def{
    "__getattr__",     "OfficeJsDict.__getattr__",
    nullptr,           {"__getattr__", {Param{"self"}, Param{"name", ArgType::Str}}},
    dict_getattr_impl, {{"name", "str"}}};
const FunctionDef dict_setattr_def{"__setattr__", "OfficeJsDict.__setattr__", nullptr,
                                   setattr_sig,   dict_setattr_impl,          {{"name", "str"}}};
const FunctionDef dict_repr_def{"__repr__", "OfficeJsDict.__repr__", nullptr, repr_sig,
                                dict_repr_impl};
const FunctionDef dict_str_def{"__str__", "OfficeJsDict.__str__", nullptr, str_sig, str_impl};

Ref one_base(PyTypeObject* base) {
    return Ref::steal(PyTuple_Pack(1, reinterpret_cast<PyObject*>(base)));
}

}  // namespace

Ref make_array_class(PyObject* module) {
    std::vector<support::Member> m = support::methods(
        module, {&array_init_def, &array_getattr_def, &array_setattr_def, &array_call_def,
                 &array_del_def, &array_repr_def, &array_str_def});
    Ref bases = one_base(&PyList_Type);
    return support::make_class(module, "OfficeJsArray", bases.get(),
                               "Specialized proxy for arrays returned from Office.js.",
                               std::move(m));
}

Ref make_dict_class(PyObject* module) {
    std::vector<support::Member> m =
        support::methods(module, {&dict_init_def, &dict_getattr_def, &dict_setattr_def,
                                  &dict_call_def, &dict_del_def, &dict_repr_def, &dict_str_def});
    Ref bases = one_base(&PyDict_Type);
    return support::make_class(module, "OfficeJsDict", bases.get(),
                               "Specialized proxy for dictionaries returned from Office.js.",
                               std::move(m));
}

}  // namespace ostrel
