"""`make demo`: the example report run through the bridge against the stand-in add-in, the
workbook it leaves, and the editor services answering on the same script."""
import os
import sys

from . import editor
from .grid import MAX_COLUMNS, MAX_ROWS, format_workbook

ROOT = os.path.dirname(os.path.dirname(os.path.realpath(__file__)))  # also when reached through a link
EXAMPLE = os.path.join(ROOT, "examples", "sales_report.py")
SETTINGS = {"region": "North-West", "currency_format": "$#,##0.00"}

# What a user might type next into the same script: a module that is not installed and a
# misspelt function name.
TYPING = "\nimport zz_forecasting\nforecast = summarise(back)\n"


def heading(text):
    print(f"\n=== {text} " + "=" * max(3, 76 - len(text)))


def run_bridge_part(source):
    from .kernel import Kernel

    heading(f"Running {os.path.relpath(EXAMPLE, ROOT)} against the stand-in add-in")
    print(f"settings: {SETTINGS}\n")
    with Kernel(settings=SETTINGS) as kernel:
        result = kernel.run_script(source, EXAMPLE, echo=True)
        if not result.ok:
            print("\nThe script failed:\n" + result.error)
        for text in kernel.callback_errors:
            print("\n" + text)
        stats = kernel.stats()
        heading("The workbook afterwards")
        print(format_workbook(kernel.snapshot(max_rows=MAX_ROWS, max_columns=MAX_COLUMNS)), end="")
        print(f"\n(the add-in answered {stats['requestsHandled']} requests; {stats['objects']} of the objects it "
              "handed out are still referenced from Python, by the change handler's globals)")
    return result.ok and not kernel.callback_errors


def run_editor_part(source):
    from cellumo_master.python_server import lintora

    heading("The editor on the same script")
    service = lintora.Lintora()
    try:
        name = "sales_report"
        modules = {name: source}

        print("Diagnostics (markers under the code):")
        print(editor.render_diagnostics(source, service.get_diagnostics(source, name)), end="")

        typed = source + TYPING
        first = source.count("\n") + 2
        print("\nAfter typing two more lines:")
        for offset, text in enumerate(TYPING.strip("\n").split("\n")):
            print(f"  {first + offset:>4} | {text}")
        print(editor.render_diagnostics(typed, service.get_diagnostics(typed, name)), end="")

        line, column = editor.position_after(source, "len(sales.")
        print(f"\nCompletions at the '.' after 'sales' (line {line}, column {column}):")
        result = service.get_completions(source, line, column, name, modules)
        print(editor.render_completions(result, lintora.JEDI_TO_MONACO_KIND), end="")

        line, column = editor.position_after(source, "rows = summ")
        print(f"\nHover over 'summarize' (line {line}, column {column}):")
        print(editor.render_hover(service.get_hover(source, line, column, name, modules)), end="")
        service.set_hover_mode("detailed")
        print("The same hover in detailed mode:")
        print(editor.render_hover(service.get_hover(source, line, column, name, modules)), end="")
    finally:
        service.cleanup()
    return True


def main():
    with open(EXAMPLE, encoding="utf-8") as f:
        source = f.read()
    ok = run_bridge_part(source)
    ok = run_editor_part(source) and ok
    sys.stdout.flush()
    return 0 if ok else 1
