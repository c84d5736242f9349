"""Interleaved timing: medians over repeated runs, with the collector paused while sampling."""
import gc
import random
import statistics
import time


def _sample(fn, number):
    # Results are kept until the clock stops: freeing them (for proxies, their finalisers) is
    # not the work being measured.
    kept = []
    keep = kept.append
    start = time.perf_counter()
    for _ in range(number):
        keep(fn())
    elapsed = time.perf_counter() - start
    del kept
    return elapsed / number


def compare(candidates, *, repeat=15, number=1, warmup=2):
    """Times each callable of `candidates` (name -> fn) `repeat` times, round-robin.

    Runs are interleaved so that drift of the machine (another process, frequency changes) lands
    on every candidate alike, in a new order each round so that none always follows the same
    one. Returns name -> list of per-call seconds. The collector is collected before and disabled
    during each sample, so one candidate's garbage is not charged to another.
    """
    for fn in candidates.values():
        for _ in range(warmup):
            fn()
    samples = {name: [] for name in candidates}
    order = list(candidates.items())
    shuffle = random.Random(len(order)).shuffle
    was_enabled = gc.isenabled()
    try:
        for _ in range(repeat):
            # Whoever runs right after a candidate doing the same work finds the caches warm;
            # a new order each round keeps that advantage from going always to the same one.
            shuffle(order)
            for name, fn in order:
                gc.collect()
                gc.disable()
                try:
                    samples[name].append(_sample(fn, number))
                finally:
                    gc.enable()
    finally:
        if not was_enabled:
            gc.disable()
    return samples


def median(values):
    return statistics.median(values)


def percentile(values, q):
    ordered = sorted(values)
    if not ordered:
        return float("nan")
    k = (len(ordered) - 1) * q
    lo = int(k)
    hi = min(lo + 1, len(ordered) - 1)
    return ordered[lo] + (ordered[hi] - ordered[lo]) * (k - lo)


def fmt_seconds(s):
    if s >= 1:
        return f"{s:.2f} s"
    if s >= 1e-3:
        return f"{s * 1e3:.2f} ms"
    if s >= 1e-6:
        return f"{s * 1e6:.2f} us"
    return f"{s * 1e9:.0f} ns"
