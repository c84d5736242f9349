"""Sizes and figures for the attack suites. `make test` runs them reduced and reproducible;
`make stress` sets CELLUMO_STRESS=full for the full size. Every suite reads its counts from
`size`. (A module of its own name: other test directories have a conftest of their own.)"""
import gc
import os
import sys
import tracemalloc

from hypothesis import HealthCheck, settings

FULL = os.environ.get("CELLUMO_STRESS") == "full"
# Under the sanitizers (make asan) every allocation goes through malloc and freed memory sits in
# ASan's quarantine, so traced-memory and RSS figures say nothing about leaks there: the leak
# suites still run every operation (for the sanitizers to watch) but do not judge the figures.
SANITIZED = os.environ.get("CELLUMO_SANITIZED") == "1"

# Bound for every join and wait in these suites; none should come near it.
WAIT = 120.0 if FULL else 60.0

settings.register_profile(
    "attack-ci", max_examples=400, derandomize=True, deadline=None, database=None,
    suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large, HealthCheck.function_scoped_fixture])
settings.register_profile(
    "attack-full", max_examples=5000, deadline=None, database=None,
    suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large, HealthCheck.function_scoped_fixture])
ATTACK_SETTINGS = settings.get_profile("attack-full" if FULL else "attack-ci")


def size(ci, full):
    """The count for this run."""
    return full if FULL else ci


def report(name, **figures):
    """Figures of a run, printed so that `pytest -s` (and the stress log) shows them."""
    line = " ".join(f"{k}={v}" for k, v in figures.items())
    print(f"\n[attack] {name}: {line}", file=sys.__stderr__, flush=True)


def growth(op, rounds, warmup):
    """Traced bytes kept per call of `op`, measured over two runs of `rounds` calls after
    `warmup` calls (the smaller run counts, so that a cache that fills once does not)."""
    for _ in range(warmup):
        op()
    gc.collect()
    tracemalloc.start()
    try:
        results = []
        for _ in range(2):
            gc.collect()
            before = tracemalloc.get_traced_memory()[0]
            for _ in range(rounds):
                op()
            gc.collect()
            results.append((tracemalloc.get_traced_memory()[0] - before) / rounds)
    finally:
        tracemalloc.stop()
    return min(results)
