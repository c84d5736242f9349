"""Editor requests on the Excel API (through the typed stubs) beside the same request on a
standard-library chain: warm p50 in this process, and the first request of a fresh process.

The stubs are a few megabytes of .pyi; what the layout must achieve is that a warm request
anywhere in an Excel chain costs about what `os.path.` costs. The first request of a process
parses the stubs it touches, which is what the kernel's warm-up at start-up takes off the user.
"""
import gc
import json
import subprocess
import sys

from cellumo_master.python_server.lintora import Lintora

from .report import Row, ratio_row
from .timing import compare, fmt_seconds, median

SIZES = {"full": 25, "quick": 9, "smoke": 2}

IMPORT = "from cellumo_master.python_server.cellumo.ostrel import Excel, Context\n"
SHEET = 'Context.workbook.worksheets.getItem("Sales")'


def _at_end(code, back=0):
    lines = code.split("\n")
    return code, len(lines), len(lines[-1]) - back


# request -> (Excel API case, standard-library case); each case is (code, line, column).
CASES = {
    "get_completions": (_at_end(IMPORT + SHEET + '.getRange("A1").format.font.'),
                        _at_end("import os\nos.path.")),
    "get_hover": (_at_end(IMPORT + SHEET + '.getRange("A1")', back=len('Range("A1")')),
                  _at_end('import os\nos.path.join("a")', back=len('join("a")') - 2)),
    "get_signature_help": (_at_end(IMPORT + SHEET + ".getRange("), _at_end("import os\nos.path.join(")),
}

_COLD = """
import json, sys, time
from cellumo_master.python_server.lintora import Lintora
request, code, line, column = json.loads(sys.argv[1])
lsp = Lintora()
start = time.perf_counter()
result = getattr(lsp, request)(code, line, column)
elapsed = time.perf_counter() - start
lsp.cleanup()
print(json.dumps([elapsed, result.get("error")]))
"""


def _cold(request, case):
    """Seconds of the first request in a fresh interpreter (jedi and the module already imported)."""
    proc = subprocess.run([sys.executable, "-c", _COLD, json.dumps([request, *case])], capture_output=True,
                          text=True, timeout=600, check=True)
    elapsed, error = json.loads(proc.stdout.strip().splitlines()[-1])
    if error is not None:
        raise AssertionError(f"{request} failed in a fresh process: {error}")
    return elapsed


def _check(request, result):
    if result.get("error") is not None:
        raise AssertionError(f"{request} failed: {result['error']}")
    found = {
        "get_completions": lambda: len(result["completions"]) > 0,
        "get_hover": lambda: result["contents"] is not None,
        "get_signature_help": lambda: len(result["signatures"]) == 1,
    }[request]()
    if not found:
        raise AssertionError(f"{request} found nothing: {result}")


def run(size="full"):
    repeat = SIZES[size]
    lt = Lintora()
    rows = []
    try:
        fns = {}
        for request, (excel, stdlib) in CASES.items():
            method = getattr(lt, request)
            fns[request] = {"excel": lambda m=method, c=excel: m(*c), "stdlib": lambda m=method, c=stdlib: m(*c)}
            for fn in fns[request].values():
                _check(request, fn())
        namespace = IMPORT + "Excel."
        whole = lambda: lt.get_completions(namespace, 2, 6)  # noqa: E731
        _check("get_completions", whole())
        gc.collect()
        gc.freeze()
        for request, (excel, stdlib) in CASES.items():
            samples = compare(fns[request], repeat=repeat, warmup=1)
            p50 = {k: median(v) for k, v in samples.items()}
            section = f"8 Excel API {request}"
            target = 1.5 if request == "get_completions" else None
            rows.append(ratio_row(
                section, "warm p50 Excel chain / os.path chain", p50["excel"] / p50["stdlib"], target,
                context=f"p50 {fmt_seconds(p50['excel'])} vs {fmt_seconds(p50['stdlib'])}"))
            cold = {"excel": _cold(request, excel), "stdlib": _cold(request, stdlib)}
            rows.append(ratio_row(
                section, "first request of a fresh process, Excel / os.path", cold["excel"] / cold["stdlib"],
                context=f"{fmt_seconds(cold['excel'])} vs {fmt_seconds(cold['stdlib'])}"))
        times = compare({"namespace": whole}, repeat=max(2, repeat // 5), warmup=0)["namespace"]
        rows.append(Row("8 Excel API get_completions", "warm p50 of `Excel.` (every type of the namespace, documented)",
                        f"{fmt_seconds(median(times))} for {len(whole()['completions'])} items"))
    finally:
        gc.unfreeze()
        lt.cleanup()
    return rows
