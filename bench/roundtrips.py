"""What a script costs on a real channel: five everyday scripts through the devkit kernel, each at
zero latency and with every answer of the add-in delivered late by a round trip (the kernel's
delay line), against their floor.

A script cannot do better than its time at zero latency plus one round trip for each answer it
needs. Releases need none (nothing reads their answer), so the floor counts every request but
the releases. The ratio to the floor is what waiting costs beyond that.
"""
import textwrap
import threading

from devkit.kernel import Kernel

from .report import Row, ratio_row
from .timing import fmt_seconds, median

SECTION = "10 round trips"
METHODS = ("GET", "SET", "CALL", "DEL")
GOAL = 1.25  # at most this many times the floor at 2 ms
# rows x columns of the block scripts, cells of the one-by-one script, rounds, latencies (seconds)
SIZES = {
    "full": (1000, 10, 100, 5, (0.002, 0.020)),
    "quick": (1000, 10, 100, 3, (0.002,)),
    "smoke": (20, 4, 5, 1, (0.002,)),
}
# rows of the block that is written and read back whole (10 columns), rounds
BIG = {"full": (10000, 5), "quick": (10000, 3), "smoke": (200, 1)}
BIG_LIMIT = 2.0  # reading the block back takes at most this many times writing it


def _column(n):
    return chr(ord("A") + n - 1)


def setup_source(rows, cols, cells):
    last = f"{_column(cols)}{rows}"
    return f"""
sheets = Context.workbook.worksheets
data = sheets.add("Data")
data.getRange("A1:{last}").values = [[r * {cols} + c + 0.5 for c in range({cols})] for r in range({rows})]
sheets.add("Cells").getRange("A1:A{cells}").values = [[i] for i in range({cells})]
sheets.add("Head")
sheets.add("Out")
Context.sync()
"""


def scripts(rows, cols, cells):
    """(label, source) of the five scripts, each written as a user would write it."""
    last = f"{_column(cols)}{rows}"
    return [
        (f"read {rows:,} x {cols} values, sum", f"""
values = Context.workbook.worksheets.getItem("Data").getRange("A1:{last}").values
total = sum(sum(row) for row in values)
"""),
        ("used range into pandas", """
import pandas as pd
frame = pd.DataFrame(Context.workbook.worksheets.getItem("Data").getUsedRange().values)
"""),
        (f"{cells} cells one by one", f"""
sheet = Context.workbook.worksheets.getItem("Cells")
for i in range(1, {cells + 1}):
    cell = sheet.getRange(f"A{{i}}")
    cell.values = [[cell.values[0][0] + 1]]
"""),
        ("format a header row", f"""
header = Context.workbook.worksheets.getItem("Head").getRange("A1:{_column(cols)}1")
header.format.fill.color = "#FFE699"
header.format.font.bold = True
header.format.columnWidth = 90
header.numberFormat = "0.00"
"""),
        (f"write {rows:,} x {cols} values", f"""
block = [[r * {cols} + c for c in range({cols})] for r in range({rows})]
Context.workbook.worksheets.getItem("Out").getRange("A1:{last}").values = block
"""),
    ]


class _Counter:
    """Wraps the kernel's send handler and counts request bodies by method."""

    def __init__(self, handler):
        self._handler = handler
        self._lock = threading.Lock()
        self.counts = dict.fromkeys(METHODS, 0)

    def __call__(self, message):
        method = message.get("method")
        with self._lock:
            self.counts[method] = self.counts.get(method, 0) + 1
        return self._handler(message)

    def take(self):
        with self._lock:
            counts, self.counts = self.counts, dict.fromkeys(METHODS, 0)
        return counts


def timed(source):
    """The script as the body of a function that is timed from its call to its return, and prints
    the seconds: its proxies are local names, released as it returns, so their releases are part
    of the time, and the kernel's own work around a script (a thread, compiling, a collection) is
    not."""
    return ("import time as _time\n\ndef _script():\n" + textwrap.indent(source.strip("\n"), "    ")
            + "\n\n_start = _time.perf_counter()\n_script()\nprint(_time.perf_counter() - _start)\n")


def _time_script(kernel, source, label):
    result = kernel.run_script(timed(source), f"<{label}>")
    if not result.ok:
        raise AssertionError(f"the script {label!r} failed:\n{result.error}")
    # The add-in answers in order: once this answer is in, the answers to the script's releases
    # are behind us, and the listener does not parse them during the next script.
    kernel.stats()
    return float(result.output.split()[-1])


def _run_round(latency, setup, cases):
    """One kernel at `latency`: the setup, then each script once. Returns [(seconds, counts)]."""
    out = []
    with Kernel(latency=latency) as kernel:
        counter = _Counter(kernel.messaging._send_handler)
        kernel.messaging.set_send_handler(counter)
        try:
            done = kernel.run_script(setup, "<setup>")
            if not done.ok:
                raise AssertionError(f"the bench's setup failed:\n{done.error}")
            for label, source in cases:
                counter.take()
                seconds = _time_script(kernel, source, label)
                out.append((seconds, counter.take()))
        finally:
            kernel.messaging.set_send_handler(counter._handler)
    return out


def measure(size="full"):
    """{label: {"counts": {...}, latency: [seconds, ...]}} over interleaved rounds."""
    rows, cols, cells, rounds, latencies = SIZES[size]
    cases = scripts(rows, cols, cells)
    setup = setup_source(rows, cols, cells)
    figures = {label: {"counts": None} for label, _ in cases}
    order = (0.0,) + latencies
    for r in range(rounds):
        # Alternating the order keeps a drift of the machine from landing on one latency only.
        for latency in order if r % 2 == 0 else order[::-1]:
            for (label, _), (seconds, counts) in zip(cases, _run_round(latency, setup, cases)):
                entry = figures[label]
                entry.setdefault(latency, []).append(seconds)
                if latency == 0.0:
                    entry["counts"] = counts
    return figures, latencies


def read_write(size="full"):
    """Seconds to write a block of 10 columns and to read it back whole, at zero latency: what the
    devkit's own channel costs for large answers. Returns (write medians, read medians, rows)."""
    rows, rounds = BIG[size]
    address = f"A1:J{rows}"
    write = f"""
Context.workbook.worksheets.getItem("Big").getRange("{address}").values = [
    [r * 10 + c + 0.25 for c in range(10)] for r in range({rows})]
"""
    read = f"""
values = Context.workbook.worksheets.getItem("Big").getRange("{address}").values
"""
    times = {"write": [], "read": []}
    with Kernel() as kernel:
        kernel.run_script('Context.workbook.worksheets.add("Big")\n', "<setup>")
        for r in range(rounds + 1):  # the first round warms up
            for name, source in (("write", write), ("read", read)):
                seconds = _time_script(kernel, source, name)
                if r:
                    times[name].append(seconds)
    return median(times["write"]), median(times["read"]), rows


def run(size="full"):
    figures, latencies = measure(size)
    out = []
    for label, entry in figures.items():
        counts = entry["counts"]
        answered = sum(n for method, n in counts.items() if method != "DEL")
        at_zero = median(entry[0.0])
        section = f"{SECTION}: {label}"
        out.append(Row(section, "requests GET/SET/CALL/DEL",
                       "/".join(f"{counts.get(m, 0):,}" for m in METHODS)))
        out.append(Row(section, "time at 0 ms", fmt_seconds(at_zero)))
        for latency in latencies:
            floor = at_zero + latency * answered
            at_latency = median(entry[latency])
            ms = f"{latency * 1e3:g} ms"
            context = f"{fmt_seconds(at_latency)} vs floor {fmt_seconds(floor)}"
            limit = GOAL if latency == 0.002 else None
            out.append(ratio_row(section, f"at {ms} / floor", at_latency / floor, limit, context=context))
    write, read, rows = read_write(size)
    out.append(ratio_row(f"{SECTION}: {rows:,} x 10 values, whole", "read back / write", read / write, BIG_LIMIT,
                         context=f"{fmt_seconds(read)} vs {fmt_seconds(write)}"))
    return out
