"""The staged dev tree that `make build` lays out is the installed package: the extensions where
the kernel imports them from, and every file of python/cellumo_master (stubs and data files
included), so that the tests see what a wheel would ship."""
import os
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
PACKAGE = ROOT / "python" / "cellumo_master"


def package_files():
    """Paths, relative to python/, of the files the package ships."""
    return sorted(str(p.relative_to(PACKAGE.parent)) for p in PACKAGE.rglob("*")
                  if p.is_file() and "__pycache__" not in p.parts and p.suffix != ".pyc")


@pytest.fixture
def stage():
    where = os.environ.get("CELLUMO_STAGE")
    if not where:
        pytest.skip("needs the staged build (CELLUMO_STAGE, set by make test)")
    return Path(where)


def test_stage_holds_every_package_file_unchanged(stage):
    files = package_files()
    assert "cellumo_master/python_server/stubs/README" in files
    for name in files:
        staged = stage / name
        assert staged.is_file(), f"{name} is not in the staged tree"
        assert staged.read_bytes() == (PACKAGE.parent / name).read_bytes(), f"{name} is stale in the stage"


def test_extensions_sit_where_the_kernel_imports_them(stage):
    import cellumo_master.python_server.cellumo.ostrel as ostrel
    import cellumo_master.python_server.lintora as lintora

    assert Path(ostrel.__file__).parent == stage / "cellumo_master" / "python_server" / "cellumo"
    assert Path(lintora.__file__).parent == stage / "cellumo_master" / "python_server"
