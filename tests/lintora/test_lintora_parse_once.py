"""A diagnostics request parses the buffer once for the syntax check and the import check, and the
import check still parses whatever else it is given."""
import textwrap


def test_one_request_parses_the_buffer_once_besides_pyflakes(run_python):
    # Counted through the interpreter's own audit event for every compile; pyflakes parses the
    # buffer once more inside its check, as it must.
    proc = run_python(textwrap.dedent("""
        import sys
        from cellumo_master.python_server import lintora
        code = "import zz_not_installed_anywhere as z\\nimport os\\nprint(z, os.sep)\\n"
        seen = []
        sys.addaudithook(lambda event, args: event == "compile" and args[0] == code.encode() and seen.append(args[1]))
        result = lintora.Lintora().get_diagnostics(code, "util")
        assert result["error"] is None, result
        assert [d["message"] for d in result["diagnostics"]] == [
            "import 'zz_not_installed_anywhere' could not be resolved"], result
        print(len(seen))
    """))
    assert proc.returncode == 0, proc.stderr
    assert proc.stdout.split() == ["2"]


def test_import_check_given_other_code_parses_that_code(lintora):
    class Checked(lintora.Lintora):
        def _check_unresolved_imports(self, code, module_name=None):
            return super()._check_unresolved_imports(code + "\nimport zz_added_by_override\n", module_name)

    lsp = Checked()
    try:
        result = lsp.get_diagnostics("import os\nprint(os.sep)\n")
    finally:
        lsp.cleanup()
    assert [d["message"] for d in result["diagnostics"]] == ["import 'zz_added_by_override' could not be resolved"]

