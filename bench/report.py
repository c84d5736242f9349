"""Rows of the results table, the machine description, and the Markdown they are printed as."""
import os
import platform
import sys
from dataclasses import dataclass
from importlib import metadata
from typing import Optional

from .timing import fmt_seconds


@dataclass
class Row:
    """One figure of the table. `met` is None for figures that are reported without a target."""

    section: str
    figure: str
    result: str
    target: str = "report"
    met: Optional[bool] = None
    bench: str = ""  # the bench section that measured it, set when the section has run

    @property
    def verdict(self):
        if self.met is None:
            return "-"
        return "met" if self.met else "NOT MET"


def ratio_row(section, figure, ratio, limit=None, *, at_least=False, unit="x", context=""):
    """A row whose verdict compares `ratio` with `limit` (at most, or at least); without a limit
    the ratio is only reported."""
    text = f"{ratio:.2f}{unit}"
    if context:
        text += f" ({context})"
    if limit is None:
        return Row(section, figure, text)
    if at_least:
        return Row(section, figure, text, f">= {limit:g}{unit}", ratio >= limit)
    return Row(section, figure, text, f"<= {limit:g}{unit}", ratio <= limit)


def floor_rows(section, medians, op, floor_limit, python_limit, best):
    """The three rows of a native-against-floor figure: the product over its floor, the Python
    baseline over the product (at least `python_limit`), and the baseline over the floor, which
    bounds the second ratio since nothing that builds the same result beats the floor."""
    m = medians
    return [
        ratio_row(section, f"{op} / floor", m["native"] / m["floor"], floor_limit,
                  context=f"medians {fmt_seconds(m['native'])} vs {fmt_seconds(m['floor'])}"),
        ratio_row(section, f"python baseline / {op}", m["python"] / m["native"], python_limit,
                  at_least=True, context=f"median {fmt_seconds(m['python'])}"),
        ratio_row(section, f"python baseline / floor (the best any {best} can reach)", m["python"] / m["floor"]),
    ]


def _cpu_model():
    try:
        with open("/proc/cpuinfo", encoding="ascii", errors="replace") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or "unknown"


def _version(dist):
    try:
        return metadata.version(dist)
    except metadata.PackageNotFoundError:
        return "not installed"


def machine():
    """The facts a reader needs to compare two tables: hardware, load and versions."""
    try:
        load = "%.2f %.2f %.2f" % os.getloadavg()
    except OSError:
        load = "n/a"
    return [
        ("platform", platform.platform()),
        ("cpu", f"{_cpu_model()} ({os.cpu_count()} logical cores, load {load} at start)"),
        ("python", sys.version.split()[0] + f" ({platform.python_implementation()})"),
        ("numpy", _version("numpy")),
        ("pandas", _version("pandas")),
        ("jedi", _version("jedi")),
        ("pyflakes", _version("pyflakes")),
        ("python-lsp-server", _version("python-lsp-server")),
    ]


def markdown(rows, facts, *, note=""):
    lines = []
    lines.append("| | |")
    lines.append("|---|---|")
    for key, value in facts:
        lines.append(f"| {key} | {value} |")
    lines.append("")
    if note:
        lines.append(note)
        lines.append("")
    lines.append("| section | figure | result | target | verdict |")
    lines.append("|---|---|---|---|---|")
    for r in rows:
        lines.append(f"| {r.section} | {r.figure} | {r.result} | {r.target} | {r.verdict} |")
    return "\n".join(lines) + "\n"
