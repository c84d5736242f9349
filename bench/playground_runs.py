"""Runs in the playground, through its WebSocket as the page sends them: a script's round trip
(`print('hi')`, from the run command to the run's end) before and after the editor has loaded
pandas and numpy for completions, which must not slow runs down now that scripts run in a
kernel process of their own; how long Stop takes, by interrupt and by restarting a script that
ignores it; and how long the server takes to end everything on SIGTERM.

Before and after are two servers side by side, one of them with the editor warm on pandas and
numpy, their runs interleaved.
"""
import json
import os
import signal
import time
import urllib.request

from .report import Row, ratio_row
from .timing import fmt_seconds, median

SIZES = {"full": (25, 3), "quick": (9, 2), "smoke": (2, 1)}
SECTION = "11 playground runs"
IGNORES_STOP = "import time\nprint('go', flush=True)\nwhile True:\n    try:\n        time.sleep(0.2)\n    except:\n        pass\n"
SLEEPS = "import time\nprint('go', flush=True)\nwhile True:\n    time.sleep(0.2)\n"
COMPLETIONS = [("import pandas as pd\npd.", 2, 3), ("import numpy as np\nnp.", 2, 3),
               ("import pandas as pd\ndf = pd.DataFrame()\ndf.", 3, 3)]


class _Session:
    def __init__(self, server):
        from websockets.sync.client import connect

        self._cm = connect(f"ws://{server.host}/{server.token}/ws", origin=server.origin, open_timeout=60)
        self._ws = self._cm.__enter__()
        self.until("hello")

    def close(self):
        self._cm.__exit__(None, None, None)

    def until(self, kind, text=None):
        while True:
            message = json.loads(self._ws.recv(timeout=120))
            if message["type"] == kind and (text is None or text in message.get("text", "")):
                return message

    def send(self, kind, **fields):
        self._ws.send(json.dumps({"type": kind, **fields}))

    def run(self, code):
        """Seconds from the run command to its end."""
        start = time.perf_counter()
        self.send("run", code=code, modules={})
        end = self.until("run-end")
        if not end["ok"]:
            raise RuntimeError(f"the benchmark's script failed: {end}")
        return time.perf_counter() - start

    def stop(self, code):
        """Seconds from Stop to the run's end, and the run's end."""
        self.send("run", code=code, modules={})
        self.until("output", "go")
        start = time.perf_counter()
        self.send("stop")
        end = self.until("run-end")
        return time.perf_counter() - start, end


def _complete(server, code, line, column):
    body = json.dumps({"code": code, "line": line, "column": column}).encode()
    request = urllib.request.Request(server.url + "api/complete", body, {"content-type": "application/json"})
    with urllib.request.urlopen(request, timeout=300) as response:
        return json.load(response)


def run(size="full"):
    from devkit.playground.app import monaco_missing
    from devkit.playground.browser import PlaygroundProcess

    missing = monaco_missing()
    if missing:
        return [Row(SECTION, "runs, Stop and shutdown", f"not measured: {missing}")]
    runs, stops = SIZES[size]
    rows = []
    # Two servers side by side, one whose editor has loaded pandas and numpy, their runs
    # interleaved, so that the load of the machine falls on both alike.
    servers = [PlaygroundProcess(), PlaygroundProcess()]
    try:
        sessions = [_Session(s) for s in servers]
        try:
            for code, line, column in COMPLETIONS:
                if _complete(servers[1], code, line, column)["error"]:
                    raise RuntimeError("a completion failed")
            times = ([], [])
            for i in range(runs + 3):
                for which in ((0, 1) if i % 2 else (1, 0)):
                    seconds = sessions[which].run("print('hi')")
                    if i >= 3:
                        times[which].append(seconds)
            before, after = (median(t) for t in times)
            rows.append(ratio_row(SECTION, "print('hi') after pandas and numpy completions / before",
                                  after / before, 1.5,
                                  context=f"medians {fmt_seconds(after)} vs {fmt_seconds(before)}"))
            session = sessions[1]
            interrupted = []
            for _ in range(stops):
                seconds, end = session.stop(SLEEPS)
                if end["restarted"]:
                    raise RuntimeError("a script that takes the interrupt was restarted")
                interrupted.append(seconds)
            rows.append(Row(SECTION, "Stop of a sleeping script to the run's end (interrupt)",
                            f"median {fmt_seconds(median(interrupted))}", "<= 1 s", median(interrupted) <= 1.0))
            restarted = []
            next_runs = []
            for _ in range(stops):
                seconds, end = session.stop(IGNORES_STOP)
                if not end["restarted"]:
                    raise RuntimeError("a script that swallows the interrupt was not restarted")
                restarted.append(seconds)
                next_runs.append(session.run("print('hi')"))
            rows.append(Row(SECTION, "Stop of a script that swallows the interrupt to the run's end (restart)",
                            f"median {fmt_seconds(median(restarted))}", "<= 5 s", median(restarted) <= 5.0))
            rows.append(Row(SECTION, "the next run after a restart (a fresh interpreter starting)",
                            f"median {fmt_seconds(median(next_runs))}"))
            session.send("run", code=IGNORES_STOP, modules={})
            session.until("output", "go")
        finally:
            for session in sessions:
                session.close()
        start = time.perf_counter()
        os.kill(servers[1].pid, signal.SIGTERM)
        servers[1].wait(30)
        shutdown = time.perf_counter() - start
        rows.append(Row(SECTION, "SIGTERM to the server's exit (editor warm, a script swallowing interrupts)",
                        fmt_seconds(shutdown), "<= 3 s", shutdown <= 3.0))
    finally:
        for server in servers:
            server.stop()
    return rows
