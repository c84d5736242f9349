"""Many worker threads sending through one listener thread at once: requests per second, the ratio
to one worker, and a check that every worker got exactly the answers to its own requests."""
import threading
import time

from cellumo_master.python_server.cellumo import ostrel

from .proxy_op import Listener
from .report import Row, ratio_row
from .timing import median

SIZES = {"full": (8, 2000, 5), "quick": (8, 400, 3), "smoke": (3, 20, 1)}


def _echo(messaging):
    # The answer names the attribute that was asked for, so a crossed response is seen.
    def answer(message):
        messaging.on_message({"requestId": message["requestId"], "ok": True,
                              "result": {"type": "String", "value": message["name"], "isSpec": False}})
    return answer


def _burst(excel, workers, per_worker):
    """Runs `workers` threads of `per_worker` reads each; returns (seconds, wrong answers, errors)."""
    start_gate = threading.Barrier(workers + 1)
    wrong = [0] * workers
    errors = []

    def work(w):
        names = [f"w{w}_{k}" for k in range(per_worker)]
        start_gate.wait()
        bad = 0
        try:
            for name in names:
                if getattr(excel, name) != name:
                    bad += 1
        except Exception as e:  # a lost response times out here
            errors.append(e)
        wrong[w] = bad

    threads = [threading.Thread(target=work, args=(w,)) for w in range(workers)]
    for t in threads:
        t.start()
    start_gate.wait()
    t0 = time.perf_counter()
    for t in threads:
        t.join()
    return time.perf_counter() - t0, sum(wrong), errors


def run(size="full"):
    workers, per_worker, repeat = SIZES[size]
    messaging = ostrel.messaging
    excel = ostrel.Excel
    listener = Listener(_echo(messaging))
    try:
        messaging.set_send_handler(listener.requests.put)
        _burst(excel, 1, per_worker // 4 + 1)
        single, multi = [], []
        wrong_total, errors_total = 0, []
        for _ in range(repeat):
            seconds, wrong, errors = _burst(excel, 1, per_worker)
            single.append(per_worker / seconds)
            wrong_total += wrong
            errors_total += errors
            seconds, wrong, errors = _burst(excel, workers, per_worker)
            multi.append(workers * per_worker / seconds)
            wrong_total += wrong
            errors_total += errors
        left = len(messaging.waiters)
    finally:
        messaging.set_send_handler(None)
        listener.close()
    s, m = median(single), median(multi)
    section = f"5 throughput, {workers} workers via listener"
    sound = wrong_total == 0 and not errors_total and left == 0
    detail = f"{wrong_total} crossed, {len(errors_total)} lost, {left} waiters left"
    return [
        Row(section, "requests/s, 1 worker", f"{s:,.0f}/s (median of {repeat})"),
        ratio_row(section, f"requests/s, {workers} workers / 1 worker", m / s,
                  context=f"{m:,.0f}/s"),
        Row(section, "lost or crossed responses", detail, "none", sound),
    ]
