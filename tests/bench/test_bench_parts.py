"""The pieces the benchmark figures rest on: if one of them is wrong, a table can look fine and
mean nothing. No timing is asserted."""
import gc
import importlib.util
import sys
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parents[2]))

import bench  # noqa: E402,F401  (puts the floor module on the path)
from bench import buffers, report, tables, timing  # noqa: E402

needs_floor = pytest.mark.skipif(importlib.util.find_spec("_floor") is None,
                                 reason="the benchmark floor module is built by `make build` only")


def test_compare_samples_every_candidate_and_restores_the_collector():
    calls = []
    samples = timing.compare({"a": lambda: calls.append("a"), "b": lambda: calls.append("b")},
                             repeat=6, number=2, warmup=1)
    assert {k: len(v) for k, v in samples.items()} == {"a": 6, "b": 6}
    assert calls.count("a") == calls.count("b") == 1 + 6 * 2
    assert gc.isenabled()

    def boom():
        raise ValueError("candidate failed")

    with pytest.raises(ValueError):
        timing.compare({"boom": boom}, repeat=2, warmup=0)
    assert gc.isenabled()


def test_compare_varies_who_follows_whom():
    # A fixed order would always give the second candidate the caches the first one warmed.
    order = []
    timing.compare({k: (lambda k=k: order.append(k)) for k in "abc"}, repeat=12, warmup=0)
    rounds = [tuple(order[i:i + 3]) for i in range(0, len(order), 3)]
    followers_of_a = {r[r.index("a") + 1] for r in rounds if r.index("a") < 2}
    assert followers_of_a == {"b", "c"}


def test_verdicts_compare_in_the_right_direction():
    assert report.ratio_row("s", "f", 1.3, 1.3).met is True
    assert report.ratio_row("s", "f", 1.31, 1.3).met is False
    assert report.ratio_row("s", "f", 8.0, 8, at_least=True).met is True
    assert report.ratio_row("s", "f", 7.9, 8, at_least=True).met is False
    plain = report.ratio_row("s", "f", 2.0)
    assert (plain.met, plain.target, plain.verdict) == (None, "report", "-")


def test_markdown_has_one_line_per_row():
    rows = [report.Row("1 x", "a / b", "1.00x", "<= 1.3x", True), report.Row("2 y", "c", "3/s")]
    text = report.markdown(rows, [("python", "3.13")])
    assert "| 1 x | a / b | 1.00x | <= 1.3x | met |" in text
    assert "| 2 y | c | 3/s | report | - |" in text


def test_tables_hold_every_kind_in_every_row_and_ids_follow_the_floor_numbering():
    rows = tables.mixed_table(12, 10)
    for row in rows:
        assert {tables.tag_of(c) for c in row} == {"Float", "Int", "String", "Null", "Bool", "Date"}
    wire = {"type": "Array", "isSpec": False,
            "value": [{"type": "Array", "value": [], "isSpec": False} for _ in range(3)]}
    with_ids = tables.with_ids(wire, 40)
    assert with_ids["id"] == 40 and [r["id"] for r in with_ids["value"]] == [41, 42, 43]
    assert "id" not in wire and all("id" not in r for r in wire["value"])


@pytest.mark.parametrize("make", [buffers.stdlib_buffer, buffers.pandas_buffer])
def test_requests_are_made_where_the_buffers_say(make):
    buf = make()
    lines = buf.code.split("\n")

    def before(pos):
        line, column = pos
        return lines[line - 1][:column]

    assert before(buf.completion).endswith(("self.", "frame."))
    assert before(buf.hover).endswith(("Text", "frame.group"))
    assert before(buf.signature).rstrip().endswith(("TextWrapper(", '"2024-01-01",'))


def test_floor_completions_offer_what_the_product_offers():
    # The floor must skip the same private names, or the two would not do the same work.
    from cellumo_master.python_server.lintora import Lintora

    from bench import editor_floor

    lsp = Lintora()
    try:
        code = "class K:\n    def m(self):\n        self._p = 1\n        self.q = 2\n        self.\n"
        for column in (13,):
            ours = [c["label"] for c in lsp.get_completions(code, 5, column)["completions"]]
            floor = [name for name, _, _ in editor_floor.completions(lsp._jedi_project, code, 5, column)]
            assert ours == floor and "q" in floor and "_p" not in floor
    finally:
        lsp.cleanup()


@needs_floor
def test_a_crossed_response_is_counted():
    # The throughput check must be able to fail: swap the answers of two requests.
    from cellumo_master.python_server.cellumo import ostrel

    from bench import throughput
    from bench.proxy_op import Listener

    messaging = ostrel.messaging
    held = []

    def crossing(message):
        held.append(message)
        if len(held) == 2:
            first, second = held
            held.clear()
            for asked, answered in ((first, second), (second, first)):
                messaging.on_message({"requestId": asked["requestId"], "ok": True,
                                      "result": {"type": "String", "value": answered["name"], "isSpec": False}})

    listener = Listener(crossing)
    try:
        messaging.set_send_handler(listener.requests.put)
        seconds, wrong, errors = throughput._burst(ostrel.Excel, 2, 5)
    finally:
        messaging.set_send_handler(None)
        listener.close()
    assert not errors
    assert wrong > 0
