"""Lintora's life cycle: construction, cleanup, settings, and the temporary module directory."""
import os

import pytest


def test_construction(lintora, logs):
    lsp = lintora.Lintora()
    try:
        attrs = vars(lsp)
        assert list(attrs) == ["_workspace_path", "_temp_dir", "_python_server_path", "_stubs_path",
                               "_jedi_project", "_hover_mode"]
        assert lsp._workspace_path is None and lsp._hover_mode == "compact"
        temp = lsp._temp_dir.name
        assert os.path.isdir(temp) and os.listdir(temp) == []
        assert lsp._python_server_path == os.path.dirname(os.path.abspath(lintora.__file__))
        assert lsp._stubs_path == os.path.join(lsp._python_server_path, "stubs")
        assert os.path.isdir(lsp._stubs_path)  # ships with the package
        assert str(lsp._jedi_project.path) == temp
        assert [str(p) for p in lsp._jedi_project.added_sys_path] == [lsp._stubs_path]
        assert logs.lines == [("INFO", (
            f"[LSP] Lintora initialized (pylsp_available=True, pyflakes_available=True, temp_dir={temp}, "
            f"python_server={lsp._python_server_path}, stubs={lsp._stubs_path})"))]
    finally:
        lsp.cleanup()


def test_cleanup(lintora, logs):
    lsp = lintora.Lintora()
    temp = lsp._temp_dir.name
    lsp.sync_modules({"a": "x = 1"})
    logs.clear()
    assert lsp.cleanup() is None
    assert lsp._temp_dir is None and not os.path.exists(temp)
    assert logs.lines == [("INFO", "[LSP] Cleaned up temporary directory")]
    logs.clear()
    assert lsp.cleanup() is None and logs.lines == []
    # After cleanup the module directory is gone: writing raises, deleting raises, requests that
    # name a module report the error, and the project is rebuilt with path=None inside the guard
    # (whether jedi accepts that depends on its release; either way nothing is raised).
    with pytest.raises(AttributeError):
        lsp.sync_modules({"a": "x = 1"})
    with pytest.raises(AttributeError):
        lsp.delete_module("a")
    assert lsp.sync_modules({}) is None
    result = lsp.get_hover("x = 1\nx", 2, 0, "mod")
    assert result["contents"] is None and "NoneType" in result["error"]
    assert lsp.get_hover("x = 1\nx", 2, 0)["error"] is None
    logs.clear()
    assert lsp.update_sys_paths([]) is None
    level, message = logs.lines[-1]
    assert (level == "INFO" and message.startswith("[LSP] Updated jedi project with 2 total paths")) or (
        level == "ERROR" and message.startswith("[LSP] Failed to update sys paths: "))


def test_cleanup_failure_still_lets_go(lintora, logs):
    class Failing:
        def cleanup(self):
            raise OSError("busy")

    class Interrupting:
        def cleanup(self):
            raise KeyboardInterrupt

    lsp = lintora.Lintora()
    real = lsp._temp_dir
    try:
        lsp._temp_dir = Failing()
        assert lsp.cleanup() is None and lsp._temp_dir is None
        assert logs.lines[-1] == ("WARNING", "[LSP] Failed to cleanup temporary directory: busy")
        lsp._temp_dir = Interrupting()
        with pytest.raises(KeyboardInterrupt):
            lsp.cleanup()
        assert lsp._temp_dir is None
    finally:
        real.cleanup()


def test_hover_mode(lsp, logs):
    lsp.set_hover_mode("verbose 100%")
    assert lsp._hover_mode == "compact"
    assert logs.lines == [("WARNING", "[LSP] Invalid hover mode 'verbose 100%', keeping current: compact")]
    assert logs.records[0].args == ()
    logs.clear()
    lsp.set_hover_mode("detailed")
    assert lsp._hover_mode == "detailed"
    assert logs.lines == [("INFO", "[LSP] Hover mode set to: detailed")]


def test_update_sys_paths(lsp, logs):
    extra = "/opt/site-packages"
    lsp.update_sys_paths([extra, lsp._stubs_path, extra])
    paths = [str(p) for p in lsp._jedi_project.added_sys_path]
    assert paths == [lsp._stubs_path, lsp._python_server_path, extra]
    assert str(lsp._jedi_project.path) == lsp._temp_dir.name
    assert logs.lines == [("INFO", f"[LSP] Updated jedi project with 3 total paths (3 package paths, "
                                   f"stubs path: {lsp._stubs_path})")]


def test_update_sys_paths_failure_keeps_old_project(lintora, lsp, logs, monkeypatch):
    old = lsp._jedi_project

    class Jedi:
        def Project(self, **kwargs):
            raise RuntimeError("no project")

    monkeypatch.setattr(lintora, "jedi", Jedi())
    assert lsp.update_sys_paths(["/x"]) is None
    assert lsp._jedi_project is old
    record = logs.records[-1]
    assert (record.levelname, record.getMessage()) == ("ERROR", "[LSP] Failed to update sys paths: no project")
    assert record.exc_info and record.exc_info[0] is RuntimeError


def test_set_workspace(lsp, logs):
    project = lsp._jedi_project
    lsp.set_workspace("/home/u/ws")
    assert lsp._workspace_path == "/home/u/ws" and lsp._jedi_project is project
    assert logs.lines == [("INFO", "[LSP] Workspace path recorded: /home/u/ws (using temp_dir for jedi.Project)")]


def read_dir(lsp):
    root = lsp._temp_dir.name
    return {name: open(os.path.join(root, name), encoding="utf-8").read() for name in sorted(os.listdir(root))}


def test_sync_modules(lsp, logs):
    lsp.sync_modules({"a": "x = 1", "b": "y = 2"}, {"a": "x = 3", "c": "z = 0"})
    assert read_dir(lsp) == {"a.py": "x = 3", "b.py": "y = 2", "c.py": "z = 0"}
    root = lsp._temp_dir.name
    assert logs.lines == [("DEBUG", f"[LSP] Synced module '{n}' to {os.path.join(root, n + '.py')}") for n in "abc"]
    lsp.sync_modules({}, {"d": "ü = 'λ'"})
    lsp.sync_modules({"pkg.mod": "v = 1"}, None)
    lsp.sync_modules({})
    files = read_dir(lsp)
    assert files["d.py"] == "ü = 'λ'" and files["pkg.mod.py"] == "v = 1" and len(files) == 5


def test_sync_skips_bad_text_and_formats_keys(lsp, logs):
    assert lsp.sync_modules({"bad": 42, 7: "n = 7", "good": "g = 1"}) is None
    files = read_dir(lsp)
    assert files["7.py"] == "n = 7" and files["good.py"] == "g = 1"
    warnings = logs.messages("WARNING")
    assert len(warnings) == 1 and warnings[0].startswith("[LSP] Failed to sync module 'bad': ")


def test_delete_module(lsp, logs):
    lsp.sync_modules({"a": "x = 1", "b": "y = 2"})
    logs.clear()
    assert lsp.delete_module("a") is None
    assert lsp.delete_module("missing") is None
    assert list(read_dir(lsp)) == ["b.py"]
    assert logs.lines == [("DEBUG", "[LSP] Deleted module file 'a'")]


def test_delete_failure_is_a_warning(lsp, logs):
    os.mkdir(os.path.join(lsp._temp_dir.name, "d.py"))
    assert lsp.delete_module("d") is None
    assert logs.messages("WARNING")[0].startswith("[LSP] Failed to delete module file 'd': ")


UNSAFE = ["", "/etc/cron", "../escape", "..", ".", "..hidden", "sub/mod", "sub\\mod", "nul\0byte",
          os.path.join("..", "x")]


def test_unsafe_names_never_touch_files_outside(lsp, logs, tmp_path):
    # A victim file beside and above the module directory: no name may write or remove it.
    root = lsp._temp_dir.name
    parent = os.path.dirname(root)
    outside = tmp_path / "victim.py"
    outside.write_text("keep")
    before_parent = set(os.listdir(parent))
    names = UNSAFE + [str(tmp_path / "victim")]
    lsp.sync_modules({name: "owned = True" for name in names} | {"fine": "ok = 1", "pkg.mod": "ok = 2"})
    assert sorted(os.listdir(root)) == ["fine.py", "pkg.mod.py"]
    assert outside.read_text() == "keep"
    assert set(os.listdir(parent)) - before_parent == set()
    warnings = logs.messages("WARNING")
    assert len(warnings) == len(names)
    assert all(w.startswith("[LSP] Failed to sync module '") for w in warnings)
    logs.clear()
    for name in names:
        assert lsp.delete_module(name) is None
    assert outside.read_text() == "keep"
    assert len(logs.messages("WARNING")) == len(names)
    assert all(w.startswith("[LSP] Failed to delete module file '") for w in logs.messages("WARNING"))


@pytest.mark.parametrize("path,expected", [
    ("", False), ("mod.py", False), ("a.b", False), ("dir/mod", False), ("dir\\mod", False),
    ("<editor>", False), (".hidden", False), ("2abc", False),
    ("mod", True), ("_private", True), ("λ", True), ("class", True),
])
def test_is_module_name(lsp, path, expected):
    assert lsp._is_module_name(path) is expected


def test_argument_rule(lintora, lsp, logs):
    class S(str):
        pass

    with pytest.raises(TypeError) as e:
        lsp.set_hover_mode(None)
    assert str(e.value) == "Argument 'mode' has incorrect type (expected str, got NoneType)"
    with pytest.raises(TypeError) as e:
        lsp.set_hover_mode(S("compact"))
    assert e.value.__notes__
    with pytest.raises(TypeError, match=r"^update_sys_paths\(\) takes exactly 2 positional arguments \(1 given\)$"):
        lsp.update_sys_paths()
    with pytest.raises(TypeError, match=r"^sync_modules\(\) takes at most 3 positional arguments \(4 given\)$"):
        lsp.sync_modules({}, {}, {})
    with pytest.raises(TypeError, match=r"^get_completions\(\) takes at least 4 positional arguments \(2 given\)$"):
        lsp.get_completions("x")
    with pytest.raises(TypeError, match=r"^get_hover\(\) got an unexpected keyword argument 'col'$"):
        lsp.get_hover("x", 1, 0, col=0)
    with pytest.raises(TypeError, match=r"^get_diagnostics\(\) got multiple values for keyword argument 'code'$"):
        lsp.get_diagnostics("x", code="y")
    with pytest.raises(TypeError, match=r"^Argument 'code' has incorrect type \(expected str, got int\)$"):
        lsp.get_diagnostics(1)
    with pytest.raises(TypeError, match=r"^Argument 'module_name' has incorrect type \(expected str, got int\)$"):
        lsp.get_diagnostics("x", 1)
    with pytest.raises(TypeError, match=r"^Argument 'line' has incorrect type \(expected int, got str\)$"):
        lsp.get_signature_help("x", "1", 0)
    with pytest.raises(TypeError, match=r"^Argument 'modules' has incorrect type \(expected dict, got list\)$"):
        lsp.get_completions("x", 1, 0, None, [])
    with pytest.raises(TypeError, match=r"^_format_signature\(\) takes exactly 2 positional arguments"):
        lsp._format_signature()
    with pytest.raises(TypeError, match=r"^__init__\(\) takes exactly 1 positional argument \(2 given\)$"):
        lintora.Lintora(1)
    # Nothing ran: no request line, no file.
    assert logs.lines == [] and os.listdir(lsp._temp_dir.name) == []
    # Keywords and number conversion.
    assert lsp.get_completions(code="x = 1\n", line=1.9, column=0)["error"] is None
    assert lsp._get_word_prefix(code="ab", line=True, column=2.5) == "ab"


def test_discarded_instance_removes_its_directory(lintora):
    import gc

    lsp = lintora.Lintora()
    lsp.sync_modules({"a": "x = 1"})
    root = lsp._temp_dir.name
    del lsp
    gc.collect()
    assert not os.path.exists(root)
