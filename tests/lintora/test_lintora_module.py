"""What importing the module sets up: globals in order, constants, probes of optional libraries."""
import logging
import re
import textwrap

import pytest

NAME = "cellumo_master.python_server.lintora"


def test_globals_in_import_order(lintora, run_python):
    # In a fresh interpreter: other tests patch and restore globals, which moves them to the end.
    proc = run_python("from cellumo_master.python_server import lintora\n"
                      "print(' '.join(n for n in vars(lintora) if not n.startswith('__')))")
    assert proc.returncode == 0, proc.stderr
    assert proc.stdout.split() == [
        "ast", "importlib", "io", "logging", "os", "re", "sys", "tempfile",
        "Any", "Dict", "List", "Optional", "jedi",
        "pyflakes_api", "pyflakes_reporter", "PYFLAKES_AVAILABLE",
        "uris", "Config", "Workspace", "Document", "PYLSP_AVAILABLE",
        "setup_logging_subprocess", "get_logger", "logger",
        "JEDI_TO_MONACO_KIND", "MONACO_MARKER_SEVERITY_ERROR", "MONACO_MARKER_SEVERITY_WARNING",
        "PYFLAKES_MESSAGE_PATTERN", "IMPORT_ALIAS_PATTERN", "Lintora",
    ]
    import importlib.util
    import jedi
    import pyflakes.api
    from cellumo_master import logging_config

    assert lintora.importlib is importlib and lintora.importlib.util is importlib.util
    assert lintora.jedi is jedi and lintora.pyflakes_api is pyflakes.api
    assert lintora.get_logger is logging_config.get_logger
    assert lintora.setup_logging_subprocess is logging_config.setup_logging_subprocess
    assert lintora.PYFLAKES_AVAILABLE is True and lintora.PYLSP_AVAILABLE is True
    assert lintora.logger is logging.getLogger(NAME)


def test_constants(lintora):
    assert list(lintora.JEDI_TO_MONACO_KIND.items()) == [
        ("function", 1), ("class", 5), ("module", 7), ("property", 8), ("instance", 4),
        ("param", 4), ("statement", 4), ("keyword", 13), ("path", 17),
    ]
    assert lintora.MONACO_MARKER_SEVERITY_ERROR == 8 and lintora.MONACO_MARKER_SEVERITY_WARNING == 4
    for pattern in (lintora.PYFLAKES_MESSAGE_PATTERN, lintora.IMPORT_ALIAS_PATTERN):
        assert isinstance(pattern, re.Pattern) and pattern.flags == re.UNICODE
    assert lintora.PYFLAKES_MESSAGE_PATTERN.pattern == r"^(.+?):(\d+)(?::(\d+))?:\s*(.+)$"
    assert lintora.IMPORT_ALIAS_PATTERN.pattern == (
        r"^\s*(import\s+[\w.]+\s+as(\s+\w*)?|from\s+[\w.]+\s+import\s+[\w.]+\s+as(\s+\w*)?)$")


def test_class_shape(lintora):
    cls = lintora.Lintora
    assert cls.__bases__ == (object,) and cls.__module__ == NAME and cls.__qualname__ == "Lintora"
    methods = [n for n in vars(cls) if not n.startswith("__") or n == "__init__"]
    assert methods == [
        "__init__", "cleanup", "set_hover_mode", "update_sys_paths", "set_workspace", "sync_modules",
        "delete_module", "_is_module_name", "get_completions", "_get_word_prefix", "get_hover",
        "_format_compact_hover", "_get_type_description", "get_signature_help", "_format_signature",
        "get_diagnostics", "_run_pyflakes", "_parse_pyflakes_message", "_check_unresolved_imports",
        "_can_resolve_import", "set_known_globals",
    ]
    assert cls.get_hover.__qualname__ == "Lintora.get_hover"
    # A subclass overrides methods that the requests call through self.
    class Sub(cls):
        def _format_signature(self, signature):
            return "(patched)"

    s = Sub()
    try:
        result = s.get_signature_help("def f(a, b): pass\nf(1, ", 2, 5)
        assert result["signatures"][0]["label"] == "f(patched)"
    finally:
        s.cleanup()


BLOCK = textwrap.dedent("""
    import sys
    sys.modules[{blocked!r}] = None
    import logging
    from cellumo_master.python_server import lintora
    print(lintora.PYFLAKES_AVAILABLE, lintora.PYLSP_AVAILABLE)
    print(sorted(n for n in ("pyflakes_api", "pyflakes_reporter", "uris", "Config", "Workspace", "Document")
                 if hasattr(lintora, n)))
    records = []
    class H(logging.Handler):
        def emit(self, record):
            records.append(record.getMessage())
    lintora.logger.addHandler(H()); lintora.logger.setLevel(logging.DEBUG)
    lsp = lintora.Lintora()
    print(records[0].split(", temp_dir")[0])
    result = lsp.get_diagnostics("import os\\nx = undefined_name\\n")
    print(result["error"], len(result["diagnostics"]))
    lsp.cleanup()
""")


@pytest.mark.parametrize("blocked,flags,names,init_line,diagnostics", [
    # Without pyflakes only the import check runs: os resolves, so nothing is reported.
    ("pyflakes", "False True", "['Config', 'Document', 'Workspace', 'uris']",
     "[LSP] Lintora initialized (pylsp_available=True, pyflakes_available=False", "None 0"),
    ("pylsp", "True False", "['pyflakes_api', 'pyflakes_reporter']",
     "[LSP] Lintora initialized (pylsp_available=False, pyflakes_available=True", "None 2"),
])
def test_without_an_optional_package(run_python, blocked, flags, names, init_line, diagnostics):
    proc = run_python(BLOCK.format(blocked=blocked))
    assert proc.returncode == 0, proc.stderr
    lines = proc.stdout.splitlines()
    assert lines[0] == flags
    assert lines[1] == names
    assert lines[2] == init_line
    assert lines[3] == diagnostics


def test_partial_probe_keeps_names_bound_before_the_failure(run_python):
    proc = run_python(BLOCK.format(blocked="pylsp.workspace"))
    assert proc.returncode == 0, proc.stderr
    lines = proc.stdout.splitlines()
    assert lines[0] == "True False"
    assert lines[1] == "['Config', 'pyflakes_api', 'pyflakes_reporter', 'uris']"


@pytest.mark.parametrize("blocked", ["jedi", "cellumo_master.logging_config"])
def test_required_imports_fail_the_import_and_leave_nothing_behind(run_python, blocked):
    proc = run_python(textwrap.dedent(f"""
        import sys
        saved = sys.modules.get({blocked!r})
        sys.modules[{blocked!r}] = None
        try:
            from cellumo_master.python_server import lintora
        except ImportError as e:
            print("ImportError")
        assert "cellumo_master.python_server.lintora" not in sys.modules
        if saved is None:
            del sys.modules[{blocked!r}]
        else:
            sys.modules[{blocked!r}] = saved
        from cellumo_master.python_server import lintora
        print(lintora.Lintora.__name__)
    """))
    assert proc.returncode == 0, proc.stderr
    assert proc.stdout.split() == ["ImportError", "Lintora"]


def test_unexpected_probe_error_fails_the_import(run_python):
    proc = run_python(textwrap.dedent("""
        import sys, types
        class Boom(types.ModuleType):
            def __getattr__(self, name):
                raise RuntimeError("probe exploded")
        sys.modules["pylsp"] = Boom("pylsp")
        try:
            from cellumo_master.python_server import lintora
        except RuntimeError as e:
            print("RuntimeError", e)
    """))
    assert proc.returncode == 0, proc.stderr
    assert proc.stdout.strip() == "RuntimeError probe exploded"
