// The printed text of a collection proxy's data (see data_text.hpp).
#include "ostrel/data_text.hpp"

#include "ostrel/common.hpp"

namespace ostrel {
namespace {

// Items shown per list and entries per dict before the rest is summed up by its count; levels
// of nesting shown before a level is written as [...] or {...}.
constexpr Py_ssize_t kMaxItems = 20;
constexpr int kMaxLevel = 6;

class Writer {
public:
    Writer(PyObject* array_class, PyObject* dict_class)
        : array_class_(array_class), dict_class_(dict_class), parts_(Ref::steal(PyList_New(0))) {}

    void value(PyObject* v, int level) {
        if (PyList_CheckExact(v) || support::is_instance(v, array_class_)) return list(v, level);
        if (PyDict_CheckExact(v) || support::is_instance(v, dict_class_)) return dict(v, level);
        Ref text = support::call(C.short_repr, {v});
        put(text.get());
    }

    Ref text() const { return Ref::steal(PyUnicode_Join(C.empty_str, parts_.get())); }

private:
    void put(PyObject* text) { support::check(PyList_Append(parts_.get(), text)); }
    void put(const char* text) {
        Ref t = Ref::steal(PyUnicode_FromString(text));
        put(t.get());
    }

    void rest(Py_ssize_t shown, Py_ssize_t total, const char* what) {
        if (total <= shown) return;
        Ref t = Ref::steal(PyUnicode_FromFormat(", ... (%zd %s)", total, what));
        put(t.get());
    }

    void list(PyObject* v, int level) {
        if (level == 0) return put("[...]");
        put("[");
        // Showing an item may run code that changes the list: read it afresh at every step.
        Py_ssize_t i = 0;
        for (; i < kMaxItems && i < PyList_GET_SIZE(v); ++i) {
            if (i) put(", ");
            Ref item = Ref::borrow(PyList_GET_ITEM(v, i));
            value(item.get(), level - 1);
        }
        rest(i, PyList_GET_SIZE(v), "items");
        put("]");
    }

    void dict(PyObject* v, int level) {
        if (level == 0) return put("{...}");
        Ref entries = Ref::steal(PyDict_Items(v));  // a snapshot of its own
        const Py_ssize_t n = PyList_GET_SIZE(entries.get());
        put("{");
        Py_ssize_t i = 0;
        for (; i < kMaxItems && i < n; ++i) {
            if (i) put(", ");
            PyObject* pair = PyList_GET_ITEM(entries.get(), i);
            Ref key = support::call(C.short_repr, {PyTuple_GET_ITEM(pair, 0)});
            put(key.get());
            put(": ");
            value(PyTuple_GET_ITEM(pair, 1), level - 1);
        }
        rest(i, n, "keys");
        put("}");
    }

    PyObject* array_class_;
    PyObject* dict_class_;
    Ref parts_;
};

}  // namespace

Ref data_text(PyObject* module, PyObject* collection) {
    Ref array_class = lookup_global(module, N.OfficeJsArray);
    Ref dict_class = lookup_global(module, N.OfficeJsDict);
    Writer w(array_class.get(), dict_class.get());
    w.value(collection, kMaxLevel);
    return w.text();
}

}  // namespace ostrel
