"""`python -m devkit run SCRIPT`: runs a script against a fresh workbook and prints the workbook
afterwards; `python -m devkit demo`: the guided tour of the bridge and the editor services."""
import argparse
import os
import sys

from .grid import MAX_COLUMNS, MAX_ROWS, format_workbook


def _settings(pairs):
    settings = {}
    for pair in pairs or []:
        name, sep, value = pair.partition("=")
        if not sep or not name:
            raise SystemExit(f"--setting needs NAME=VALUE, got {pair!r}")
        settings[name] = value
    return settings


def latency_ms(text):
    """An argparse type: milliseconds (>= 0) as seconds."""
    try:
        value = float(text)
    except ValueError:
        value = -1.0
    if not 0.0 <= value < float("inf"):
        raise argparse.ArgumentTypeError(f"needs a number of milliseconds >= 0, got {text!r}")
    return value / 1000.0


def run_file(path, settings=None, timeout=120.0, verbose=False, out=sys.stdout, latency=0.0):
    """Runs one script file in a new kernel (`latency`: see `Kernel`); prints its output, its failure
    and the workbook. Returns the process exit status."""
    from .kernel import Kernel

    try:
        with open(path, encoding="utf-8") as f:
            source = f.read()
    except (OSError, UnicodeDecodeError) as exc:
        print(f"cannot read the script {path}: {exc}", file=sys.stderr)
        return 2
    filename = os.path.abspath(path)
    with Kernel(settings=settings, verbose=verbose, latency=latency) as kernel:
        result = kernel.run_script(source, filename, timeout=timeout, echo=out is sys.stdout)
        if out is not sys.stdout:
            out.write(result.output)
        if not result.ok:
            out.write("\nThe script failed:\n" + result.error)
        for text in kernel.callback_errors:
            out.write("\n" + text.rstrip() + "\n")
        out.write("\n" + format_workbook(kernel.snapshot(max_rows=MAX_ROWS, max_columns=MAX_COLUMNS)))
    out.flush()
    return 0 if result.ok and not kernel.callback_errors else 1


def main(argv=None):
    from .playground import cli as playground_cli

    parser = argparse.ArgumentParser(prog="python -m devkit", description=__doc__)
    sub = parser.add_subparsers(dest="command", required=True)
    run = sub.add_parser("run", help="run a script against a fresh workbook and print the workbook")
    run.add_argument("script")
    run.add_argument("--setting", action="append", metavar="NAME=VALUE", help="a value GetSetting(NAME) returns")
    run.add_argument("--timeout", type=float, default=120.0, help="seconds the script may run (default 120)")
    run.add_argument("--verbose", action="store_true", help="show every message to and from the add-in")
    run.add_argument("--latency-ms", type=latency_ms, default=0.0, metavar="N",
                     help="deliver every answer of the add-in N ms late, as a real channel would (default 0)")
    sub.add_parser("demo", help="run the example report and show the editor services on it")
    playground_cli.add_parser(sub)
    args = parser.parse_args(argv)
    if args.command == "playground":
        return playground_cli.run(args)
    if args.command == "run":
        return run_file(args.script, _settings(args.setting), args.timeout, args.verbose, latency=args.latency_ms)
    from .demo import main as demo_main

    return demo_main()
