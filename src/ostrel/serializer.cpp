// The class `Serializer`: Python values to wire values and back.
//
// Encoding tries the rules in their fixed order (a bool is an int, a proxy is callable, an array
// proxy is a list); the exact built-in types come first because for them the ordered rules give
// the same answer. Nested items go through `Serializer.to_wire` / `from_wire` as found through
// the module global, resolved once per container; while those are still our own functions the
// call is made directly, without argument parsing.
#include "ostrel/serializer.hpp"

#include "ostrel/cell_values.hpp"
#include "ostrel/common.hpp"
#include "ostrel/nesting.hpp"
#include "ostrel/numpy_pandas.hpp"
#include "ostrel/parts.hpp"
#include "ostrel/refusal.hpp"
#include "support/args.hpp"
#include "support/function.hpp"

#include <utility>

namespace ostrel {
namespace {

const char* const kEncoding = " while encoding a value";
const char* const kDecoding = " while decoding a value";

Ref encode(PyObject* module, PyObject* value);
Ref decode(PyObject* module, PyObject* wire);

// {"type": tag, "value": payload, "isSpec": spec}, keys in that order.
Ref wire(PyObject* tag, PyObject* payload, bool is_spec) {
    Ref d = Ref::steal(PyDict_New());
    support::check(PyDict_SetItem(d.get(), N.type, tag));
    support::check(PyDict_SetItem(d.get(), N.value, payload));
    support::check(PyDict_SetItem(d.get(), N.isSpec, is_spec ? Py_True : Py_False));
    return d;
}

// The current `Serializer.<name>`, or an empty Ref when it is still `ours`.
Ref resolve(PyObject* module, PyObject* name, PyObject* ours) {
    Ref serializer = lookup_global(module, N.Serializer);
    Ref fn = get_attr(serializer.get(), name);
    if (fn.get() == ours) return Ref();
    return fn;
}

Ref encode_with(PyObject* module, const Ref& fn, PyObject* item) {
    if (!fn) return encode(module, item);
    return Ref::steal(PyObject_CallOneArg(fn.get(), item));
}

// An item of a list, or the value under a key of a dict: a refusal learns where it stood.
Ref encode_at(PyObject* module, const Ref& fn, PyObject* item, Py_ssize_t index) {
    try {
        return encode_with(module, fn, item);
    } catch (const support::PyErrorSet&) {
        note_index(index);
    }
}

Ref encode_under(PyObject* module, const Ref& fn, PyObject* item, PyObject* key) {
    try {
        return encode_with(module, fn, item);
    } catch (const support::PyErrorSet&) {
        note_key(key);
    }
}

Ref decode_with(PyObject* module, const Ref& fn, PyObject* item) {
    if (!fn) {
        support::check_exact("wire", &PyDict_Type, item);
        return decode(module, item);
    }
    return Ref::steal(PyObject_CallOneArg(fn.get(), item));
}

Ref encode_sequence(PyObject* module, PyObject* seq) {
    Nesting nest(seq, true, kEncoding);
    Ref fn = resolve(module, N.to_wire, C.to_wire_fn);
    Ref items;
    if (PyTuple_CheckExact(seq)) {
        const Py_ssize_t n = PyTuple_GET_SIZE(seq);
        items = Ref::steal(PyList_New(n));
        for (Py_ssize_t i = 0; i < n; ++i) {
            Ref enc = encode_at(module, fn, PyTuple_GET_ITEM(seq, i), i);
            PyList_SET_ITEM(items.get(), i, enc.release());
        }
    } else if (PyList_CheckExact(seq)) {
        items = Ref::steal(PyList_New(0));
        // Encoding an item may run code that changes the list; read it afresh at every step.
        for (Py_ssize_t i = 0; i < PyList_GET_SIZE(seq); ++i) {
            Ref item = Ref::borrow(PyList_GET_ITEM(seq, i));
            Ref enc = encode_at(module, fn, item.get(), i);
            support::check(PyList_Append(items.get(), enc.get()));
        }
    } else {
        items = Ref::steal(PyList_New(0));
        Py_ssize_t i = 0;
        for (Ref& item : iterate(seq)) {
            Ref enc = encode_at(module, fn, item.get(), i++);
            support::check(PyList_Append(items.get(), enc.get()));
        }
    }
    return wire(N.Array, items.get(), false);
}

Ref encode_mapping(PyObject* module, PyObject* mapping) {
    Nesting nest(mapping, true, kEncoding);
    Ref fn = resolve(module, N.to_wire, C.to_wire_fn);
    Ref out = Ref::steal(PyDict_New());
    if (PyDict_CheckExact(mapping)) {
        const Py_ssize_t size = PyDict_GET_SIZE(mapping);
        Py_ssize_t pos = 0;
        PyObject* key = nullptr;
        PyObject* item = nullptr;
        while (PyDict_Next(mapping, &pos, &key, &item)) {
            // Own both: encoding may run code that changes the dict.
            Ref k = Ref::borrow(key);
            Ref v = Ref::borrow(item);
            Ref enc = encode_under(module, fn, v.get(), k.get());
            support::check(PyDict_SetItem(out.get(), k.get(), enc.get()));
            if (PyDict_GET_SIZE(mapping) != size) {
                support::raise(PyExc_RuntimeError, "dictionary changed size during iteration");
            }
        }
    } else {
        Ref items = call_method(mapping, N.items);
        for (Ref& pair : iterate(items.get())) {
            Ref k = Ref::steal(PySequence_GetItem(pair.get(), 0));
            Ref v = Ref::steal(PySequence_GetItem(pair.get(), 1));
            Ref enc = encode_under(module, fn, v.get(), k.get());
            support::check(PyDict_SetItem(out.get(), k.get(), enc.get()));
        }
    }
    return wire(N.Dict, out.get(), false);
}

// A Series or DataFrame as a table: the column labels, then one list per row.
Ref encode_frame(PyObject* module, PyObject* value) {
    Nesting nest(value, true, kEncoding);
    Ref rows = frame_rows(value);
    Ref fn = resolve(module, N.to_wire, C.to_wire_fn);
    return encode_with(module, fn, rows.get());
}

// A numpy array as the nested lists it holds (a 0-d array as its one value). An object array
// may hold itself, so the array counts as one level of nesting.
Ref encode_ndarray(PyObject* module, PyObject* value) {
    Nesting nest(value, true, kEncoding);
    Ref items = array_items(value);
    Ref fn = resolve(module, N.to_wire, C.to_wire_fn);
    return encode_with(module, fn, items.get());
}

Ref encode_date(PyObject* value) {
    Ref v = Ref::borrow(value);
    if (support::is_instance(value, C.dt_datetime)) {
        Ref tz = get_attr(value, N.tzinfo);
        if (support::truthy(tz.get())) v = call_method(value, N.astimezone, {C.utc});
    }
    Ref text;
    if (support::is_instance(v.get(), C.np_datetime64) &&
        !support::is_instance(v.get(), C.dt_date)) {
        // numpy's own text of the value: ISO 8601 at the value's own unit (so it round-trips
        // the instant, down to nanoseconds), without an offset.
        text = Ref::steal(PyObject_Str(v.get()));
    } else {
        text = call_method(v.get(), N.isoformat);
    }
    return wire(N.Date, text.get(), false);
}

Ref encode_bytes(PyObject* value) {
    Ref raw = Ref::steal(PyObject_CallOneArg(reinterpret_cast<PyObject*>(&PyBytes_Type), value));
    Ref encoded = Ref::steal(PyObject_CallOneArg(C.b64encode, raw.get()));
    Ref text = Ref::steal(PyUnicode_FromEncodedObject(encoded.get(), "ascii", nullptr));
    return wire(N.Bytes, text.get(), false);
}

// The ordered rules for everything that is not one of the exact built-in types.
Ref encode_other(PyObject* module, PyObject* value) {
    // Missing is missing wherever it stands: an empty cell, as inside a table. (pd.NaT is a
    // datetime, so this comes before the date rule.)
    if (is_missing_marker(value)) return wire(N.String, C.empty_str, false);
    if (support::is_instance(value, &PyBool_Type) || support::is_instance(value, C.np_bool)) {
        return wire(N.Bool, support::truthy(value) ? Py_True : Py_False, false);
    }
    if (support::is_instance(value, &PyLong_Type)) {
        Ref n = Ref::steal(PyNumber_Long(value));
        return wire(N.Int, n.get(), false);
    }
    if (support::is_instance(value, &PyFloat_Type)) {
        Ref f = Ref::steal(PyNumber_Float(value));
        return wire(N.Float, f.get(), false);
    }
    if (support::is_instance(value, &PyUnicode_Type)) return wire(N.String, value, false);
    if (support::is_instance(value, C.dt_datetime) || support::is_instance(value, C.dt_date) ||
        support::is_instance(value, C.pd_Timestamp) ||
        support::is_instance(value, C.np_datetime64)) {
        return encode_date(value);
    }
    if (support::is_instance(value, &PyBytes_Type) ||
        support::is_instance(value, &PyByteArray_Type) ||
        support::is_instance(value, &PyMemoryView_Type)) {
        return encode_bytes(value);
    }
    if (support::is_instance(value, &PyList_Type) || support::is_instance(value, &PyTuple_Type)) {
        return encode_sequence(module, value);
    }
    if (support::is_instance(value, &PyDict_Type)) return encode_mapping(module, value);
    if (support::is_instance(value, C.pd_Series) || support::is_instance(value, C.pd_DataFrame)) {
        return encode_frame(module, value);
    }
    Ref proxy_class = lookup_global(module, N.OfficeJsObject);
    if (support::is_instance(value, proxy_class.get())) {
        Ref tag = get_attr(value, N._internal_typeName);
        Ref id = get_attr(value, N._internal_id);
        return wire(tag.get(), id.get(), true);
    }
    if (PyCallable_Check(value)) {
        Ref messaging = lookup_global(module, N.messaging);
        Ref id = call_method(messaging.get(), N.register_callable, {value});
        return wire(N.Python_Function, id.get(), true);
    }
    // numpy values that no rule above takes: arrays, and the integer and floating scalars that
    // are no int or float subclass (a timedelta64 is a numpy integer, but no number to a sheet).
    if (support::is_instance(value, C.np_ndarray)) return encode_ndarray(module, value);
    if (support::is_instance(value, C.np_integer) &&
        !support::is_instance(value, C.np_timedelta64)) {
        Ref n = Ref::steal(PyNumber_Long(value));
        return wire(N.Int, n.get(), false);
    }
    if (support::is_instance(value, C.np_floating)) {
        Ref f = Ref::steal(PyNumber_Float(value));
        return wire(N.Float, f.get(), false);
    }
    if (Ref f = real_number(value)) return wire(N.Float, f.get(), false);
    // The text fallback is for values that have a text of their own (an Enum, a user class
    // with __str__); Python's description of a set or a generator is no value for a cell.
    if (has_no_cell_meaning(value)) refuse_value(value);
    Ref text = Ref::steal(PyObject_Str(value));
    return wire(N.String, text.get(), false);
}

Ref encode(PyObject* module, PyObject* value) {
    PyTypeObject* tp = Py_TYPE(value);
    if (value == Py_None) return wire(N.Null, Py_None, false);
    if (tp == &PyBool_Type) return wire(N.Bool, value, false);
    if (tp == &PyLong_Type) return wire(N.Int, value, false);
    if (tp == &PyFloat_Type) return wire(N.Float, value, false);
    if (tp == &PyUnicode_Type) return wire(N.String, value, false);
    if (tp == &PyList_Type || tp == &PyTuple_Type) return encode_sequence(module, value);
    if (tp == &PyDict_Type) return encode_mapping(module, value);
    return encode_other(module, value);
}

// `wire.get(key)` on an exact dict.
Ref field(PyObject* wire_value, PyObject* key) {
    PyObject* found = nullptr;
    if (support::check(PyDict_GetItemRef(wire_value, key, &found))) return Ref::steal(found);
    return support::none();
}

// Decodes every item of `payload` into `out` (a new list), reading an exact list afresh at each
// step since decoding may run code that changes it.
void decode_items(PyObject* module, PyObject* payload, PyObject* out) {
    Nesting nest(payload, false, kDecoding);
    Ref fn = resolve(module, N.from_wire, C.from_wire_fn);
    if (PyList_CheckExact(payload)) {
        for (Py_ssize_t i = 0; i < PyList_GET_SIZE(payload); ++i) {
            Ref item = Ref::borrow(PyList_GET_ITEM(payload, i));
            Ref dec = decode_with(module, fn, item.get());
            support::check(PyList_Append(out, dec.get()));
        }
        return;
    }
    for (Ref& item : iterate(payload)) {
        Ref dec = decode_with(module, fn, item.get());
        support::check(PyList_Append(out, dec.get()));
    }
}

// The `id` of an "Array" or "Dict" wire value: None when there is none (plain data, which no
// remote object stands behind), else a number, passed on as read.
void check_collection_id(PyObject* id) {
    if (id == Py_None || PyLong_Check(id) || PyNumber_Check(id)) return;
    Ref got = Ref::steal(PyType_GetName(Py_TYPE(id)));
    PyErr_Format(PyExc_TypeError,
                 "The 'id' field of an Array or Dict wire value has incorrect type (expected int "
                 "or None, got %U)",
                 got.get());
    support::throw_error();
}

Ref decode_array(PyObject* module, PyObject* payload, PyObject* id) {
    check_collection_id(id);
    Ref items = Ref::steal(PyList_New(0));
    if (id == Py_None) {
        if (support::truthy(payload)) decode_items(module, payload, items.get());
        return items;
    }
    Ref cls = lookup_global(module, N.OfficeJsArray);
    Ref proxy = Ref::steal(PyObject_CallOneArg(cls.get(), id));
    if (support::truthy(payload)) decode_items(module, payload, items.get());
    Ref r = call_method(proxy.get(), N.extend, {items.get()});
    return proxy;
}

Ref decode_dict(PyObject* module, PyObject* payload, PyObject* id) {
    check_collection_id(id);
    Ref proxy;
    if (id != Py_None) {
        Ref cls = lookup_global(module, N.OfficeJsDict);
        proxy = Ref::steal(PyObject_CallOneArg(cls.get(), id));
    }
    Ref entries = Ref::steal(PyDict_New());
    if (support::truthy(payload)) {
        Nesting nest(payload, false, kDecoding);
        Ref fn = resolve(module, N.from_wire, C.from_wire_fn);
        Ref pairs = call_method(payload, N.items);
        for (Ref& pair : iterate(pairs.get())) {
            Ref k = Ref::steal(PySequence_GetItem(pair.get(), 0));
            Ref v = Ref::steal(PySequence_GetItem(pair.get(), 1));
            Ref dec = decode_with(module, fn, v.get());
            support::check(PyDict_SetItem(entries.get(), k.get(), dec.get()));
        }
    }
    if (!proxy) return entries;
    Ref r = call_method(proxy.get(), N.update, {entries.get()});
    return proxy;
}

enum class Tag { Null, Bool, Int, Float, String, Date, Bytes, Array, Dict, Other };

// The tag tests, in rule order. Tags that arrive as the interned literals (the usual case) are
// told apart by identity first; anything else (a str built elsewhere, a str subclass, an object
// that equals a tag) is compared with ==.
Tag classify(PyObject* t) {
    static const std::pair<PyObject * Names::*, Tag> tags[] = {
        {&Names::Null, Tag::Null},   {&Names::Bool, Tag::Bool},     {&Names::Int, Tag::Int},
        {&Names::Float, Tag::Float}, {&Names::String, Tag::String}, {&Names::Date, Tag::Date},
        {&Names::Bytes, Tag::Bytes}, {&Names::Array, Tag::Array},   {&Names::Dict, Tag::Dict}};
    for (const auto& entry : tags) {
        if (t == N.*entry.first) return entry.second;
    }
    if (PyUnicode_CheckExact(t) && PyUnicode_CHECK_INTERNED(t)) {
        // An interned str equals one of the interned tags only if it is that very object.
        return Tag::Other;
    }
    for (const auto& entry : tags) {
        if (equals(t, N.*entry.first)) return entry.second;
    }
    return Tag::Other;
}

Ref decode(PyObject* module, PyObject* w) {
    // `isSpec` and `id` are read only by the rules that use them: reading an exact dict has no
    // effect that the order could show.
    Ref tag = field(w, N.type);
    Ref payload = field(w, N.value);
    PyObject* v = payload.get();

    switch (classify(tag.get())) {
        case Tag::Null:
            return support::none();
        case Tag::Bool:
            return support::boolean(support::truthy(v));
        case Tag::Int:
            return Ref::steal(PyNumber_Long(v));
        case Tag::Float:
            return Ref::steal(PyNumber_Float(v));
        case Tag::String:
            return Ref::steal(PyObject_Str(v));
        case Tag::Date: {
            return support::guard(
                {PyExc_Exception}, [&] { return support::call(C.fromisoformat, {v}); },
                [&](PyObject*) { return std::move(payload); });
        }
        case Tag::Bytes: {
            PyObject* data = support::truthy(v) ? v : C.empty_bytes;
            return Ref::steal(PyObject_CallOneArg(C.b64decode, data));
        }
        case Tag::Array: {
            Ref id = field(w, N.id);
            return decode_array(module, v, id.get());
        }
        case Tag::Dict: {
            Ref id = field(w, N.id);
            return decode_dict(module, v, id.get());
        }
        case Tag::Other:
            break;
    }
    Ref is_spec = field(w, N.isSpec);
    if (support::truthy(is_spec.get())) {
        Ref cls = lookup_global(module, N.OfficeJsObject);
        Ref object_id = Ref::steal(PyNumber_Long(v));
        PyObject* args[] = {object_id.get(), tag.get()};
        return Ref::steal(PyObject_Vectorcall(cls.get(), args, 2, nullptr));
    }
    return Ref::steal(PyObject_Str(v));
}

Ref to_wire_impl(PyObject* module, const ArgValues& a) { return encode(module, a[0]); }

Ref from_wire_impl(PyObject* module, const ArgValues& a) { return decode(module, a[0]); }

const FunctionDef to_wire_def{
    "to_wire",
    "Serializer.to_wire",
    "Serialize a Python value to wire format for transmission.\n\n"
    "Supports: None, bool, int, float, str, datetime, bytes, list, dict,\n"
    "and OfficeJsObject wrappers.",
    {"to_wire", {Param{"value"}}},
    to_wire_impl,
    {{"value", "Any"}, {"return", "Dict[str, Any]"}}};

const FunctionDef from_wire_def{
    "from_wire",
    "Serializer.from_wire",
    "Deserialize a wire format value back to Python.\n\n"
    "Handles: Null, Bool, Int, Float, String, Date, Bytes, Array, Dict,\n"
    "and special OfficeJs object references.",
    {"from_wire", {Param{"wire", ArgType::Dict}}},
    from_wire_impl,
    {{"wire", "Dict[str, Any]"}, {"return", "Any"}}};

}  // namespace

Ref to_wire(PyObject* module, PyObject* value) {
    Ref fn = resolve(module, N.to_wire, C.to_wire_fn);
    return encode_with(module, fn, value);
}

Ref from_wire(PyObject* module, PyObject* wire_value) {
    Ref fn = resolve(module, N.from_wire, C.from_wire_fn);
    return decode_with(module, fn, wire_value);
}

Ref make_serializer_class(PyObject* module) {
    Ref to_wire_fn = support::make_function(module, to_wire_def);
    Ref from_wire_fn = support::make_function(module, from_wire_def);
    Py_XSETREF(C.to_wire_fn, to_wire_fn.dup().release());
    Py_XSETREF(C.from_wire_fn, from_wire_fn.dup().release());
    std::vector<support::Member> m;
    m.push_back({"to_wire", Ref::steal(PyStaticMethod_New(to_wire_fn.get()))});
    m.push_back({"from_wire", Ref::steal(PyStaticMethod_New(from_wire_fn.get()))});
    return support::make_class(module, "Serializer", nullptr,
                               "Handles marshaling of data types between Python and JavaScript.",
                               std::move(m));
}

}  // namespace ostrel
