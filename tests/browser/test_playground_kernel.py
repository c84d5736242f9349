"""Scripts run in the playground's kernel process, driven through the WebSocket as the page drives
it: Stop always ends a run (by interrupt, or by restarting the interpreter), nothing a run starts
outlives it, each run starts clean, the status tells the truth, and the server's shutdown ends
every process it started."""
import http.client
import os
import signal

import pytest

from devkit.playground.browser import PlaygroundProcess
from kernel_client import Session, alive, children, outcome, rss_mib
from playground_client import own

SWALLOWS_EVERYTHING = """import os, time
print("kernel", os.getpid(), flush=True)
while True:
    try:
        time.sleep(0.2)
    except:
        pass
"""


def _pid_after(text, word):
    return int(text.split(word + " ", 1)[1].split()[0])


@pytest.fixture
def session(playground):
    with Session(playground) as s:
        yield s


def test_stop_restarts_a_script_that_swallows_every_interrupt(session):
    started = session.start("from cellumo_master.python_server.cellumo.ostrel import Context\n"
                            "Context.workbook.worksheets.getActiveWorksheet().getRange('V1').values = [['kept']]\n"
                            + SWALLOWS_EVERYTHING, "kernel ")
    kernel = _pid_after(started, "kernel")
    session.send("stop")
    end, _, errors = outcome(session.until("run-end"))
    assert end["stopped"] and end["restarted"] and not end["ok"]
    assert "The script did not stop; its interpreter was restarted" in errors
    assert not alive(kernel)
    # The next run is taken at once, in a fresh interpreter.
    end, output, _ = session.run("import os\nfrom cellumo_master.python_server.cellumo.ostrel import Context\n"
                                 "print('next', os.getpid())\n"
                                 "print(Context.workbook.worksheets.getActiveWorksheet().getRange('V1').values[0][0])\n")
    assert end["ok"] and output.startswith("next ") and _pid_after(output, "next") != kernel
    # The workbook lives in the add-in, which the restart left alone.
    assert output.endswith("\nkept\n")


def test_stop_names_only_the_users_file_and_line(session):
    helpers = "import time\n\ndef wait():\n    while True:\n        time.sleep(0.05)\n"
    code = "import os\nfrom helpers import wait\nprint('kernel', os.getpid(), flush=True)\nwait()\n"
    kernel = _pid_after(session.start(code, "kernel ", {"helpers": helpers}), "kernel")
    session.send("stop")
    end, _, errors = outcome(session.until("run-end"))
    assert end["stopped"] and not end["restarted"]
    assert errors == "Stopped at helpers.py, line 5\n    time.sleep(0.05)\n"
    # Interrupted, not restarted: the same interpreter takes the next run.
    end, output, _ = session.run("import os\nprint(os.getpid())\n")
    assert end["ok"] and int(output) == kernel


def test_threads_and_forks_of_a_stopped_script_do_not_outlive_it(session):
    code = """import os, threading, time
from cellumo_master.python_server.cellumo.ostrel import Context
cell = Context.workbook.worksheets.getActiveWorksheet().getRange("Z1")

def keep_writing():
    n = 0
    while True:
        n += 1
        cell.values = [[n]]
        time.sleep(0.05)

threading.Thread(target=keep_writing, daemon=True).start()
child = os.fork()
if child == 0:
    while True:
        time.sleep(0.1)
print("child", child, flush=True)
while True:
    time.sleep(0.1)
"""
    child = _pid_after(session.start(code, "child "), "child")
    assert alive(child)
    session.send("stop")
    end, _, errors = outcome(session.until("run-end"))
    assert end["stopped"] and end["restarted"], errors
    assert "Stopped at main.py, line" in errors and "were ended with its interpreter" in errors
    assert not alive(child)
    read = ("import time\nfrom cellumo_master.python_server.cellumo.ostrel import Context\n"
            "cell = Context.workbook.worksheets.getActiveWorksheet().getRange('Z1')\n"
            "first = cell.values[0][0]\ntime.sleep(0.5)\nprint(first == cell.values[0][0])\n")
    end, output, _ = session.run(read)
    assert end["ok"] and output == "True\n"


HANDLER = """from cellumo_master.python_server.cellumo.ostrel import Context
sheet = Context.workbook.worksheets.getActiveWorksheet()

def on_change(event):
    print("{label} saw", event["address"])
    {body}

sheet.onChanged.add(on_change)
sheet.getRange("{cell}").values = [[1]]
"""


def test_each_run_starts_without_the_handlers_of_earlier_runs(session):
    end, output, errors = session.run(HANDLER.format(label="run 1", body="pass", cell="Y1"))
    assert end["ok"] and output == "run 1 saw Y1\n", errors
    end, output, errors = session.run("from cellumo_master.python_server.cellumo.ostrel import Context\n"
                                      "Context.workbook.worksheets.getActiveWorksheet().getRange('Y2').values = [[2]]\n"
                                      "print('edited')\n")
    assert end["ok"] and output == "edited\n" and errors == ""


def test_a_failing_callback_fails_the_run(session):
    end, output, errors = session.run(HANDLER.format(label="handler", body="raise ValueError('bad cell')",
                                                     cell="Y3"))
    assert output == "handler saw Y3\n"
    assert not end["ok"] and not end["stopped"]
    assert "A callback failed" in errors and "ValueError: bad cell" in errors
    assert 'File "main.py", line 6, in on_change' in errors


def test_a_script_that_ends_its_interpreter_gets_a_fresh_one(session):
    end, _, errors = session.run("import os\nprint('bye', flush=True)\nos._exit(3)\n")
    assert not end["ok"] and end["restarted"]
    assert "exited while the script ran (exit status 3)" in errors
    end, output, _ = session.run("print('still here')\n")
    assert end["ok"] and output == "still here\n"


def test_an_interpreter_that_cannot_start_fails_each_run_once_instead_of_restarting_forever(
        tmp_path, monkeypatch):
    # Every kernel this server starts exits during its start-up; the server itself is unharmed.
    (tmp_path / "sitecustomize.py").write_text(
        "import os, sys\nif 'devkit.playground.kernel_main' in sys.orig_argv:\n    os._exit(3)\n")
    monkeypatch.setenv("PYTHONPATH", os.pathsep.join(filter(None, [str(tmp_path), os.environ.get("PYTHONPATH")])))
    server = PlaygroundProcess()
    try:
        with Session(server) as s:
            for _ in range(2):
                end, _, errors = s.run("print('never')\n")
                assert not end["ok"]
                assert errors == "the interpreter could not be started (it exited with code 3)\n"
            # Nothing more comes while no run asks for an interpreter.
            s.send("run", code="print('never')\n", modules={})
            assert [m["type"] for m in s.until("run-end", timeout=60)] == ["run-start", "error", "run-end"]
    finally:
        server.stop()


def test_kernel_memory_stays_flat_over_runs_that_each_hold_ten_megabytes(session):
    code = """import os
from cellumo_master.python_server.cellumo.ostrel import Context
blob = bytearray(10_000_000)
sheet = Context.workbook.worksheets.getActiveWorksheet()
sheet.onChanged.add(lambda event: len(blob))
sheet.getRange("X1").values = [[1]]
print(os.getpid())
"""
    pids = set()
    sizes = []
    for i in range(100):
        end, output, errors = session.run(code)
        assert end["ok"], errors
        pids.add(int(output))
        if i in (9, 99):
            sizes.append(rss_mib(int(output)))
    assert len(pids) == 1, "the kernel was restarted"
    assert sizes[1] - sizes[0] <= 20, sizes


@pytest.mark.parametrize("signum", [signal.SIGTERM, signal.SIGINT], ids=["SIGTERM", "Ctrl+C"])
def test_shutdown_ends_the_server_the_kernel_and_the_add_in_whatever_the_script_does(signum):
    server = PlaygroundProcess()
    try:
        with Session(server) as s:
            child = _pid_after(s.start("import os, time\nchild = os.fork()\nif child == 0:\n"
                                       "    while True:\n        time.sleep(0.1)\nprint('child', child, flush=True)\n"
                                       + SWALLOWS_EVERYTHING, "kernel "), "child")
        started = children(server.pid)
        # the add-in and the kernel (jedi may have started its own helper for the editor too)
        commands = [_command_line(pid) for pid in started]
        assert any("devkit/addin/main.js" in c for c in commands), commands
        assert any("devkit.playground.kernel_main" in c for c in commands), commands
        os.kill(server.pid, signum)
        assert server.wait(15) == 0
    finally:
        server.stop()
    left = [pid for pid in started + [child] if alive(pid)]
    assert left == [], [_command_line(pid) for pid in left]


def test_an_editor_request_over_the_limit_is_refused_before_it_is_read(playground):
    from devkit.playground.app import MAX_BODY

    conn = http.client.HTTPConnection("127.0.0.1", playground.port, timeout=30)
    try:
        # The length alone is enough: not a byte of the body is sent.
        conn.putrequest("POST", own(playground, "api/hover"), skip_host=True)
        conn.putheader("Host", playground.host)
        conn.putheader("Origin", playground.origin)
        conn.putheader("Content-Length", str(100_000_000))
        conn.endheaders()
        response = conn.getresponse()
        assert response.status == 413
    finally:
        conn.close()

    def chunks():
        for _ in range(MAX_BODY // 65536 + 2):
            yield b"x" * 65536

    conn = http.client.HTTPConnection("127.0.0.1", playground.port, timeout=30)
    try:
        try:
            conn.request("POST", own(playground, "api/hover"), body=chunks(), encode_chunked=True,
                         headers={"Host": playground.host, "Origin": playground.origin})
        except (BrokenPipeError, ConnectionResetError):
            pass  # refused while the body was still on its way
        assert conn.getresponse().status == 413
    finally:
        conn.close()


def test_stop_ends_a_script_waiting_for_a_callback_that_never_returns(session):
    code = """import time
from cellumo_master.python_server.cellumo.ostrel import Excel

def forever(context):
    print("in the callback", flush=True)
    while True:
        time.sleep(0.1)

Excel.run(forever)
"""
    session.start(code, "in the callback")
    session.send("stop")
    end, _, errors = outcome(session.until("run-end"))
    # Interrupted in its wait, or restarted where the wait does not wake: either way the
    # callback's thread is gone before the next run.
    assert end["stopped"] and end["restarted"], errors
    end, output, _ = session.run("import threading\nprint(sorted(t.name for t in threading.enumerate()"
                                 " if t.name.startswith('callback')))\n")
    assert end["ok"] and output == "[]\n"


def test_a_script_cannot_keep_stop_or_the_output_from_the_next_run(session):
    end, _, errors = session.run("import signal, sys\nsignal.signal(signal.SIGINT, signal.SIG_IGN)\n"
                                 "sys.stdout = open('/dev/null', 'w')\n")
    assert end["ok"], errors
    session.start("import time\nprint('go', flush=True)\nwhile True:\n    time.sleep(0.05)\n", "go")
    session.send("stop")
    end, _, errors = outcome(session.until("run-end"))
    assert end["stopped"] and not end["restarted"] and errors.startswith("Stopped at main.py, line 4")


def _command_line(pid):
    try:
        with open(f"/proc/{pid}/cmdline", "rb") as f:
            return f.read().replace(b"\0", b" ").decode(errors="replace")
    except OSError:
        return ""
