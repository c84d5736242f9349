"""What the browser tests, the benchmark and the screenshot share: finding Debian's Chromium
(Playwright drives it through `executable_path`; nothing here downloads a browser) and starting
a playground server in a child process, read off the one line it prints."""
import os
import re
import shutil
import signal
import subprocess
import sys
import threading

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

# Debian's packages: chromium-headless-shell (small, made for this) or the full chromium.
CANDIDATES = (
    "/usr/lib/chromium/chromium-headless-shell",
    "/usr/lib/chromium/chromium",
)
INSTALL = "apt-get update && apt-get install -y chromium-headless-shell"

# Root needs --no-sandbox; the rest keeps a browser on a machine without outside network from
# reaching for it, and from stalling on a GPU it does not have.
LAUNCH_ARGS = [
    "--no-sandbox",
    "--disable-gpu",
    "--disable-dev-shm-usage",
    "--disable-background-networking",
    "--disable-component-update",
    "--disable-default-apps",
    "--disable-sync",
    "--no-first-run",
    "--no-default-browser-check",
    "--metrics-recording-only",
]


def find_chromium():
    """The Chromium binary to drive (CELLUMO_CHROMIUM names another), or None."""
    named = os.environ.get("CELLUMO_CHROMIUM")
    if named:
        return named if os.access(named, os.X_OK) else None
    for path in CANDIDATES:
        if os.access(path, os.X_OK):
            return path
    for name in ("chromium-headless-shell", "chromium"):
        found = shutil.which(name)
        if found:
            return found
    return None


def sanitized():
    """Under the sanitizer build the runtime is preloaded into every child process, which the
    browser and Playwright's driver do not survive."""
    return bool(os.environ.get("CELLUMO_SANITIZED"))


def browser_missing():
    """Why the browser tests cannot run here, or None."""
    if sanitized():
        return "not run under the sanitizers"
    import importlib.util

    if importlib.util.find_spec("playwright") is None:
        return "Playwright is not installed (it comes with the project's test extra: make test)"
    if find_chromium() is None:
        return f"no Chromium found; install Debian's with: {INSTALL}"
    from .app import monaco_missing

    return monaco_missing()


def launch(playwright):
    return playwright.chromium.launch(executable_path=find_chromium(), headless=True, args=LAUNCH_ARGS)


class PlaygroundProcess:
    """`python -m devkit playground` in a child process, on a free port; stop() ends it."""

    def __init__(self, timeout=60.0, cold_editor=False):
        self._proc = subprocess.Popen(
            [sys.executable, "-m", "devkit", "playground", "--no-browser", "--port", "0",
             *(["--cold-editor"] if cold_editor else [])],
            cwd=ROOT, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.stderr = []
        threading.Thread(target=self._drain, daemon=True).start()
        line = _readline(self._proc.stdout, timeout)
        match = re.search(r"(http://([^/]+)/([0-9a-f]+)/)", line or "")
        if not match:
            self.stop()
            raise RuntimeError(f"the playground did not print its URL (got {line!r}):\n" + "".join(self.stderr))
        self.url, self.host, self.token = match.groups()
        self.origin = "http://" + self.host
        self.port = int(self.host.rsplit(":", 1)[1])

    @property
    def pid(self):
        return self._proc.pid

    def wait(self, timeout):
        """The exit status once the server has ended (raises subprocess.TimeoutExpired)."""
        return self._proc.wait(timeout)

    def warm_up(self, timeout=120.0):
        """One completion, so that jedi has loaded what the first request of a test would wait
        for (a cold jedi takes seconds on a loaded machine)."""
        import json
        import urllib.request

        body = json.dumps({"code": "import os\nos.", "line": 2, "column": 3}).encode()
        request = urllib.request.Request(self.url + "api/complete", body, {"content-type": "application/json"})
        with urllib.request.urlopen(request, timeout=timeout) as response:
            return json.load(response)

    def _drain(self):
        for line in self._proc.stderr:
            self.stderr.append(line)

    def stop(self, timeout=15.0):
        if self._proc.poll() is None:
            self._proc.send_signal(signal.SIGTERM)
            try:
                self._proc.wait(timeout)
            except subprocess.TimeoutExpired:
                self._proc.kill()
                self._proc.wait(timeout)
        self._proc.stdout.close()
        return self._proc.returncode


def _readline(stream, timeout):
    got = []
    reader = threading.Thread(target=lambda: got.append(stream.readline()), daemon=True)
    reader.start()
    reader.join(timeout)
    return got[0] if got else None
