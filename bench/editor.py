"""Editor services on real buffers: p50 and p95 of each request, against the library calls the
request must make (the floor) and against python-lsp-server's plugins (the alternative).

Once jedi has loaded pandas the heap holds hundreds of thousands of objects and one full
collection costs a good part of a second, which would land on whichever sample it hit. So the
heap built by warm-up is frozen (gc.freeze) before sampling and every sample runs with the
collector paused after a collection; what a kernel gains from freezing is reported on its own.
"""
import gc
import time

from cellumo_master.python_server.lintora import Lintora

from . import buffers, editor_floor, editor_names
from .editor_pylsp import Pylsp
from .report import Row, ratio_row
from .timing import compare, fmt_seconds, median, percentile

SIZES = {"full": (25, 1), "quick": (9, 1), "smoke": (2, 1)}


def _candidates(lt, lsp, buf):
    """request -> {candidate: fn}; each fn answers the same request on the same buffer."""
    code, project, temp = buf.code, lt._jedi_project, lt._temp_dir.name
    every = {
        "get_completions": {
            "lintora": lambda: lt.get_completions(code, *buf.completion),
            "floor": lambda: editor_floor.completions(project, code, *buf.completion),
            "pylsp": lambda: lsp.completions(code, *buf.completion),
        },
        "get_hover": {
            "lintora": lambda: lt.get_hover(code, *buf.hover),
            "floor": lambda: editor_floor.hover(project, code, *buf.hover),
            "pylsp": lambda: lsp.hover(code, *buf.hover),
        },
        "get_signature_help": {
            "lintora": lambda: lt.get_signature_help(code, *buf.signature),
            "floor": lambda: editor_floor.signature_help(project, code, *buf.signature),
            "pylsp": lambda: lsp.signature_help(code, *buf.signature),
        },
        "get_diagnostics": {
            "lintora": lambda: lt.get_diagnostics(code),
            "floor": lambda: editor_floor.diagnostics(code, temp),
            "pylsp": lambda: lsp.diagnostics(code),
        },
    }
    return {request: every[request] for request in buf.requests}


def _check(request, fns):
    """The product and the floor must find the same things before their times mean anything."""
    ours, floor = fns["lintora"](), fns["floor"]()
    if ours.get("error") is not None:
        raise AssertionError(f"{request} failed: {ours['error']}")
    found = {
        "get_completions": lambda: len(ours["completions"]) == len(floor) > 0,
        "get_hover": lambda: ours["contents"] is not None and bool(floor),
        "get_signature_help": lambda: len(ours["signatures"]) == 1 and floor is not None,
        "get_diagnostics": lambda: len(ours["diagnostics"]) == _floor_markers(*floor),
    }[request]()
    if not found:
        raise AssertionError(f"{request}: the product and the floor disagree")


class _Pauses:
    """Times every collection the interpreter runs on its own, by generation."""

    def __init__(self):
        self.seconds = {0: 0.0, 1: 0.0, 2: 0.0}
        self.count = {0: 0, 1: 0, 2: 0}
        self._start = 0.0

    def __call__(self, phase, info):
        if phase == "start":
            self._start = time.perf_counter()
        else:
            gen = info["generation"]
            self.seconds[gen] += time.perf_counter() - self._start
            self.count[gen] += 1


def _floor_markers(warnings, errors, unresolved):
    from cellumo_master.python_server import lintora

    lines = (warnings + errors).splitlines()
    return sum(1 for line in lines if lintora.PYFLAKES_MESSAGE_PATTERN.match(line.strip())) + len(unresolved)


def _gc_gain(fn, runs):
    """What freezing the warmed-up heap buys a kernel: the cost of one full collection, and the
    request with the collector running as usual (its p50, p95 and the time spent in the
    collections it triggered), before and after gc.freeze()."""
    def full_collection():
        t = time.perf_counter()
        gc.collect()
        return time.perf_counter() - t

    def natural(n):
        times = []
        pauses = _Pauses()
        gc.callbacks.append(pauses)
        try:
            for _ in range(n):
                t = time.perf_counter()
                fn()
                times.append(time.perf_counter() - t)
        finally:
            gc.callbacks.remove(pauses)
        return times, pauses

    gc.unfreeze()
    gc.collect()
    objects = len(gc.get_objects())
    before = median([full_collection() for _ in range(3)])
    thawed = natural(runs)
    gc.freeze()
    after = median([full_collection() for _ in range(3)])
    frozen = natural(runs)
    return objects, before, after, thawed, frozen


def _natural_text(label, times, pauses):
    collected = sum(pauses.seconds.values())
    return (f"{label}: p50 {fmt_seconds(median(times))}, p95 {fmt_seconds(percentile(times, 0.95))}, "
            f"{pauses.count[2]} full collections, {fmt_seconds(collected / len(times))} collecting per request")


def run(size="full"):
    repeat, number = SIZES[size]
    lt = Lintora()
    lsp = Pylsp()
    rows = []
    try:
        for buf in buffers.buffers(size):
            cands = _candidates(lt, lsp, buf)
            for request, fns in cands.items():
                _check(request, fns)
                for fn in fns.values():
                    fn()
            gc.collect()
            gc.freeze()
            for request in cands:
                samples = compare(cands[request], repeat=repeat, number=number, warmup=1)
                p50 = {k: median(v) for k, v in samples.items()}
                p95 = {k: percentile(v, 0.95) for k, v in samples.items()}
                section = f"6 {request}, {buf.name}"
                rows.append(ratio_row(
                    section, "p50 lintora / floor", p50["lintora"] / p50["floor"], 1.05,
                    context=f"p50 {fmt_seconds(p50['lintora'])} vs {fmt_seconds(p50['floor'])}"))
                rows.append(ratio_row(
                    section, "p95 lintora / floor", p95["lintora"] / p95["floor"],
                    context=f"p95 {fmt_seconds(p95['lintora'])} vs {fmt_seconds(p95['floor'])}"))
                rows.append(ratio_row(
                    section, "p50 lintora / pylsp", p50["lintora"] / p50["pylsp"],
                    context=f"pylsp p50 {fmt_seconds(p50['pylsp'])}, p95 {fmt_seconds(p95['pylsp'])}"))
            gc.unfreeze()
        # The heaviest request on the heaviest heap shows best what freezing is worth.
        heaviest = [b for b in buffers.buffers(size) if "get_completions" in b.requests][-1]
        heavy = _candidates(lt, lsp, heaviest)["get_completions"]["lintora"]
        objects, before, after, thawed, frozen = _gc_gain(heavy, max(repeat, 5))
        section = "6 gc.freeze() after warm-up"
        rows.append(Row(section, "one full collection",
                        f"{fmt_seconds(before)} -> {fmt_seconds(after)} ({objects:,} objects tracked)"))
        figure = f"{len(thawed[0])} get_completions (heaviest buffer), collector on"
        rows.append(Row(section, figure, _natural_text("not frozen", *thawed)))
        rows.append(Row(section, figure, _natural_text("frozen", *frozen)))
    finally:
        gc.unfreeze()
        lsp.close()
        lt.cleanup()
    return rows + editor_names.run(size)
