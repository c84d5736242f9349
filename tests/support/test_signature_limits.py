"""Limits of the shared argument rule that the compiler enforces: a signature never declares more
parameters than the parsed-argument store holds."""
import os
import shutil
import subprocess
import sysconfig

import pytest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
COMPILER = os.environ.get("CXX") or shutil.which("g++") or shutil.which("c++")


def compile_signature(tmp_path, count):
    params = ", ".join(["{\"self\"}"] + [f"{{\"p{i}\"}}" for i in range(1, count)])
    source = tmp_path / "signature.cpp"
    source.write_text(
        '#include "support/args.hpp"\n'
        f'const support::Signature sig("f", {{{params}}});\n'
    )
    return subprocess.run(
        [COMPILER, "-std=c++17", "-fsyntax-only", "-I", os.path.join(ROOT, "src"),
         "-I", sysconfig.get_paths()["include"], str(source)],
        capture_output=True, text=True, timeout=300,
    )


@pytest.mark.skipif(COMPILER is None, reason="no C++ compiler on PATH")
def test_a_ninth_parameter_does_not_compile(tmp_path):
    assert compile_signature(tmp_path, 8).returncode == 0
    refused = compile_signature(tmp_path, 9)
    assert refused.returncode != 0
    assert "at most kMaxParams parameters" in refused.stderr
