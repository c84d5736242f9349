"""The server's handle on one kernel process (devkit/playground/kernel_main.py): starting it in a
process group of its own, the link to it, interrupting it, and killing it with everything it
started (threads die with it; forks and their children are in its group)."""
import os
import signal
import subprocess
import sys
import threading
import time

from ..channel import encoded, messages, write_message

READY_SECONDS = 60.0  # a fresh interpreter imports numpy and pandas: seconds on a busy machine


class KernelProcess:
    """on_message(kernel, message) is called on the link's reader thread for every message but
    `ready`; on_exit(kernel) once, after the process has gone and its group was killed."""

    def __init__(self, modules_dir, on_message, on_exit, latency=0.0):
        self._on_message = on_message
        self._on_exit = on_exit
        self.ready = threading.Event()
        self.exited = threading.Event()
        self.loaded_modules = frozenset()
        self.returncode = None
        self._write_lock = threading.Lock()
        self._proc = subprocess.Popen(
            [sys.executable, "-m", "devkit.playground.kernel_main", modules_dir, repr(float(latency))],
            # Buffered both ways: a raw pipe is read a byte per system call, and a raw write that a
            # signal interrupts may write part of a message and say so only by its count.
            # The kernel is Python running our modules, so it inherits the environment whole: a
            # sanitizer runtime that the server was started with must be preloaded here too.
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, bufsize=-1, close_fds=True,
            start_new_session=True)
        self._reader = threading.Thread(target=self._read_all, name=f"kernel-{self.pid}", daemon=True)
        self._reader.start()

    @property
    def pid(self):
        return self._proc.pid

    def wait_ready(self, timeout):
        """True once the kernel is ready; False as soon as it has exited without being ready, or
        after `timeout` seconds."""
        deadline = time.monotonic() + timeout
        while not self.ready.wait(min(0.05, max(0.0, deadline - time.monotonic()))):
            if self.exited.is_set() or time.monotonic() >= deadline:
                return self.ready.is_set()
        return True

    def send(self, message):
        """False when the kernel is no longer there to take it."""
        data = encoded(message)
        try:
            write_message(self._proc.stdin, self._write_lock, data)
            return True
        except (BrokenPipeError, ValueError, OSError):
            return False

    def interrupt(self):
        """KeyboardInterrupt in the script, wherever it is."""
        try:
            os.kill(self.pid, signal.SIGINT)
        except ProcessLookupError:
            pass

    def kill(self, timeout=5.0):
        """Ends the kernel and every process of its group at once; returns when it is reaped."""
        self._kill_group()
        try:
            self._proc.wait(timeout)
        except subprocess.TimeoutExpired:
            pass
        self._reader.join(timeout)

    def group_members(self):
        """Other processes still in the kernel's group: what its script forked or started."""
        return [pid for pid in _group(self.pid) if pid != self.pid]

    def _kill_group(self):
        # The group outlives its leader while any member lives, and the leader's id cannot be
        # reused until it is reaped, so this is done before waiting for it.
        try:
            os.killpg(self.pid, signal.SIGKILL)
        except (ProcessLookupError, PermissionError):
            pass

    def _read_all(self):
        try:
            for message in messages(self._proc.stdout):
                if message.get("kind") == "ready":
                    self.loaded_modules = frozenset(message.get("modules") or ())
                    self.ready.set()
                else:
                    self._on_message(self, message)
        finally:
            self._kill_group()
            self.returncode = self._proc.wait()
            for stream in (self._proc.stdin, self._proc.stdout):
                try:
                    stream.close()
                except OSError:
                    pass
            self.exited.set()
            self._on_exit(self)


def _group(pgid):
    """The ids of the processes in process group `pgid`, from /proc."""
    members = []
    try:
        entries = os.listdir("/proc")
    except OSError:
        return members
    for entry in entries:
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat", "rb") as f:
                stat = f.read()
        except OSError:
            continue
        # The command name is in parentheses and may hold spaces; the fields after it are fixed.
        fields = stat[stat.rfind(b")") + 2:].split()
        if len(fields) > 2 and fields[0] != b"Z" and int(fields[2]) == pgid:
            members.append(int(entry))
    return members
