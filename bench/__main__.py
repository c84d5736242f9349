"""python -m bench [--quick | --smoke] [--out FILE] [section ...]

Runs the sections (all by default), prints the machine, then the table of figures with their
targets and verdicts. A full run of every section also writes the table as Markdown to
bench/RESULTS.md; --out writes it anywhere, for any run. Every run that is neither --smoke nor
--out replaces its sections' rows in bench/results.json and regenerates README.md's table.
"""
import argparse
import importlib
import sys
import time
from pathlib import Path

from . import published, report

SECTIONS = ("encode", "dataframe", "decode", "proxy_op", "throughput", "editor", "excel_api", "memory", "playground",
            "roundtrips", "playground_runs")
NOTE = ("Medians over interleaved runs after warm-up, the collector paused per sample; every "
        "verdict is a ratio of two candidates measured in the same run. Absolute times are context.")


def run_sections(names, size, echo=print):
    rows = []
    for name in names:
        module = importlib.import_module(f"bench.{name}")
        start = time.perf_counter()
        got = module.run(size)
        for row in got:
            row.bench = name
        echo(f"  {name}: {len(got)} figures in {time.perf_counter() - start:.1f} s", file=sys.stderr)
        rows += got
    return rows


def main(argv=None):
    parser = argparse.ArgumentParser(prog="python -m bench", description=__doc__.split("\n\n")[1])
    sizes = parser.add_mutually_exclusive_group()
    sizes.add_argument("--quick", action="store_const", dest="size", const="quick",
                       help="smaller inputs and fewer repeats (a minute or two)")
    sizes.add_argument("--smoke", action="store_const", dest="size", const="smoke",
                       help="tiny inputs: checks that every section runs, times mean nothing")
    parser.add_argument("--out", type=Path,
                        help="where to write the Markdown table (default: bench/RESULTS.md after a "
                             "full run of every section; other runs only print it)")
    parser.add_argument("sections", nargs="*", metavar="section", help="any of: " + ", ".join(SECTIONS))
    args = parser.parse_args(argv)
    unknown = [s for s in args.sections if s not in SECTIONS]
    if unknown:
        parser.error(f"unknown section {', '.join(unknown)} (choose from {', '.join(SECTIONS)})")
    size = args.size or "full"
    names = args.sections or list(SECTIONS)
    out = args.out
    if out is None and size == "full" and names == list(SECTIONS):
        out = Path(__file__).resolve().parent / "RESULTS.md"

    facts = report.machine() + [("run", f"{size}: " + ", ".join(names))]
    for key, value in facts:
        print(f"{key:>18}: {value}")
    rows = run_sections(names, size, echo=print)
    text = report.markdown(rows, facts, note=NOTE)
    print()
    print(text)
    missed = [r for r in rows if r.met is False]
    summary = f"{len(rows)} figures, {sum(r.met is True for r in rows)} targets met, {len(missed)} not met"
    if out is not None:
        out.write_text(text)
        summary += f"; table written to {out}"
    if size != "smoke" and args.out is None:
        published.publish(rows, facts, size, names, order=SECTIONS)
        summary += "; README.md's table updated"
    print(summary)
    return 0


if __name__ == "__main__":
    sys.exit(main())
