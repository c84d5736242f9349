"""Memory over a long run: peak RSS, and RSS after many proxy operations and encode/decode round
trips. Runs in a fresh interpreter so that nothing another section loaded (jedi, pylsp) is counted.
Growth is measured from the end of warm-up; a leak of even one small object per operation would
show as tens of megabytes."""
import datetime as dt
import gc
import json
import os
import subprocess
import sys

from .report import Row

SIZES = {"full": (1_000_000, 100_000), "quick": (100_000, 10_000), "smoke": (2_000, 200)}
CHECKPOINTS = 10
# Allocator noise: arenas and free lists settle in steps of a few hundred KiB.
NOISE = 2 * 1024 * 1024


def _rss():
    import psutil

    return psutil.Process().memory_info().rss


def _peak_rss():
    with open("/proc/self/status", encoding="ascii") as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) * 1024
    return 0


def _answer(messaging):
    remote = {"type": "Worksheet", "value": 77, "isSpec": True}
    number = {"type": "Int", "value": 42, "isSpec": False}

    def handler(message):
        method = message["method"]
        result = remote if method == "GET" and message["name"] == "sheet" else number
        messaging.on_message({"requestId": message["requestId"], "ok": True, "result": result})
    return handler


def _child(size):
    from cellumo_master.python_server.cellumo import ostrel

    ops_target, trips_target = SIZES[size]
    messaging, excel, get_setting = ostrel.messaging, ostrel.Excel, ostrel.GetSetting
    to_wire, from_wire = ostrel.Serializer.to_wire, ostrel.Serializer.from_wire
    messaging.set_send_handler(_answer(messaging))
    sent = [0]

    def proxy_ops():
        # Five requests: a read, a read that returns a remote object (released at once, one
        # DEL), a write and a call with a positional and a keyword argument.
        excel.foo
        excel.sheet
        excel.bar = 5
        get_setting("theme", default=1)
        sent[0] += 5

    row = [1.5, 2, "text", None, True, dt.datetime(2024, 1, 2, 3, 4, 5), b"\x00\x01", dt.date(2024, 1, 2)]

    def round_trip():
        wire = to_wire(row)
        wire["id"] = 9
        back = from_wire(wire)  # an array proxy: one DEL when it goes
        del back

    def phase(fn, total, per):
        rss = []
        warm = max(1, total // per // 10)
        for _ in range(warm):
            fn()
        gc.collect()
        rss.append(_rss())
        step = max(1, (total // per - warm) // CHECKPOINTS)
        done = warm
        while done < total // per:
            for _ in range(min(step, total // per - done)):
                fn()
            done += step
            gc.collect()
            rss.append(_rss())
        return rss

    ops_rss = phase(proxy_ops, ops_target, 5)
    ops_sent = sent[0]
    trip_rss = phase(round_trip, trips_target, 1)
    messaging.set_send_handler(None)
    return {
        "ops": ops_sent,
        "trips": trips_target,
        "ops_rss": ops_rss,
        "trip_rss": trip_rss,
        "peak": _peak_rss(),
        "waiters": len(messaging.waiters),
    }


def _mib(n):
    return f"{n / (1024 * 1024):.1f} MiB"


def run(size="full"):
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    proc = subprocess.run([sys.executable, "-m", "bench.memory", size], cwd=root,
                          capture_output=True, text=True, check=False)
    if proc.returncode != 0:
        raise RuntimeError(f"memory run failed:\n{proc.stderr}")
    r = json.loads(proc.stdout.strip().splitlines()[-1])
    section = "7 memory"
    ops_growth = r["ops_rss"][-1] - r["ops_rss"][0]
    trip_growth = r["trip_rss"][-1] - r["trip_rss"][0]
    return [
        Row(section, "peak RSS", _mib(r["peak"])),
        Row(section, f"RSS growth over {r['ops']:,} proxy operations after warm-up",
            f"{_mib(ops_growth)} ({_mib(r['ops_rss'][0])} -> {_mib(r['ops_rss'][-1])})",
            f"<= {_mib(NOISE)} (noise)", ops_growth <= NOISE),
        Row(section, f"RSS growth over {r['trips']:,} encode/decode round trips",
            f"{_mib(trip_growth)} ({_mib(r['trip_rss'][0])} -> {_mib(r['trip_rss'][-1])})",
            f"<= {_mib(NOISE)} (noise)", trip_growth <= NOISE),
        Row(section, "requests left waiting", str(r["waiters"]), "0", r["waiters"] == 0),
    ]


if __name__ == "__main__":
    print(json.dumps(_child(sys.argv[1] if len(sys.argv) > 1 else "full")))
