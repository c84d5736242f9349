// The refusal of values without a cell meaning (see refusal.hpp).
//
// The exception carries a list under `_ostrel_refusal`: the type name of the refused value, then
// one (kind, what) pair per step, innermost first. Kinds: "i" a list index, "k" a dict key, "a" a
// positional argument, "n" a keyword argument.
#include "ostrel/refusal.hpp"

#include <string>
#include <vector>

#include "ostrel/common.hpp"

namespace ostrel {
namespace {

std::string utf8(PyObject* text) {
    Py_ssize_t n = 0;
    const char* s = PyUnicode_AsUTF8AndSize(text, &n);
    if (!s) support::throw_error();
    return std::string(s, static_cast<std::size_t>(n));
}

// The shortened repr of a key or keyword as it is shown in the message.
std::string shown(PyObject* value) {
    Ref text = support::call(C.short_repr, {value});
    return utf8(text.get());
}

std::string one_based(PyObject* index) {
    Ref one = support::integer(1);
    Ref n = support::add(index, one.get());
    Ref text = support::str(n.get());
    return utf8(text.get());
}

// "row 3, column 2" for a cell of a list of rows; otherwise each step in turn, outermost first.
std::string where(PyObject* record) {
    std::vector<std::pair<char, PyObject*>> steps;  // outermost first
    for (Py_ssize_t i = PyList_GET_SIZE(record) - 1; i >= 1; --i) {
        PyObject* step = PyList_GET_ITEM(record, i);
        const char kind = static_cast<char>(PyUnicode_READ_CHAR(PyTuple_GET_ITEM(step, 0), 0));
        steps.emplace_back(kind, PyTuple_GET_ITEM(step, 1));
    }
    std::size_t first_item = 0;
    while (first_item < steps.size() &&
           (steps[first_item].first == 'a' || steps[first_item].first == 'n')) {
        ++first_item;
    }
    const bool cell = steps.size() - first_item == 2 && steps[first_item].first == 'i' &&
                      steps[first_item + 1].first == 'i';
    std::string out;
    auto add = [&out](const std::string& part) {
        if (!out.empty()) out += ", ";
        out += part;
    };
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const auto& [kind, what] = steps[i];
        switch (kind) {
            case 'a':
                add("argument " + one_based(what));
                break;
            case 'n':
                add("argument " + shown(what));
                break;
            case 'k':
                add("key " + shown(what));
                break;
            default:
                if (cell) {
                    add((i == first_item ? "row " : "column ") + one_based(what));
                } else {
                    add("item " + one_based(what));
                }
        }
    }
    return out;
}

void write_message(PyObject* exc, PyObject* record) {
    std::string text =
        "Cannot send a value of type '" + utf8(PyList_GET_ITEM(record, 0)) + "' to Excel";
    if (PyList_GET_SIZE(record) > 1) text += " (" + where(record) + ")";
    text += ": it has no meaning in a cell; convert it first, for example with list() or str()";
    Ref message =
        Ref::steal(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
    Ref args = Ref::steal(PyTuple_Pack(1, message.get()));
    PyException_SetArgs(exc, args.get());
}

[[noreturn]] void note(const char* kind, PyObject* what) {
    support::CaughtError err;
    if (!err.matches(PyExc_TypeError)) err.rethrow();
    try {
        Ref record = support::get_attr_optional(err.get(), N._ostrel_refusal);
        if (record && PyList_CheckExact(record.get()) && PyList_GET_SIZE(record.get()) >= 1) {
            Ref step = Ref::steal(Py_BuildValue("(sO)", kind, what));
            support::check(PyList_Append(record.get(), step.get()));
            write_message(err.get(), record.get());
        }
    } catch (const support::PyErrorSet&) {
        // The error itself matters more than its position: it leaves as it came.
        PyErr_Clear();
    }
    err.rethrow();
}

}  // namespace

void refuse_value(PyObject* value) {
    Ref type_name = Ref::steal(PyType_GetName(Py_TYPE(value)));
    Ref record = Ref::steal(PyList_New(0));
    support::check(PyList_Append(record.get(), type_name.get()));
    Ref exc = Ref::steal(PyObject_CallNoArgs(PyExc_TypeError));
    set_attr(exc.get(), N._ostrel_refusal, record.get());
    write_message(exc.get(), record.get());
    PyErr_SetRaisedException(exc.release());
    support::throw_error();
}

[[noreturn]] void note_index(Py_ssize_t index) {
    Ref i = support::ssize_int(index);
    note("i", i.get());
}

[[noreturn]] void note_key(PyObject* key) { note("k", key); }

[[noreturn]] void note_argument(Py_ssize_t argument) {
    Ref i = support::ssize_int(argument);
    note("a", i.get());
}

[[noreturn]] void note_keyword(PyObject* keyword) { note("n", keyword); }

}  // namespace ostrel
