// Shared pieces of the editor language services: interned names, logging through the module's
// `logger`, and the steps that several editor requests share.
#pragma once

#include <initializer_list>
#include <utility>

#include "support/args.hpp"
#include "support/call.hpp"
#include "support/function.hpp"
#include "support/guard.hpp"
#include "support/iterate.hpp"
#include "support/logging.hpp"
#include "support/names.hpp"
#include "support/namespace.hpp"
#include "support/ref.hpp"
#include "support/values.hpp"

namespace lintora {

using support::LogLevel;
using support::Ref;

// Every identifier and literal the module hands to Python, interned once at initialisation.
// (member, text)
// clang-format off
#define LINTORA_NAMES(X)                                              \
    /* module globals, looked up at each use */                       \
    X(g_logger, "logger")                                             \
    X(g_jedi, "jedi")                                                 \
    X(g_os, "os")                                                     \
    X(g_sys, "sys")                                                   \
    X(g_ast, "ast")                                                   \
    X(g_io, "io")                                                     \
    X(g_tempfile, "tempfile")                                         \
    X(g_importlib, "importlib")                                       \
    X(g_open, "open")                                                 \
    X(g_file, "__file__")                                             \
    X(g_pyflakes_available, "PYFLAKES_AVAILABLE")                     \
    X(g_pylsp_available, "PYLSP_AVAILABLE")                           \
    X(g_pyflakes_api, "pyflakes_api")                                 \
    X(g_pyflakes_reporter, "pyflakes_reporter")                       \
    X(g_kind_table, "JEDI_TO_MONACO_KIND")                            \
    X(g_severity_error, "MONACO_MARKER_SEVERITY_ERROR")               \
    X(g_severity_warning, "MONACO_MARKER_SEVERITY_WARNING")           \
    X(g_pyflakes_pattern, "PYFLAKES_MESSAGE_PATTERN")                 \
    X(g_alias_pattern, "IMPORT_ALIAS_PATTERN")                        \
    /* instance attributes */                                         \
    X(a_workspace_path, "_workspace_path")                            \
    X(a_temp_dir, "_temp_dir")                                        \
    X(a_python_server_path, "_python_server_path")                    \
    X(a_stubs_path, "_stubs_path")                                    \
    X(a_jedi_project, "_jedi_project")                                \
    X(a_hover_mode, "_hover_mode")                                    \
    X(a_known_globals, "_known_globals")                              \
    X(a_known_prelude, "_known_prelude")                              \
    /* methods called through self */                                 \
    X(m_sync_modules, "sync_modules")                                 \
    X(m_is_module_name, "_is_module_name")                            \
    X(m_get_word_prefix, "_get_word_prefix")                          \
    X(m_format_signature, "_format_signature")                        \
    X(m_format_compact_hover, "_format_compact_hover")                \
    X(m_get_type_description, "_get_type_description")                \
    X(m_run_pyflakes, "_run_pyflakes")                                \
    X(m_parse_pyflakes_message, "_parse_pyflakes_message")            \
    X(m_check_unresolved_imports, "_check_unresolved_imports")        \
    X(m_can_resolve_import, "_can_resolve_import")                    \
    /* attributes and methods of library objects */                   \
    X(name, "name")                                                   \
    X(cleanup, "cleanup")                                             \
    X(TemporaryDirectory, "TemporaryDirectory")                       \
    X(path, "path")                                                   \
    X(dirname, "dirname")                                             \
    X(abspath, "abspath")                                             \
    X(join, "join")                                                   \
    X(exists, "exists")                                               \
    X(remove, "remove")                                               \
    X(isabs, "isabs")                                                 \
    X(sep, "sep")                                                     \
    X(Project, "Project")                                             \
    X(added_sys_path, "added_sys_path")                               \
    X(Script, "Script")                                               \
    X(code, "code")                                                   \
    X(project, "project")                                             \
    X(line, "line")                                                   \
    X(column, "column")                                               \
    X(complete, "complete")                                           \
    X(infer, "infer")                                                 \
    X(help, "help")                                                   \
    X(get_signatures, "get_signatures")                               \
    X(type, "type")                                                   \
    X(docstring, "docstring")                                         \
    X(full_name, "full_name")                                         \
    /* jedi's non-public attributes, read by the completion cache (j_ marks them all: the */ \
    /* suite checks each one against the installed jedi) */           \
    X(j_name, "_name")                                                \
    X(j_wrapped_name, "_wrapped_name")                                \
    X(j_from_module_context, "_from_module_context")                  \
    X(j_apply_decorators, "_apply_decorators")                        \
    X(j_cached_name, "_cached_name")                                  \
    X(j_tree_name, "tree_name")                                       \
    X(j_tree_node, "tree_node")                                       \
    X(j_get_root_context, "get_root_context")                         \
    X(j_py__file__, "py__file__")                                     \
    /* read by the completion cache: the module directory's stat */   \
    X(get_completion_prefix_length, "get_completion_prefix_length")   \
    X(stat, "stat")                                                   \
    X(st_mtime_ns, "st_mtime_ns")                                     \
    X(description, "description")                                     \
    X(params, "params")                                               \
    X(index, "index")                                                 \
    X(to_string, "to_string")                                         \
    X(raw, "raw")                                                     \
    X(match, "match")                                                 \
    X(group, "group")                                                 \
    X(StringIO, "StringIO")                                           \
    X(Reporter, "Reporter")                                           \
    X(check, "check")                                                 \
    X(seek, "seek")                                                   \
    X(strip, "strip")                                                 \
    X(parse, "parse")                                                 \
    X(filename, "filename")                                           \
    X(lineno, "lineno")                                               \
    X(offset, "offset")                                               \
    X(msg, "msg")                                                     \
    X(Import, "Import")                                               \
    X(ImportFrom, "ImportFrom")                                       \
    X(AST, "AST")                                                     \
    X(fields, "_fields")                                              \
    X(names, "names")                                                 \
    X(module, "module")                                               \
    X(col_offset, "col_offset")                                       \
    X(end_lineno, "end_lineno")                                       \
    X(end_col_offset, "end_col_offset")                               \
    X(modules, "modules")                                             \
    X(util, "util")                                                   \
    X(find_spec, "find_spec")                                         \
    X(write, "write")                                                 \
    X(close, "close")                                                 \
    X(encoding, "encoding")                                           \
    X(get, "get")                                                     \
    X(startswith, "startswith")                                       \
    X(sort, "sort")                                                   \
    X(key, "key")                                                     \
    X(reverse, "reverse")                                             \
    X(dunder_getitem, "__getitem__")                                  \
    X(dunder_next, "__next__")                                        \
    X(compile, "compile")                                             \
    X(finditer, "finditer")                                           \
    X(start, "start")                                                 \
    X(end, "end")                                                     \
    X(COMMENT, "COMMENT")                                             \
    X(TokenError, "TokenError")                                       \
    X(generate_tokens, "generate_tokens")                             \
    X(walk, "walk")                                                   \
    X(Attribute, "Attribute")                                         \
    X(attr, "attr")                                                   \
    X(get_close_matches, "get_close_matches")                         \
    /* result keys */                                                 \
    X(k_completions, "completions")                                   \
    X(k_error, "error")                                               \
    X(k_label, "label")                                               \
    X(k_kind, "kind")                                                 \
    X(k_insert_text, "insertText")                                    \
    X(k_detail, "detail")                                             \
    X(k_documentation, "documentation")                               \
    X(k_contents, "contents")                                         \
    X(k_value, "value")                                               \
    X(k_signatures, "signatures")                                     \
    X(k_active_signature, "activeSignature")                          \
    X(k_active_parameter, "activeParameter")                          \
    X(k_parameters, "parameters")                                     \
    X(k_diagnostics, "diagnostics")                                   \
    X(k_start_line, "startLineNumber")                                \
    X(k_start_column, "startColumn")                                  \
    X(k_end_line, "endLineNumber")                                    \
    X(k_end_column, "endColumn")                                      \
    X(k_message, "message")                                           \
    X(k_severity, "severity")                                         \
    X(k_code_length, "code_length")                                   \
    X(k_code_preview, "code_preview")                                 \
    /* literals */                                                    \
    X(s_editor, "<editor>")                                           \
    X(s_compact, "compact")                                           \
    X(s_detailed, "detailed")                                         \
    X(s_function, "function")                                         \
    X(s_class, "class")                                               \
    X(s_module, "module")                                             \
    X(s_markdown, "markdown")                                         \
    X(s_empty, "")                                                    \
    X(s_ellipsis, "...")                                              \
    X(s_syntax_error, "Syntax error")                                 \
    X(s_underscore, "_")                                              \
    X(s_py, ".py")                                                    \
    X(s_newline, "\n")                                                \
    X(s_separator, "\n\n---\n\n")                                     \
    X(s_utf8, "utf-8")                                                \
    X(s_w, "w")                                                       \
    /* Monaco's default word definition, which its Python mode keeps: a number with a */ \
    /* fraction, or a run of characters that are neither whitespace nor one of its */    \
    /* separators. JavaScript's \d and \w are ASCII-only, hence the explicit classes. */  \
    X(s_monaco_word_pattern,                                          \
      R"re((-?[0-9]*\.[0-9][A-Za-z0-9_]*)|([^`~!@#$%^&*()\-=+\[{\]}\\|;:'",.<>/?\s]+))re") \
    X(s_dot, ".")                                                     \
    X(s_paragraph_break, "\n\n")                                      \
    X(s_from, "from")                                                 \
    X(s_import_sep, " import ")                                       \
    X(s_as_sep, " as ")                                               \
    X(s_statement_sep, "; ")                                          \
    X(s_undefined_name, "undefined name '")                           \
    X(s_instance, "instance")                                         \
    X(s_bridge_module, "ostrel")                                      \
    X(s_excel_stubs, "cellumo_master.python_server.cellumo._officejs.")
// clang-format on

SUPPORT_NAME_TABLE(Names, LINTORA_NAMES)

// Filled during module initialisation; the strings live for the process.
extern Names N;

// Monaco's numbers in the module's answers: the completion kind of an item whose jedi type the
// kind table does not name (also the kind of jedi's plain names: instances, parameters,
// statements), and the marker severities.
constexpr long kDefaultCompletionKind = 4;
constexpr long kSeverityError = 8;
constexpr long kSeverityWarning = 4;

// --- the support layer's names as the module's files use them ----------------------------------

using support::add;
using support::append;
using support::ArgType;
using support::ArgValues;
using support::call;
using support::call_method;
using support::check;
using support::compare_int;
using support::Default;
using support::either;
using support::equals;
using support::get_attr;
using support::get_attr_optional;
using support::guard;
using support::integer;
using support::iterate;
using support::Kw;
using support::length;
using support::lookup_global;
using support::make_dict;
using support::new_list;
using support::set_attr;
using support::set_item;
using support::str;
using support::text;
using support::throw_error;
using support::truthy;

// "```python\n" + text + "\n```"
Ref fenced_block(PyObject* text);

// --- logging through the late-bound `logger` --------------------------------------------------

void lsp_log(PyObject* module, LogLevel level, const char* fmt,
             std::initializer_list<PyObject*> args = {}, PyObject* exc_info = nullptr);
// The logger when `level` is enabled on it, else an empty Ref (for costly arguments).
Ref logger_if_enabled(PyObject* module, LogLevel level);

// --- shared request steps -----------------------------------------------------------------------

// The guard around every editor request: an Exception from `body` is logged at error level with
// `error_format` ("[LSP] Error in <method>: %s") and its text, and becomes the request's empty
// result carrying that text, `failed(text)`.
template <class Body, class Failed>
Ref request_guard(PyObject* module, const char* error_format, Body&& body, Failed&& failed) {
    return guard({PyExc_Exception}, body, [&](PyObject* e) {
        Ref message = str(e);
        lsp_log(module, LogLevel::Error, error_format, {message.get()});
        return failed(message.get());
    });
}

// Where the synced module `name` lives: `os.path.join(self._temp_dir.name, name + ".py")`, and
// the same for a temporary directory object in hand.
Ref module_path(PyObject* module, PyObject* self, PyObject* name);
Ref module_path_in(PyObject* module, PyObject* temp_dir, PyObject* name);
// Checks a cursor request's position (the ValueErrors "line must be ...", "column must be ...")
// and returns its column as jedi and the word rules count it: the editor sends UTF-16 units.
Ref cursor_column(PyObject* code, PyObject* line, PyObject* column);
// Writes the request's modules when either mapping is non-empty.
void sync_request_modules(PyObject* self, PyObject* modules, PyObject* dirty_files);
// Chooses the script path (the synced file when `path` names a module, else `path` or
// "<editor>") and creates the jedi.Script on the instance's project, with the known globals'
// prelude before `code`: lines sent to it go through script_line.
Ref make_script(PyObject* module, PyObject* self, PyObject* code, PyObject* path);
// The argument rule and annotations shared by the three cursor requests (completions, hover,
// signature help): self, code, line, column, path=None, modules=None, dirty_files=None.
support::Signature cursor_request_signature(const char* name);
// Where each argument of a cursor request sits in its ArgValues (the signature's order; the
// definition of cursor_request_signature checks that the two agree).
namespace cursor_arg {
enum : std::size_t { self, code, line, column, path, modules, dirty_files, count };
}
std::vector<support::Annotation> cursor_request_annotations();
// Hover's and signature help's first steps: check the buffer and position, write the request's
// modules, create the jedi.Script. Arguments as the cursor requests take them.
struct CursorScript {
    Ref script;
    Ref line;    // the request's line as a line of the script (see known_globals.hpp)
    Ref column;  // see cursor_column
};
CursorScript prepare_cursor_script(PyObject* module, const support::ArgValues& a);
// `{"line": line, "column": column}` as keywords of a jedi call.
Ref call_at(PyObject* script, PyObject* method, PyObject* line, PyObject* column);

}  // namespace lintora
