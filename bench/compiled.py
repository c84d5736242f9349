"""The plain-Python baseline (bench/baseline.py) compiled by Cython 3: what a decoder written in
Python gains from a compiler that keeps its rules as they are. Built once per source into
build/bench-cython/ with the C compiler Python was built with; None, with the reason, when Cython
(the bench extra) or a compiler is missing."""
import hashlib
import importlib.util
import shlex
import subprocess
import sys
import sysconfig
from pathlib import Path

HERE = Path(__file__).resolve().parent
SOURCE = HERE / "baseline.py"
CACHE = HERE.parent / "build" / "bench-cython"
NAME = "_baseline_cython"


def _build(out):
    out.mkdir(parents=True, exist_ok=True)
    pyx, c_file = out / f"{NAME}.py", out / f"{NAME}.c"
    pyx.write_text(SOURCE.read_text())
    subprocess.run([sys.executable, "-m", "cython", "-3", str(pyx), "-o", str(c_file)],
                   check=True, capture_output=True, text=True)
    cc = shlex.split(sysconfig.get_config_var("CC") or "cc")
    include = sysconfig.get_paths()["include"]
    target = out / (NAME + sysconfig.get_config_var("EXT_SUFFIX"))
    subprocess.run(cc + ["-shared", "-fPIC", "-O2", "-I", include, str(c_file), "-o", str(target)],
                   check=True, capture_output=True, text=True)


def load():
    """(module, Cython version) or (None, why not)."""
    if importlib.util.find_spec("Cython") is None:
        return None, "Cython is not installed (pip install -e '.[bench]')"
    import Cython

    digest = hashlib.sha256(SOURCE.read_bytes() + Cython.__version__.encode()).hexdigest()[:16]
    out = CACHE / digest
    target = out / (NAME + sysconfig.get_config_var("EXT_SUFFIX"))
    if not target.exists():
        try:
            _build(out)
        except (OSError, subprocess.CalledProcessError) as e:
            detail = getattr(e, "stderr", "") or str(e)
            last = (detail.strip().splitlines() or ["no output"])[-1]
            return None, "the Cython build failed: " + last[:200]
    spec = importlib.util.spec_from_file_location(NAME, target)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module, Cython.__version__
