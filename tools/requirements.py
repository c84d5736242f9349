"""Prints the requirements of the project, plus the named extras, one per line.

The virtual environment gets the dependencies from here without building the package, so the
extensions themselves are built by CMake alone and a C++ change never reinstalls numpy or pandas.
"""
import sys
import tomllib
from pathlib import Path

project = tomllib.loads((Path(__file__).resolve().parent.parent / "pyproject.toml").read_text())["project"]
reqs = list(project["dependencies"])
for extra in sys.argv[1:]:
    reqs += project["optional-dependencies"][extra]
print("\n".join(dict.fromkeys(reqs)))
