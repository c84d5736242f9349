// The five module functions that carry out proxy operations: attribute read (GET), subscript
// (GETITEM), attribute write (SET), call (CALL) and release (DEL). Each takes the proxy as its
// first argument and needs only its internal attributes, so every proxy class shares them; the
// special methods find them by name at each call.
#include "ostrel/common.hpp"
#include "ostrel/parts.hpp"
#include "ostrel/refusal.hpp"
#include "ostrel/serializer.hpp"
#include "support/function.hpp"

namespace ostrel {
namespace {

// Raises the stopped-context RuntimeError when the proxy's stamp is not the current context id.
void check_stamp(PyObject* module, PyObject* self) {
    Ref stamp = get_attr(self, N._msg_guid);
    Ref messaging = lookup_global(module, N.messaging);
    Ref current = get_attr(messaging.get(), N._guid);
    bool differs;
    if (PyUnicode_CheckExact(stamp.get()) && PyUnicode_CheckExact(current.get())) {
        differs = !equals(stamp.get(), current.get());
    } else {
        Ref ne = Ref::steal(PyObject_RichCompare(stamp.get(), current.get(), Py_NE));
        differs = support::truthy(ne.get());
    }
    if (differs) {
        support::raise(PyExc_RuntimeError, "Excel Object used after messaging context was stopped");
    }
}

// `messaging.send_request_sync(body)`.
Ref send(PyObject* module, PyObject* body) {
    Ref messaging = lookup_global(module, N.messaging);
    return call_method(messaging.get(), N.send_request_sync, {body});
}

// Raises `type` with the response's error text when its `ok` is falsy. `fallback` builds the
// default text only when it is needed.
template <class Fallback>
void check_ok(PyObject* response, PyObject* type, Fallback&& fallback) {
    Ref ok = mapping_get(response, N.ok);
    if (support::truthy(ok.get())) return;
    Ref error = mapping_get(response, N.error);
    Ref default_text = fallback();
    Ref text = error_text(error.get(), default_text.get());
    PyErr_SetObject(type, text.get());
    support::throw_error();
}

Ref decode_result(PyObject* module, PyObject* response) {
    Ref result = mapping_get(response, N.result);
    return from_wire(module, result.get());
}

Ref concat(const char* prefix, PyObject* text) {
    return Ref::steal(PyUnicode_FromFormat("%s%U", prefix, text));
}

// A name of the form __x__: Python's own protocol names (`__array__`, `__copy__`, `__fspath__`),
// which libraries probe with hasattr and getattr. No Office.js member is named so.
bool is_dunder(PyObject* name) {
    const Py_ssize_t n = PyUnicode_GET_LENGTH(name);
    if (n < 5) return false;
    auto at = [name](Py_ssize_t i) { return PyUnicode_READ_CHAR(name, i); };
    return at(0) == '_' && at(1) == '_' && at(n - 2) == '_' && at(n - 1) == '_';
}

Ref getattr_impl(PyObject* module, const ArgValues& a) {
    PyObject* self = a[0];
    PyObject* name = a[1];
    if (str_in(name,
               {N._internal_id, N._internal_typeName, N._msg_guid, N._typ, N._internal_cache})) {
        return Ref::steal(PyObject_GenericGetAttr(self, name));
    }
    if (is_dunder(name)) {
        // Refused here, as for any object without it: a probe must not cost a round trip.
        PyErr_Format(PyExc_AttributeError, "'%.100s' object has no attribute '%U'",
                     Py_TYPE(self)->tp_name, name);
        support::throw_error();
    }
    check_stamp(module, self);
    Ref caller = get_attr(self, N._internal_id);
    Ref body = make_dict({{N.method, N.GET}, {N.name, name}, {N.caller, caller.get()}});
    Ref response = send(module, body.get());
    check_ok(response.get(), C.attribute_error, [&] { return concat("GET failed for ", name); });
    return decode_result(module, response.get());
}

// The index text of a subscript: "start:stop:step" for a slice (None as empty), str() of an int.
Ref index_text(PyObject* index) {
    if (PySlice_Check(index)) {
        PySliceObject* s = reinterpret_cast<PySliceObject*>(index);
        Ref parts = Ref::steal(PyList_New(3));
        PyObject* fields[] = {s->start, s->stop, s->step};
        for (Py_ssize_t i = 0; i < 3; ++i) {
            Ref part = fields[i] == Py_None ? Ref::borrow(C.empty_str)
                                            : Ref::steal(PyObject_Format(fields[i], C.empty_str));
            PyList_SET_ITEM(parts.get(), i, part.release());
        }
        Ref sep = Ref::steal(PyUnicode_FromString(":"));
        return Ref::steal(PyUnicode_Join(sep.get(), parts.get()));
    }
    if (PyLong_Check(index)) return Ref::steal(PyObject_Str(index));
    support::raise(PyExc_TypeError, "Index must be an integer or a slice");
}

Ref getitem_impl(PyObject* module, const ArgValues& a) {
    PyObject* self = a[0];
    PyObject* index = a[1];
    Ref text = index_text(index);
    check_stamp(module, self);
    Ref caller = get_attr(self, N._internal_id);
    Ref body = make_dict({{N.method, N.GETITEM}, {N.name, text.get()}, {N.caller, caller.get()}});
    Ref response = send(module, body.get());
    check_ok(response.get(), PyExc_AttributeError, [&] {
        Ref shown = Ref::steal(PyObject_Format(index, C.empty_str));
        return concat("GET ITEM failed for ", shown.get());
    });
    return decode_result(module, response.get());
}

Ref setattr_impl(PyObject* module, const ArgValues& a) {
    PyObject* self = a[0];
    PyObject* name = a[1];
    PyObject* value = a[2];
    if (str_in(name, {N._internal_id, N._internal_typeName, N._msg_guid, N._typ})) {
        support::check(PyObject_GenericSetAttr(self, name, value));
        return support::none();
    }
    check_stamp(module, self);
    Ref encoded = to_wire(module, value);
    Ref caller = get_attr(self, N._internal_id);
    Ref body = make_dict(
        {{N.method, N.SET}, {N.name, name}, {N.value, encoded.get()}, {N.caller, caller.get()}});
    Ref response = send(module, body.get());
    check_ok(response.get(), PyExc_AttributeError, [&] { return concat("SET failed for ", name); });
    return support::none();
}

// One argument record: {"arg_type": kind, ["name": keyword,] "value": wire value}. `position`
// (0-based) tells a refused positional argument where it stood.
Ref argument_record(PyObject* module, PyObject* kind, PyObject* keyword, PyObject* value,
                    Py_ssize_t position) {
    Ref encoded;
    try {
        encoded = to_wire(module, value);
    } catch (const support::PyErrorSet&) {
        if (keyword) note_keyword(keyword);
        note_argument(position);
    }
    Ref record = Ref::steal(PyDict_New());
    support::check(PyDict_SetItem(record.get(), N.arg_type, kind));
    if (keyword) support::check(PyDict_SetItem(record.get(), N.name, keyword));
    support::check(PyDict_SetItem(record.get(), N.value, encoded.get()));
    return record;
}

Ref call_impl(PyObject* module, const ArgValues& a) {
    PyObject* self = a[0];
    PyObject* positional = a.varargs();
    PyObject* keywords = a.varkw();
    check_stamp(module, self);
    Ref type_name = get_attr(self, N._internal_typeName);
    Ref ne = Ref::steal(PyObject_RichCompare(type_name.get(), N.Function, Py_NE));
    if (support::truthy(ne.get())) {
        support::raise(PyExc_TypeError, "Only Function-typed SpecialObjects are callable");
    }
    const Py_ssize_t npos = PyTuple_GET_SIZE(positional);
    Ref records = Ref::steal(PyList_New(0));
    for (Py_ssize_t i = 0; i < npos; ++i) {
        Ref record = argument_record(module, N.PLACED, nullptr, PyTuple_GET_ITEM(positional, i), i);
        support::check(PyList_Append(records.get(), record.get()));
    }
    if (PyDict_GET_SIZE(keywords)) {
        // `keywords` is our own dict (a copy made for this call), so nobody else changes it.
        Py_ssize_t pos = 0;
        PyObject* key = nullptr;
        PyObject* value = nullptr;
        while (PyDict_Next(keywords, &pos, &key, &value)) {
            Ref k = Ref::borrow(key);
            Ref v = Ref::borrow(value);
            Ref record = argument_record(module, N.NAMED, k.get(), v.get(), 0);
            support::check(PyList_Append(records.get(), record.get()));
        }
    }
    Ref caller = get_attr(self, N._internal_id);
    Ref body = make_dict({{N.method, N.CALL},
                          {N.name, N.__call__},
                          {N.args, records.get()},
                          {N.caller, caller.get()}});
    Ref response = send(module, body.get());
    check_ok(response.get(), PyExc_RuntimeError,
             [] { return Ref::steal(PyUnicode_FromString("CALL failed")); });
    return decode_result(module, response.get());
}

// A release needs no answer, and a finaliser must not wait for one: it may run on the very
// thread that delivers answers. So it goes through `send_request_nowait`; a messaging object
// without that method (one the kernel or a test put in place) gets `send_request_sync(body)`.
Ref del_impl(PyObject* module, const ArgValues& a) {
    ignore_exception([&] {
        Ref caller = get_attr(a[0], N._internal_id);
        Ref body = make_dict({{N.method, N.DEL}, {N.name, N.__del__}, {N.caller, caller.get()}});
        Ref messaging = lookup_global(module, N.messaging);
        Ref nowait = support::get_attr_optional(messaging.get(), N.send_request_nowait);
        if (nowait) {
            Ref ignored = support::call(nowait.get(), {body.get()});
        } else {
            Ref response = call_method(messaging.get(), N.send_request_sync, {body.get()});
        }
    });
    return support::none();
}

const FunctionDef getattr_def{
    "_cw__getattr__", nullptr,
    nullptr,          {"_cw__getattr__", {Param{"self"}, Param{"name", ArgType::Str}}},
    getattr_impl,     {{"name", "str"}}};
const FunctionDef getitem_def{"_cw__getitem__",
                              nullptr,
                              nullptr,
                              {"_cw__getitem__", {Param{"self"}, Param{"index"}}},
                              getitem_impl};
const FunctionDef setattr_def{
    "_cw__setattr__",
    nullptr,
    nullptr,
    {"_cw__setattr__", {Param{"self"}, Param{"name", ArgType::Str}, Param{"value"}}},
    setattr_impl,
    {{"name", "str"}}};
const FunctionDef call_def{
    "_cw__call__", nullptr, nullptr, {"_cw__call__", {Param{"self"}}, true, true}, call_impl};
const FunctionDef del_def{
    "_cw__del__", nullptr, nullptr, {"_cw__del__", {Param{"self"}}}, del_impl};

}  // namespace

void add_operations(PyObject* module) {
    for (const FunctionDef* def : {&getattr_def, &getitem_def, &setattr_def, &call_def, &del_def}) {
        Ref fn = support::make_function(module, *def);
        support::set_global(module, def->name, fn.get());
    }
}

}  // namespace ostrel
