"""The add-in as a Node.js child process: JSON lines on its stdin and stdout, its diagnostics on
stderr (kept for error reports). Writing is serialised by a re-entrant lock, because a proxy
finalised while a message is being prepared sends its release from the same thread.

All three pipes are buffered: a large answer is one line of megabytes, which an unbuffered pipe
would read a byte per system call."""
import collections
import json
import os
import sys
import shutil
import subprocess
import threading

from .channel import decode_message, encoded, write_message

ADDIN_MAIN = os.path.join(os.path.dirname(os.path.abspath(__file__)), "addin", "main.js")


class AddinStopped(RuntimeError):
    """The add-in process is not running (it exited or was stopped)."""


def find_node():
    node = shutil.which("node") or shutil.which("nodejs")
    if not node:
        raise RuntimeError("Node.js is needed to run the stand-in add-in, but no `node` was found on PATH")
    return node


def _child_env():
    env = dict(os.environ)
    # A sanitizer runtime preloaded into the test interpreter must not reach Node.
    env.pop("LD_PRELOAD", None)
    env.pop("PYTHONMALLOC", None)
    return env


class AddinProcess:
    def __init__(self, settings=None, verbose=False):
        args = [find_node(), ADDIN_MAIN]
        for name, value in (settings or {}).items():
            args += ["--setting", f"{name}={_setting_text(value)}"]
        if verbose:
            args.append("--verbose")
        self._proc = subprocess.Popen(args, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                      env=_child_env(), close_fds=True)
        self._write_lock = threading.RLock()
        self.stderr_lines = collections.deque(maxlen=200)
        self._verbose = verbose
        self._stderr_thread = threading.Thread(target=self._drain_stderr, name="addin-stderr", daemon=True)
        self._stderr_thread.start()

    @property
    def pid(self):
        return self._proc.pid

    @property
    def running(self):
        return self._proc.poll() is None

    def send(self, message):
        data = encoded(message)
        try:
            write_message(self._proc.stdin, self._write_lock, data)
        except (BrokenPipeError, ValueError, OSError) as exc:
            raise AddinStopped("The add-in is not running") from exc

    def read(self):
        """The next message from the add-in; None once its output has ended. Lines that are not
        JSON are kept with its diagnostics and skipped."""
        while True:
            try:
                line = self._proc.stdout.readline()
            except ValueError:  # already closed, at the end of the output
                return None
            if not line:
                # The reader closes the pipe at its end: closing it under a reader still busy
                # with the last answers would cut them off.
                self._proc.stdout.close()
                return None
            try:
                message = decode_message(line)
            except ValueError:
                self.stderr_lines.append("unreadable line on stdout: " + line.decode("utf-8", "replace")[:200])
                continue
            if message is not None:
                return message

    def stop(self, timeout=5.0):
        """Closes the add-in's input (it exits on end of input); kills it if it does not go."""
        with self._write_lock:
            try:
                self._proc.stdin.close()
            except OSError:
                pass
        try:
            self._proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self._proc.kill()
            self._proc.wait(timeout=timeout)
        self._stderr_thread.join(timeout=timeout)

    def kill(self):
        """Ends the process abruptly, as a crashed or closed add-in would."""
        self._proc.kill()

    def _drain_stderr(self):
        for raw in self._proc.stderr:
            text = raw.decode("utf-8", "replace").rstrip("\n")
            self.stderr_lines.append(text)
            if self._verbose:
                print(text, file=sys.stderr, flush=True)
        self._proc.stderr.close()


def _setting_text(value):
    return json.dumps(value)
