// The unresolved-import check: one error marker per imported module that neither the kernel, the
// synced modules nor the import system can find.
#include <deque>

#include "lintora/columns.hpp"
#include "lintora/common.hpp"
#include "lintora/lent_tree.hpp"
#include "lintora/methods.hpp"

namespace lintora {
namespace {

// Queues the child nodes of `node` the way ast.iter_child_nodes yields them. The walk is
// breadth-first and iterative, so a deeply nested tree costs memory, not C stack.
void push_children(std::deque<Ref>& todo, PyObject* node, PyTypeObject* ast_type) {
    Ref fields = get_attr(node, N.fields);
    for (Ref& field_name : iterate(fields.get())) {
        Ref field = get_attr_optional(node, field_name.get());
        if (!field) continue;
        if (PyObject_TypeCheck(field.get(), ast_type)) {
            todo.push_back(std::move(field));
        } else if (PyList_Check(field.get())) {
            for (Py_ssize_t i = 0; i < PyList_GET_SIZE(field.get()); ++i) {
                Ref item = Ref::steal(PyList_GetItemRef(field.get(), i));
                if (PyObject_TypeCheck(item.get(), ast_type)) todo.push_back(std::move(item));
            }
        }
    }
}

// The editor column of the byte offset `node.<name>` on `line`.
Ref editor_column_of(Columns& columns, PyObject* node, PyObject* line, PyObject* name) {
    Ref offset = get_attr(node, name);
    Ref one = integer(1);
    Ref column = add(offset.get(), one.get());
    return columns.editor_column(line, column.get(), PythonUnit::Utf8Bytes);
}

Ref import_marker(PyObject* module, Columns& columns, PyObject* node, PyObject* name) {
    Ref start_line = get_attr(node, N.lineno);
    Ref start_column = editor_column_of(columns, node, start_line.get(), N.col_offset);
    Ref end_line = get_attr(node, N.end_lineno);
    if (!truthy(end_line.get())) end_line = start_line.dup();
    // Without an end offset the marker ends where it starts.
    Ref end_offset = get_attr(node, N.end_col_offset);
    Ref end_column = truthy(end_offset.get())
                         ? editor_column_of(columns, node, end_line.get(), N.end_col_offset)
                         : start_column.dup();
    Ref head = text("import '");
    Ref tail = text("' could not be resolved");
    Ref message = add(head.get(), name);
    message = add(message.get(), tail.get());
    Ref severity = lookup_global(module, N.g_severity_error);
    return make_dict({{N.k_start_line, start_line.get()},
                      {N.k_start_column, start_column.get()},
                      {N.k_end_line, end_line.get()},
                      {N.k_end_column, end_column.get()},
                      {N.k_message, message.get()},
                      {N.k_severity, severity.get()}});
}

bool resolvable(PyObject* self, PyObject* name) {
    return truthy(call_method(self, N.m_can_resolve_import, {name}).get());
}

void check_node(PyObject* module, PyObject* self, Columns& columns, PyObject* node,
                PyObject* import_type, PyObject* from_type, PyObject* diagnostics) {
    if (support::check(PyObject_IsInstance(node, import_type))) {
        Ref names = get_attr(node, N.names);
        for (Ref& alias : iterate(names.get())) {
            Ref name = get_attr(alias.get(), N.name);
            if (!resolvable(self, name.get())) {
                Ref diag = import_marker(module, columns, node, name.get());
                append(diagnostics, diag.get());
            }
        }
    } else if (support::check(PyObject_IsInstance(node, from_type))) {
        // Only the module is looked up; a relative level is ignored and `from . import x` skipped.
        Ref name = either(get_attr(node, N.module), N.s_empty);
        if (truthy(name.get()) && !resolvable(self, name.get())) {
            Ref diag = import_marker(module, columns, node, name.get());
            append(diagnostics, diag.get());
        }
    }
}

Ref check_unresolved_imports_impl(PyObject* module, const ArgValues& a) {
    PyObject* self = a[0];
    Ref diagnostics = new_list();
    guard(
        {PyExc_Exception},
        [&] {
            Ref ast = lookup_global(module, N.g_ast);
            Ref parse = get_attr(ast.get(), N.parse);
            Ref tree = is_stdlib_parse(parse.get()) ? lent_tree(a[1]) : Ref();
            if (!tree) tree = call(parse.get(), {a[1]});
            Ref import_type = get_attr(ast.get(), N.Import);
            Ref from_type = get_attr(ast.get(), N.ImportFrom);
            Ref ast_type = get_attr(ast.get(), N.AST);
            if (!PyType_Check(ast_type.get()))
                support::raise(PyExc_TypeError, "ast.AST is not a class");
            auto* node_type = reinterpret_cast<PyTypeObject*>(ast_type.get());

            Columns columns(a[1]);
            std::deque<Ref> todo;
            todo.push_back(std::move(tree));
            while (!todo.empty()) {
                Ref node = std::move(todo.front());
                todo.pop_front();
                push_children(todo, node.get(), node_type);
                check_node(module, self, columns, node.get(), import_type.get(), from_type.get(),
                           diagnostics.get());
            }
            Ref count = length(diagnostics.get());
            lsp_log(module, LogLevel::Debug, "[LSP] Import check found %d unresolved imports",
                    {count.get()});
            return 0;
        },
        [&](PyObject* e) {
            // A syntax error is reported by the parser's own marker, not here.
            if (!PyErr_GivenExceptionMatches(e, PyExc_SyntaxError)) {
                lsp_log(module, LogLevel::Warning, "[LSP] Import check failed: %s", {e});
            }
            return 0;
        });
    return diagnostics;
}

Ref can_resolve_import_impl(PyObject* module, const ArgValues& a) {
    PyObject* self = a[0];
    PyObject* name = a[1];
    return guard(
        {PyExc_ModuleNotFoundError, PyExc_ImportError, PyExc_ValueError, PyExc_AttributeError},
        [&] {
            Ref sys = lookup_global(module, N.g_sys);
            Ref loaded = get_attr(sys.get(), N.modules);
            if (support::check(PySequence_Contains(loaded.get(), name)))
                return support::boolean(true);
            Ref temp_dir = get_attr(self, N.a_temp_dir);
            if (temp_dir.get() != Py_None) {
                Ref file_path = module_path_in(module, temp_dir.get(), name);
                Ref os = lookup_global(module, N.g_os);
                Ref os_path = get_attr(os.get(), N.path);
                if (truthy(call_method(os_path.get(), N.exists, {file_path.get()}).get())) {
                    return support::boolean(true);
                }
            }
            Ref importlib = lookup_global(module, N.g_importlib);
            Ref util = get_attr(importlib.get(), N.util);
            Ref spec = call_method(util.get(), N.find_spec, {name});
            return support::boolean(spec.get() != Py_None);
        },
        [](PyObject*) { return support::boolean(false); });
}

}  // namespace

const support::FunctionDef check_unresolved_imports_def{
    "_check_unresolved_imports",
    "Lintora._check_unresolved_imports",
    "Error markers for the imports of the buffer that cannot be resolved.",
    support::Signature(
        "_check_unresolved_imports",
        {{"self"}, {"code", ArgType::Str}, {"module_name", ArgType::Str, Default::None}}),
    check_unresolved_imports_impl,
    {{"code", "str"}, {"module_name", "Optional[str]"}, {"return", "List[Dict[str, Any]]"}}};

const support::FunctionDef can_resolve_import_def{
    "_can_resolve_import",
    "Lintora._can_resolve_import",
    "Whether the kernel, the synced modules or the import system can find a module.",
    support::Signature("_can_resolve_import", {{"self"}, {"module_name", ArgType::Str}}),
    can_resolve_import_impl,
    {{"module_name", "str"}, {"return", "bool"}}};

}  // namespace lintora
