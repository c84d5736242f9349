"""Benchmarks that measure each hot path side by side with its floor and its alternative.

Run with `make bench` (or `python -m bench [--quick] [section ...]`). Every figure is a median
over repeated, interleaved runs after warm-up, and every verdict is a ratio measured in the same
run; absolute times are printed only as context.
"""
import os
import sys
from pathlib import Path


def _add_floor_path():
    # The floor module is staged next to the package by the release build (never shipped).
    import cellumo_master

    here = Path(cellumo_master.__file__).resolve().parent.parent / "_bench"
    if here.is_dir() and str(here) not in sys.path:
        sys.path.insert(0, str(here))


_add_floor_path()
del os
