"""Running scripts through the playground's WebSocket as the page does, and looking at the
processes involved by pid."""
import json
import os

from playground_client import connect, own


class Session:
    """One WebSocket to the playground: send commands, read the messages a run produces."""

    def __init__(self, playground):
        self._connection = connect(playground, own(playground, "ws"), playground.origin)
        self._ws = self._connection.__enter__()
        self.until("hello")

    def close(self):
        self._connection.__exit__(None, None, None)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def send(self, kind, **fields):
        self._ws.send(json.dumps({"type": kind, **fields}))

    def until(self, kind, timeout=90):
        """The messages up to and including the first of type `kind` (workbook views left out)."""
        got = []
        while True:
            message = json.loads(self._ws.recv(timeout=timeout))
            if message["type"] != "workbook":
                got.append(message)
            if message["type"] == kind:
                return got

    def run(self, code, modules=None):
        """Runs a script to its end: (run-end message, output text, error text)."""
        self.send("run", code=code, modules=modules or {})
        return outcome(self.until("run-end"))

    def start(self, code, until_output, modules=None):
        """Starts a script and returns once its output holds `until_output`: the output so far."""
        self.send("run", code=code, modules=modules or {})
        text = ""
        while until_output not in text:
            text += "".join(m["text"] for m in self.until("output") if m["type"] == "output")
        return text


def outcome(messages):
    output = "".join(m["text"] for m in messages if m["type"] == "output")
    errors = "".join(m["text"] for m in messages if m["type"] in ("error", "notice"))
    return messages[-1], output, errors


def alive(pid):
    """True while the process exists and is not a zombie."""
    try:
        with open(f"/proc/{pid}/stat", "rb") as f:
            stat = f.read()
    except OSError:
        return False
    return stat[stat.rfind(b")") + 2:].split()[0] != b"Z"


def children(pid):
    """The ids of a process's children."""
    found = []
    for task in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{task}/children") as f:
                found += [int(p) for p in f.read().split()]
        except OSError:
            pass
    return found


def rss_mib(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) / 1024
    raise LookupError("no VmRSS")
