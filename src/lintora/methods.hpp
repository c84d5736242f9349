// The methods of `Lintora`, one definition each, gathered by module.cpp into the class namespace.
#pragma once

#include "support/function.hpp"

namespace lintora {

// lintora.cpp: construction and instance settings
extern const support::FunctionDef init_def;
extern const support::FunctionDef cleanup_def;
extern const support::FunctionDef set_hover_mode_def;
extern const support::FunctionDef update_sys_paths_def;
extern const support::FunctionDef set_workspace_def;

// known_globals.cpp
extern const support::FunctionDef set_known_globals_def;

// modules.cpp: the temporary module directory
extern const support::FunctionDef sync_modules_def;
extern const support::FunctionDef delete_module_def;
extern const support::FunctionDef is_module_name_def;

// completions.cpp
extern const support::FunctionDef get_completions_def;
extern const support::FunctionDef get_word_prefix_def;

// hover.cpp
extern const support::FunctionDef get_hover_def;
extern const support::FunctionDef format_compact_hover_def;
extern const support::FunctionDef get_type_description_def;

// signature.cpp
extern const support::FunctionDef get_signature_help_def;
extern const support::FunctionDef format_signature_def;

// diagnostics.cpp
extern const support::FunctionDef get_diagnostics_def;
extern const support::FunctionDef run_pyflakes_def;
extern const support::FunctionDef parse_pyflakes_message_def;

// imports.cpp
extern const support::FunctionDef check_unresolved_imports_def;
extern const support::FunctionDef can_resolve_import_def;

}  // namespace lintora
