"""The benchmarks at tiny sizes, so they cannot rot: every section runs, every candidate agrees
with the others, and the table carries every figure. Nothing here looks at a time."""
import importlib.util
import os
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT))

import bench  # noqa: E402  (puts the floor module on the path)

pytestmark = pytest.mark.skipif(importlib.util.find_spec("_floor") is None,
                                reason="the benchmark floor module is built by `make build` only")


@pytest.fixture(scope="module")
def table(tmp_path_factory):
    out = tmp_path_factory.mktemp("bench") / "RESULTS.md"
    proc = subprocess.run([sys.executable, "-m", "bench", "--smoke", "--out", str(out)], cwd=ROOT,
                          capture_output=True, text=True, timeout=300, env=dict(os.environ))
    assert proc.returncode == 0, proc.stderr
    return out.read_text()


def _rows(table):
    return [line.split(" | ") for line in table.splitlines() if line.startswith("| ") and line.count(" | ") == 4]


def test_every_figure_is_in_the_table(table):
    figures = {(cells[0].lstrip("| "), cells[1]) for cells in _rows(table)}
    sections = {s for s, _ in figures}
    for prefix in ("1 encode", "2 encode DataFrame", "3 decode", "4 proxy op, sync", "4 proxy op, listener",
                   "5 throughput", "6 get_completions", "6 get_hover", "6 get_signature_help",
                   "6 get_diagnostics", "6 gc.freeze", "6 warm get_completions", "7 memory",
                   "8 Excel API get_completions", "8 Excel API get_hover",
                   "8 Excel API get_signature_help", "9 playground", "10 round trips", "11 playground runs"):
        assert any(s.startswith(prefix) for s in sections), prefix
    # Both tables of the encoder and decoder, and p50, p95 and the alternative for every request.
    assert sum(s.startswith("1 encode") and f == "to_wire / floor" for s, f in figures) == 2
    assert sum(s.startswith("3 decode") and f == "from_wire / floor" for s, f in figures) == 2
    assert sum(f == "p50 lintora / floor" for _, f in figures) == 4
    assert sum(f == "p50 lintora / pylsp" for _, f in figures) == 4


def test_targets_carry_a_verdict_and_the_machine_is_recorded(table):
    for cells in _rows(table)[1:]:
        target, verdict = cells[3], cells[4].rstrip(" |")
        assert (target == "report") == (verdict == "-"), cells
        assert verdict in ("met", "NOT MET", "-"), cells
    for fact in ("| cpu |", "| python |", "| numpy |", "| pandas |", "| jedi |", "| pyflakes |",
                 "| python-lsp-server |"):
        assert fact in table


def test_correctness_figures_hold_even_at_smoke_size(table):
    # These are not timings: a lost or crossed response, or a waiter left behind, is a fault.
    verdicts = {cells[1]: cells[4].rstrip(" |") for cells in _rows(table)}
    assert verdicts["lost or crossed responses"] == "met"
    assert verdicts["requests left waiting"] == "met"


def test_percentile_interpolates_between_ranks():
    from bench.timing import percentile

    assert percentile([5.0], 0.95) == 5.0
    assert percentile([1.0, 2.0, 3.0, 4.0, 5.0], 0.5) == 3.0
    assert percentile([4.0, 1.0, 3.0, 2.0], 0.95) == pytest.approx(3.85)
    assert percentile(list(range(101)), 0.95) == 95


def test_floors_build_what_the_candidates_build():
    # The floors are only worth comparing with if they produce the same values.
    import datetime as dt

    import _floor
    from bench import baseline, tables
    from cellumo_master.python_server.cellumo import ostrel

    rows = tables.mixed_table(7, 6)
    assert _floor.encode_table(rows, tables.tags_of(rows)) == baseline.to_wire(rows)
    wire = tables.with_ids(baseline.to_wire(rows), 40)
    plain = [[c.isoformat() if isinstance(c, dt.datetime) else c for c in row] for row in rows]
    built = _floor.decode_table(plain, ostrel.OfficeJsArray, 40, tables.tags_of(rows), dt.datetime.fromisoformat)
    assert tables.decoded_shape(built) == tables.decoded_shape(baseline.from_wire(wire))
    assert [list(r) for r in built] == rows
