// Lintora's life cycle: construction (temporary module directory and jedi project), cleanup, and
// the settings the kernel changes between requests (hover mode, search paths, workspace).
#include "lintora/common.hpp"
#include "lintora/completion_cache.hpp"
#include "lintora/methods.hpp"

namespace lintora {
namespace {

Ref init_impl(PyObject* module, const ArgValues& a) {
    PyObject* self = a[0];
    set_attr(self, N.a_workspace_path, Py_None);

    Ref tempfile = lookup_global(module, N.g_tempfile);
    Ref temp_dir = call_method(tempfile.get(), N.TemporaryDirectory, {});
    set_attr(self, N.a_temp_dir, temp_dir.get());

    Ref os = lookup_global(module, N.g_os);
    Ref os_path = get_attr(os.get(), N.path);
    Ref file = lookup_global(module, N.g_file);
    Ref file_abs = call_method(os_path.get(), N.abspath, {file.get()});
    Ref server_path = call_method(os_path.get(), N.dirname, {file_abs.get()});
    set_attr(self, N.a_python_server_path, server_path.get());
    Ref stubs_name = text("stubs");
    Ref stubs_path = call_method(os_path.get(), N.join, {server_path.get(), stubs_name.get()});
    set_attr(self, N.a_stubs_path, stubs_path.get());

    // Only the stubs go on the search path here; update_sys_paths adds the server directory.
    Ref temp_name = get_attr(temp_dir.get(), N.name);
    Ref added = new_list();
    append(added.get(), stubs_path.get());
    Ref jedi = lookup_global(module, N.g_jedi);
    Ref project = call_method(jedi.get(), N.Project, {},
                              {{N.path, temp_name.get()}, {N.added_sys_path, added.get()}});
    set_attr(self, N.a_jedi_project, project.get());
    set_attr(self, N.a_hover_mode, N.s_compact);

    Ref pylsp = lookup_global(module, N.g_pylsp_available);
    Ref pyflakes = lookup_global(module, N.g_pyflakes_available);
    lsp_log(module, LogLevel::Info,
            "[LSP] Lintora initialized (pylsp_available=%s, pyflakes_available=%s, temp_dir=%s, "
            "python_server=%s, stubs=%s)",
            {pylsp.get(), pyflakes.get(), temp_name.get(), server_path.get(), stubs_path.get()});
    return support::none();
}

Ref cleanup_impl(PyObject* module, const ArgValues& a) {
    PyObject* self = a[0];
    forget_completion_cache(module, self);
    Ref temp_dir = get_attr(self, N.a_temp_dir);
    if (temp_dir.get() == Py_None) return support::none();
    try {
        guard(
            {PyExc_Exception},
            [&] {
                call_method(temp_dir.get(), N.cleanup, {});
                lsp_log(module, LogLevel::Info, "[LSP] Cleaned up temporary directory");
                return 0;
            },
            [&](PyObject* e) {
                lsp_log(module, LogLevel::Warning,
                        "[LSP] Failed to cleanup temporary directory: %s", {e});
                return 0;
            });
    } catch (const support::PyErrorSet&) {
        // The instance lets go of the directory even when something escapes (a KeyboardInterrupt).
        support::CaughtError err;
        set_attr(self, N.a_temp_dir, Py_None);
        err.rethrow();
    }
    set_attr(self, N.a_temp_dir, Py_None);
    return support::none();
}

Ref set_hover_mode_impl(PyObject* module, const ArgValues& a) {
    PyObject* self = a[0];
    PyObject* mode = a[1];
    if (equals(mode, N.s_compact) || equals(mode, N.s_detailed)) {
        set_attr(self, N.a_hover_mode, mode);
        if (Ref logger = logger_if_enabled(module, LogLevel::Info)) {
            Ref prefix = text("[LSP] Hover mode set to: ");
            Ref message = add(prefix.get(), mode);
            support::log_message(logger.get(), LogLevel::Info, message.get());
        }
        return support::none();
    }
    if (Ref logger = logger_if_enabled(module, LogLevel::Warning)) {
        Ref current = get_attr(self, N.a_hover_mode);
        Ref message = Ref::steal(PyUnicode_FromFormat(
            "[LSP] Invalid hover mode '%U', keeping current: %S", mode, current.get()));
        support::log_message(logger.get(), LogLevel::Warning, message.get());
    }
    return support::none();
}

Ref update_sys_paths_impl(PyObject* module, const ArgValues& a) {
    PyObject* self = a[0];
    PyObject* new_paths = a[1];
    guard(
        {PyExc_Exception},
        [&] {
            Ref stubs_path = get_attr(self, N.a_stubs_path);
            Ref server_path = get_attr(self, N.a_python_server_path);
            Ref added = new_list();
            append(added.get(), stubs_path.get());
            append(added.get(), server_path.get());
            // Comparisons may run Python code that changes the list: re-check the bound each time.
            for (Py_ssize_t i = 0; i < PyList_GET_SIZE(new_paths); ++i) {
                Ref p = Ref::steal(PyList_GetItemRef(new_paths, i));
                if (!support::check(PySequence_Contains(added.get(), p.get())))
                    append(added.get(), p.get());
            }
            Ref temp_dir = get_attr(self, N.a_temp_dir);
            Ref root = support::truthy(temp_dir.get()) ? get_attr(temp_dir.get(), N.name)
                                                       : support::none();
            Ref jedi = lookup_global(module, N.g_jedi);
            Ref project = call_method(jedi.get(), N.Project, {},
                                      {{N.path, root.get()}, {N.added_sys_path, added.get()}});
            set_attr(self, N.a_jedi_project, project.get());
            // Library names may resolve differently on the new path.
            forget_completion_cache(module, self);
            Ref total = length(added.get());
            Ref given = length(new_paths);
            lsp_log(
                module, LogLevel::Info,
                "[LSP] Updated jedi project with %d total paths (%d package paths, stubs path: %s)",
                {total.get(), given.get(), stubs_path.get()});
            return 0;
        },
        [&](PyObject* e) {
            lsp_log(module, LogLevel::Error, "[LSP] Failed to update sys paths: %s", {e}, e);
            return 0;
        });
    return support::none();
}

Ref set_workspace_impl(PyObject* module, const ArgValues& a) {
    set_attr(a[0], N.a_workspace_path, a[1]);
    lsp_log(module, LogLevel::Info,
            "[LSP] Workspace path recorded: %s (using temp_dir for jedi.Project)", {a[1]});
    return support::none();
}

}  // namespace

const support::FunctionDef init_def{
    "__init__",
    "Lintora.__init__",
    "Create the temporary module directory and the jedi project rooted in it.",
    support::Signature("__init__", {{"self"}}),
    init_impl,
    {}};

const support::FunctionDef cleanup_def{
    "cleanup",
    "Lintora.cleanup",
    "Remove the temporary module directory and everything in it.",
    support::Signature("cleanup", {{"self"}}),
    cleanup_impl,
    {{"return", "None"}}};

const support::FunctionDef set_hover_mode_def{
    "set_hover_mode",
    "Lintora.set_hover_mode",
    "Choose the hover presentation: 'compact' or 'detailed'.",
    support::Signature("set_hover_mode", {{"self"}, {"mode", ArgType::Str}}),
    set_hover_mode_impl,
    {{"mode", "str"}, {"return", "None"}}};

const support::FunctionDef update_sys_paths_def{
    "update_sys_paths",
    "Lintora.update_sys_paths",
    "Rebuild the jedi project with the stubs, this directory and the given package paths.",
    support::Signature("update_sys_paths", {{"self"}, {"new_paths", ArgType::List}}),
    update_sys_paths_impl,
    {{"new_paths", "List[str]"}, {"return", "None"}}};

const support::FunctionDef set_workspace_def{
    "set_workspace",
    "Lintora.set_workspace",
    "Record the editor's workspace path.",
    support::Signature("set_workspace", {{"self"}, {"workspace_path", ArgType::Str}}),
    set_workspace_impl,
    {{"workspace_path", "str"}, {"return", "None"}}};

}  // namespace lintora
