"""Editor language services: completions, hover, signature help and diagnostics over jedi."""
# Editors and type checkers see this file instead of the compiled module.
import ast as ast
import importlib as importlib
import importlib.util
import io as io
import logging as logging
import os as os
import re as re
import sys as sys
import tempfile as tempfile
from typing import Any as Any, Dict as Dict, List as List, Optional as Optional, TypedDict as _TypedDict

import jedi as jedi
from pyflakes import api as pyflakes_api, reporter as pyflakes_reporter
from pylsp import uris as uris
from pylsp.config.config import Config as Config
from pylsp.workspace import Document as Document, Workspace as Workspace
from cellumo_master.logging_config import get_logger as get_logger, setup_logging_subprocess as setup_logging_subprocess

PYFLAKES_AVAILABLE: bool
PYLSP_AVAILABLE: bool
logger: logging.Logger
JEDI_TO_MONACO_KIND: dict[str, int]
MONACO_MARKER_SEVERITY_ERROR: int
MONACO_MARKER_SEVERITY_WARNING: int
PYFLAKES_MESSAGE_PATTERN: re.Pattern[str]
IMPORT_ALIAS_PATTERN: re.Pattern[str]

class _CompletionItem(_TypedDict, total=False):
    label: str
    kind: int
    insertText: str
    detail: str
    documentation: str

class _Completions(_TypedDict):
    completions: list[_CompletionItem]
    error: str | None

class _MarkdownContents(_TypedDict):
    kind: str
    value: str

class _Hover(_TypedDict):
    contents: _MarkdownContents | None
    error: str | None

class _ParameterInfo(_TypedDict, total=False):
    label: str
    documentation: str

class _SignatureInfo(_TypedDict):
    label: str
    documentation: str
    parameters: list[_ParameterInfo]

class _SignatureHelp(_TypedDict):
    signatures: list[_SignatureInfo]
    activeSignature: int
    activeParameter: int
    error: str | None

class _Diagnostic(_TypedDict):
    startLineNumber: int
    startColumn: int
    endLineNumber: int
    endColumn: int
    message: str
    severity: int

class _Diagnostics(_TypedDict):
    diagnostics: list[_Diagnostic]
    error: str | None

class Lintora:
    """Editor code intelligence over jedi and pyflakes, answered in the Monaco editor's shapes.

    Lines are 1-based and columns 0-based. A request never raises for a failed analysis: the
    failure comes back as the text in `error`.
    """
    _workspace_path: str | None
    _temp_dir: tempfile.TemporaryDirectory[str] | None
    _python_server_path: str
    _stubs_path: str
    _jedi_project: jedi.Project
    _hover_mode: str
    def __init__(self) -> None: ...
    def cleanup(self) -> None:
        """Removes the temporary module directory."""
    def set_hover_mode(self, mode: str) -> None:
        """Chooses the hover text: "compact" or "detailed"."""
    def update_sys_paths(self, new_paths: list[str]) -> None:
        """Rebuilds the jedi project with these package paths (after installs or removals)."""
    def set_workspace(self, workspace_path: str) -> None:
        """Records the workspace path."""
    def set_known_globals(self, names: dict[str, str]) -> None:
        """Names every script has in its globals without importing them, each mapped to the dotted
        path it is imported from (`{"Context": "cellumo_master.python_server.cellumo.ostrel.Context"}`);
        the editor treats them as defined, with that object's type. An empty mapping forgets them."""
    def sync_modules(self, modules: dict[str, str], dirty_files: dict[str, str] | None = None) -> None:
        """Writes the user's modules (unsaved editor text wins) into the temporary directory."""
    def delete_module(self, module_name: str) -> None:
        """Removes a synced module's file."""
    def _is_module_name(self, path: str) -> bool: ...
    def get_completions(
        self, code: str, line: int, column: int, path: str | None = None,
        modules: dict[str, str] | None = None, dirty_files: dict[str, str] | None = None,
    ) -> _Completions:
        """Completion items at the cursor."""
    def _get_word_prefix(self, code: str, line: int, column: int) -> str: ...
    def get_hover(
        self, code: str, line: int, column: int, path: str | None = None,
        modules: dict[str, str] | None = None, dirty_files: dict[str, str] | None = None,
    ) -> _Hover:
        """Markdown text about the symbol at the cursor."""
    def _format_compact_hover(self, definition: Any) -> str | None: ...
    def _get_type_description(self, definition: Any, fallback_type: str) -> str: ...
    def get_signature_help(
        self, code: str, line: int, column: int, path: str | None = None,
        modules: dict[str, str] | None = None, dirty_files: dict[str, str] | None = None,
    ) -> _SignatureHelp:
        """The signature of the call around the cursor, with the active parameter."""
    def _format_signature(self, signature: Any) -> str: ...
    def get_diagnostics(self, code: str, module_name: str | None = None) -> _Diagnostics:
        """Syntax errors, pyflakes warnings and unresolved imports, as Monaco markers."""
    def _run_pyflakes(self, code: str, filename: str) -> list[_Diagnostic]: ...
    def _parse_pyflakes_message(self, message: str, severity: int) -> _Diagnostic | None: ...
    def _check_unresolved_imports(self, code: str, module_name: str | None = None) -> list[_Diagnostic]: ...
    def _can_resolve_import(self, module_name: str) -> bool: ...
