// Benchmark floors: the least native work that builds the same results as the bridge's wire
// encoder and decoder, with no type dispatch. The encoder floor is told each cell's tag up front
// (computed outside the timing) and only allocates: one dict per cell with interned keys, the
// payload as given (isoformat() for dates, as the real encoder must). The decoder floor builds
// the same array proxies with the same contents straight from the plain values; dates, which
// arrive as ISO text, are parsed with the parser it is given, as the real decoder must.
#include "support/names.hpp"

namespace {

using support::Ref;

// Interned once and kept for the life of the process. Plain pointers, not Ref: a static Ref
// would release them from a C++ static destructor after the interpreter has been finalised.
PyObject *k_type, *k_value, *k_is_spec, *t_array, *t_date, *s_isoformat;

PyObject* keep(const char* s) { return support::intern(s).release(); }

Ref wire(PyObject* tag, PyObject* payload) {
    Ref d = Ref::steal(_PyDict_NewPresized(3));
    support::check(PyDict_SetItem(d.get(), k_type, tag));
    support::check(PyDict_SetItem(d.get(), k_value, payload));
    support::check(PyDict_SetItem(d.get(), k_is_spec, Py_False));
    return d;
}

// encode_table(rows, tags) -> the wire value of a list of lists.
PyObject* encode_table(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    return support::entry([&] {
        if (nargs != 2) support::raise(PyExc_TypeError, "encode_table(rows, tags)");
        PyObject* rows = args[0];
        PyObject* tags = args[1];
        const Py_ssize_t n = PyList_GET_SIZE(rows);
        Ref outer = Ref::steal(PyList_New(n));
        for (Py_ssize_t r = 0; r < n; ++r) {
            PyObject* row = PyList_GET_ITEM(rows, r);
            PyObject* row_tags = PyList_GET_ITEM(tags, r);
            const Py_ssize_t m = PyList_GET_SIZE(row);
            Ref cells = Ref::steal(PyList_New(m));
            for (Py_ssize_t c = 0; c < m; ++c) {
                PyObject* tag = PyList_GET_ITEM(row_tags, c);
                PyObject* cell = PyList_GET_ITEM(row, c);
                Ref item;
                if (tag == t_date) {
                    Ref iso = Ref::steal(PyObject_CallMethodNoArgs(cell, s_isoformat));
                    item = wire(tag, iso.get());
                } else {
                    item = wire(tag, cell);
                }
                PyList_SET_ITEM(cells.get(), c, item.release());
            }
            Ref row_wire = wire(t_array, cells.get());
            PyList_SET_ITEM(outer.get(), r, row_wire.release());
        }
        return wire(t_array, outer.get());
    });
}

// One row's contents: a plain copy, or with tags, each "Date" cell (ISO text) parsed.
Ref row_contents(PyObject* row, PyObject* row_tags, PyObject* parse_date) {
    if (!row_tags) return Ref::steal(PyList_GetSlice(row, 0, PY_SSIZE_T_MAX));
    const Py_ssize_t m = PyList_GET_SIZE(row);
    Ref cells = Ref::steal(PyList_New(m));
    for (Py_ssize_t c = 0; c < m; ++c) {
        PyObject* cell = PyList_GET_ITEM(row, c);
        Ref value = PyList_GET_ITEM(row_tags, c) == t_date
                        ? Ref::steal(PyObject_CallOneArg(parse_date, cell))
                        : Ref::borrow(cell);
        PyList_SET_ITEM(cells.get(), c, value.release());
    }
    return cells;
}

// decode_table(rows, array_type, first_id[, tags, parse_date]) -> array_type(first_id) holding
// one array_type(first_id + 1 + r) per row, each holding that row's values.
PyObject* decode_table(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    return support::entry([&] {
        if (nargs != 3 && nargs != 5)
            support::raise(PyExc_TypeError,
                           "decode_table(rows, array_type, first_id[, tags, parse_date])");
        PyObject* rows = args[0];
        PyObject* array_type = args[1];
        PyObject* tags = nargs == 5 ? args[3] : nullptr;
        PyObject* parse_date = nargs == 5 ? args[4] : nullptr;
        const long first = PyLong_AsLong(args[2]);
        if (first == -1 && PyErr_Occurred()) support::throw_error();
        const Py_ssize_t n = PyList_GET_SIZE(rows);
        Ref items = Ref::steal(PyList_New(n));
        for (Py_ssize_t r = 0; r < n; ++r) {
            Ref id = Ref::steal(PyLong_FromLong(first + 1 + static_cast<long>(r)));
            Ref arr = Ref::steal(PyObject_CallOneArg(array_type, id.get()));
            Ref copy = row_contents(PyList_GET_ITEM(rows, r),
                                    tags ? PyList_GET_ITEM(tags, r) : nullptr, parse_date);
            support::check(PyList_SetSlice(arr.get(), 0, 0, copy.get()));
            PyList_SET_ITEM(items.get(), r, arr.release());
        }
        Ref id = Ref::steal(PyLong_FromLong(first));
        Ref outer = Ref::steal(PyObject_CallOneArg(array_type, id.get()));
        support::check(PyList_SetSlice(outer.get(), 0, 0, items.get()));
        return outer;
    });
}

PyMethodDef methods[] = {
    {"encode_table", reinterpret_cast<PyCFunction>(reinterpret_cast<void*>(encode_table)),
     METH_FASTCALL, "Encoder floor: rows and their precomputed tags to the wire value."},
    {"decode_table", reinterpret_cast<PyCFunction>(reinterpret_cast<void*>(decode_table)),
     METH_FASTCALL, "Decoder floor: rows of plain values to array proxies."},
    {nullptr, nullptr, 0, nullptr},
};

int exec(PyObject*) {
    return support::entry_int([] {
        k_type = keep("type");
        k_value = keep("value");
        k_is_spec = keep("isSpec");
        t_array = keep("Array");
        t_date = keep("Date");
        s_isoformat = keep("isoformat");
        return 0;
    });
}

PyModuleDef_Slot slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec)},
    {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
    {0, nullptr},
};

PyModuleDef def = {PyModuleDef_HEAD_INIT,
                   "_floor",
                   "Benchmark floors.",
                   0,
                   methods,
                   slots,
                   nullptr,
                   nullptr,
                   nullptr};

}  // namespace

PyMODINIT_FUNC PyInit__floor() { return PyModuleDef_Init(&def); }
