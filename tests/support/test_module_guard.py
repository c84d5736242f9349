"""The single-initialisation guard, seen through both extension modules in fresh interpreters."""
import textwrap

import pytest

MODULES = {
    "ostrel": "cellumo_master.python_server.cellumo.ostrel",
    "lintora": "cellumo_master.python_server.lintora",
}


@pytest.mark.parametrize("short,name", MODULES.items())
def test_reimport_and_reload_give_the_same_object(run_python, short, name):
    proc = run_python(textwrap.dedent(f"""
        import importlib, sys
        import {name} as first
        first.marker = 42
        del sys.modules[{name!r}]
        import {name} as second
        assert second is first and second.marker == 42
        assert importlib.reload(first) is first and first.marker == 42
        print("ok")
    """))
    assert proc.returncode == 0, proc.stderr
    assert proc.stdout.strip() == "ok"


@pytest.mark.parametrize("short,name", MODULES.items())
def test_initialising_another_module_object_is_refused(run_python, short, name):
    # Executes the module definition on a second, fresh module object, as an embedding host
    # that tried to initialise the extension twice would.
    proc = run_python(textwrap.dedent(f"""
        import ctypes, types
        import {name} as mod
        api = ctypes.pythonapi
        api.PyModule_GetDef.restype = ctypes.c_void_p
        api.PyModule_GetDef.argtypes = [ctypes.py_object]
        api.PyModule_ExecDef.argtypes = [ctypes.py_object, ctypes.c_void_p]
        api.PyModule_ExecDef.restype = ctypes.c_int
        other = types.ModuleType({short!r})
        try:
            api.PyModule_ExecDef(other, api.PyModule_GetDef(mod))
        except RuntimeError as e:
            print(type(e).__name__, e)
    """))
    assert proc.returncode == 0, proc.stderr
    assert proc.stdout.strip() == (
        f"RuntimeError Module '{short}' has already been imported. Re-initialisation is not supported.")


@pytest.mark.parametrize("short,name", MODULES.items())
def test_second_interpreter_is_refused(run_python, short, name):
    proc = run_python(textwrap.dedent(f"""
        import _interpreters
        import {name}
        interp = _interpreters.create("legacy")
        err = _interpreters.exec(interp, "import {name}")
        print(err.type.__name__, err.msg)
    """))
    assert proc.returncode == 0, proc.stderr
    assert proc.stdout.strip() == ("ImportError Interpreter change detected - this module can only be "
                                   "loaded into one interpreter per process.")
