// A misspelt member of an Excel object (`sheet.getRnage`) fails only when the script runs; the
// stubs list every member of every Excel class, so the editor can say so while the person types.
// For each attribute access jedi infers the receiver (at the dot before the attribute); when every
// inferred type is an instance of a stubs class and the attribute is none of its members, the
// attribute gets a warning. Receivers of unknown type, `Any`, or from other libraries are left
// alone: only the stubs' classes are known to be complete.
#include "lintora/member_check.hpp"

#include <algorithm>
#include <vector>

#include "lintora/columns.hpp"
#include "lintora/common.hpp"
#include "lintora/known_globals.hpp"

namespace lintora {
namespace {

// Attribute accesses looked at per buffer: bounds the jedi work of a very long script.
constexpr Py_ssize_t kMaxAttributes = 400;

// Only a buffer that can reach the Excel API at all is worth inferring: one that names a known
// global or the bridge module.
bool may_use_excel(PyObject* self, PyObject* code) {
    if (support::check(PyUnicode_Contains(code, N.s_bridge_module))) return true;
    Ref names = get_attr_optional(self, N.a_known_globals);
    if (!names || !PyDict_CheckExact(names.get())) return false;
    PyObject *name = nullptr, *value = nullptr;
    Py_ssize_t pos = 0;
    while (PyDict_Next(names.get(), &pos, &name, &value)) {
        if (PyUnicode_Check(name) && support::check(PyUnicode_Contains(code, name))) return true;
    }
    return false;
}

bool read_index(PyObject* o, Py_ssize_t& out) {
    if (!PyLong_CheckExact(o)) return false;
    out = PyLong_AsSsize_t(o);
    if (out == -1 && PyErr_Occurred()) {
        PyErr_Clear();
        return false;
    }
    return true;
}

// The class name when every definition is an instance of a stubs class, else an empty Ref.
Ref stubs_class_of(PyObject* definitions) {
    Ref class_name;
    for (Ref& d : iterate(definitions)) {
        Ref type = get_attr(d.get(), N.type);
        if (!equals(type.get(), N.s_instance)) return Ref();
        Ref full_name = get_attr(d.get(), N.full_name);
        if (!PyUnicode_Check(full_name.get()) ||
            PyUnicode_Tailmatch(full_name.get(), N.s_excel_stubs, 0, PY_SSIZE_T_MAX, -1) != 1)
            return Ref();
        if (!class_name) class_name = get_attr(d.get(), N.name);
    }
    return class_name;
}

class MemberCheck {
public:
    MemberCheck(PyObject* module, PyObject* self, PyObject* code, PyObject* script)
        : module_(module), self_(self), columns_(code), script_(script) {}

    // A marker found, with where it starts, so that the markers can be given in buffer order
    // (the tree is walked breadth-first).
    struct Found {
        Py_ssize_t line;
        Py_ssize_t column;
        Ref marker;
    };

    void check(PyObject* node, std::vector<Found>& found) {
        Ref attr = get_attr(node, N.attr);
        Ref line = get_attr(node, N.end_lineno);
        Ref end_offset = get_attr(node, N.end_col_offset);
        Py_ssize_t lineno = 0, end_byte = 0;
        if (!PyUnicode_Check(attr.get()) || !read_index(line.get(), lineno) ||
            !read_index(end_offset.get(), end_byte))
            return;
        Ref text = columns_.line_text(lineno);
        const Py_ssize_t end = columns_.code_point_index(lineno, end_byte);
        const Py_ssize_t start = end - PyUnicode_GET_LENGTH(attr.get());
        if (!text || end < 0 || start < 1) return;
        // The name as written (the parser normalises identifiers, the line does not).
        Ref written = Ref::steal(PyUnicode_Substring(text.get(), start, end));
        if (!equals(written.get(), attr.get())) return;
        Py_ssize_t dot = start - 1;
        while (dot > 0 && (PyUnicode_READ_CHAR(text.get(), dot) == ' ' ||
                           PyUnicode_READ_CHAR(text.get(), dot) == '\t'))
            --dot;
        if (PyUnicode_READ_CHAR(text.get(), dot) != '.') return;  // the dot is on a line above

        Ref jedi_line = script_line(self_, line.get());
        Ref dot_column = support::ssize_int(dot);
        Ref receivers = call_at(script_, N.infer, jedi_line.get(), dot_column.get());
        if (!truthy(receivers.get())) return;
        Ref class_name = stubs_class_of(receivers.get());
        if (!class_name) return;
        Ref members = members_of(receivers.get(), jedi_line.get(), start);
        if (support::check(PySet_Contains(members.get(), attr.get()))) return;

        Ref message = message_for(attr.get(), class_name.get(), members.get());
        Ref first = support::ssize_int(start + 1), past = support::ssize_int(end + 1);
        Ref start_column = columns_.editor_column(line.get(), first.get(), PythonUnit::CodePoints);
        Ref end_column = columns_.editor_column(line.get(), past.get(), PythonUnit::CodePoints);
        Ref severity = lookup_global(module_, N.g_severity_warning);
        Ref marker = make_dict({{N.k_start_line, line.get()},
                                {N.k_start_column, start_column.get()},
                                {N.k_end_line, line.get()},
                                {N.k_end_column, end_column.get()},
                                {N.k_message, message.get()},
                                {N.k_severity, severity.get()}});
        found.push_back({lineno, start, std::move(marker)});
    }

private:
    // The names jedi completes after the dot: the class's members, inherited ones included. Kept
    // per receiver type for the rest of the buffer.
    Ref members_of(PyObject* receivers, PyObject* jedi_line, Py_ssize_t column) {
        Ref zero = integer(0);
        Ref first = Ref::steal(PyObject_GetItem(receivers, zero.get()));
        Ref key = get_attr(first.get(), N.full_name);
        if (!cache_) cache_ = Ref::steal(PyDict_New());
        PyObject* found = nullptr;
        if (support::check(PyDict_GetItemRef(cache_.get(), key.get(), &found)))
            return Ref::steal(found);
        Ref at = support::ssize_int(column);
        Ref completions = call_at(script_, N.complete, jedi_line, at.get());
        Ref names = Ref::steal(PySet_New(nullptr));
        for (Ref& c : iterate(completions.get())) {
            Ref name = get_attr(c.get(), N.name);
            support::check(PySet_Add(names.get(), name.get()));
        }
        set_item(cache_.get(), key.get(), names.get());
        return names;
    }

    // "'getRnage' is not a member of Worksheet; did you mean 'getRange'?"
    Ref message_for(PyObject* attr, PyObject* class_name, PyObject* members) {
        Ref difflib = Ref::steal(PyImport_ImportModule("difflib"));
        Ref candidates = Ref::steal(PySequence_List(members));
        support::check(PyList_Sort(candidates.get()));
        Ref one = integer(1);
        Ref close =
            call_method(difflib.get(), N.get_close_matches, {attr, candidates.get(), one.get()});
        if (PyList_Check(close.get()) && PyList_GET_SIZE(close.get()) > 0) {
            return Ref::steal(PyUnicode_FromFormat("'%U' is not a member of %S; did you mean '%S'?",
                                                   attr, class_name,
                                                   PyList_GET_ITEM(close.get(), 0)));
        }
        return Ref::steal(PyUnicode_FromFormat("'%U' is not a member of %S", attr, class_name));
    }

    PyObject* module_;
    PyObject* self_;
    Columns columns_;
    PyObject* script_;
    Ref cache_;
};

}  // namespace

Ref excel_member_markers(PyObject* module, PyObject* self, PyObject* code, PyObject* tree,
                         PyObject* module_name) {
    Ref markers = new_list();
    if (!may_use_excel(self, code)) return markers;
    guard(
        {PyExc_Exception},
        [&] {
            Ref script = make_script(module, self, code, module_name);
            Ref ast = lookup_global(module, N.g_ast);
            Ref attribute_type = get_attr(ast.get(), N.Attribute);
            Ref nodes = call_method(ast.get(), N.walk, {tree});
            MemberCheck check(module, self, code, script.get());
            std::vector<MemberCheck::Found> found;
            Py_ssize_t seen = 0;
            for (Ref& node : iterate(nodes.get())) {
                if (!support::check(PyObject_IsInstance(node.get(), attribute_type.get())))
                    continue;
                if (++seen > kMaxAttributes) break;
                check.check(node.get(), found);
            }
            std::stable_sort(found.begin(), found.end(), [](const auto& x, const auto& y) {
                return x.line != y.line ? x.line < y.line : x.column < y.column;
            });
            for (const auto& f : found) append(markers.get(), f.marker.get());
            Ref count = length(markers.get());
            lsp_log(module, LogLevel::Debug, "[LSP] Excel member check found %d unknown members",
                    {count.get()});
            return 0;
        },
        [&](PyObject* e) {
            lsp_log(module, LogLevel::Warning, "[LSP] Excel member check failed: %s", {e});
            return 0;
        });
    return markers;
}

}  // namespace lintora
