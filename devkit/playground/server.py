"""Starts the playground: binds the port, starts the editor services, the add-in and the kernel
process (where scripts run), serves the app from a thread, prints the one line with the URL, and
waits for Ctrl+C or SIGTERM; then ends the kernel, the add-in and the server."""
import asyncio
import signal
import socket
import sys
import threading
import webbrowser

LOCAL = ("127.0.0.1", "localhost")
DEFAULT_PORT = 8765
_PORT_TRIES = 10


class StartError(RuntimeError):
    """The playground cannot start; the text says why and what to do."""


def bind(host, port):
    """A listening socket on host:port; port None tries the default and the next few."""
    candidates = [port] if port is not None else range(DEFAULT_PORT, DEFAULT_PORT + _PORT_TRIES)
    last = None
    for candidate in candidates:
        sock = socket.socket(socket.AF_INET6 if ":" in host else socket.AF_INET, socket.SOCK_STREAM)
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        try:
            sock.bind((host, candidate))
        except OSError as exc:
            sock.close()
            last = exc
            continue
        sock.listen(64)
        sock.setblocking(False)
        return sock
    raise StartError(f"cannot listen on {host} port {candidates[0] if port is not None else DEFAULT_PORT}"
                     f"{'' if port is not None else f' to {DEFAULT_PORT + _PORT_TRIES - 1}'}: {last}"
                     " (choose another with --port N, or --port 0 for any free port)")


class _Shutdown(BaseException):
    """Raised on the main thread when the process is asked to terminate."""


def _terminate(signum, frame):
    raise _Shutdown


def serve(host="127.0.0.1", port=None, open_browser=True, allow_remote=False, out=sys.stdout, latency=0.0,
          warm_editor=True):
    """Runs until interrupted (Ctrl+C) or terminated (SIGTERM). `latency`: the seconds by which
    every answer of the add-in reaches the kernel late (see `devkit.Kernel`). Returns the exit
    status."""
    import uvicorn

    from .app import build_app, monaco_missing
    from .editor_service import EditorService
    from .hub import Hub
    from .runner import Runner
    from .security import Guard, new_token

    if host not in LOCAL and not allow_remote:
        raise StartError(f"the playground runs any code it is sent, so it listens on 127.0.0.1 only; "
                         f"to listen on {host} anyway, add --allow-remote")
    missing = monaco_missing()
    if missing:
        raise StartError(missing)
    sock = bind("127.0.0.1" if host == "localhost" else host, port)
    port = sock.getsockname()[1]
    if host not in LOCAL:
        print(f"WARNING: listening on {host}: anyone who can reach this address and learns the token "
              "can run code as you on this machine.", file=sys.stderr, flush=True)

    token = new_token()
    loop = asyncio.new_event_loop()
    previous = signal.signal(signal.SIGTERM, _terminate)
    service = None
    server = None
    thread = None
    runner = None
    try:
        service = EditorService(warm=warm_editor)
        service.warm_up()  # the page says "ready" once the Excel API is warm; see EditorService.warm_up
        hub = Hub(loop)
        runner = Runner(hub.publish, latency=latency)
        extra = () if host in LOCAL else (host, socket.gethostname())
        app = Guard(build_app(service, runner, hub), token, port, extra)
        config = uvicorn.Config(app, log_level="warning", access_log=False, lifespan="off",
                                ws="websockets-sansio", loop="asyncio", timeout_graceful_shutdown=1)
        server = uvicorn.Server(config)

        def serve_http():
            asyncio.set_event_loop(loop)
            try:
                loop.run_until_complete(server.serve(sockets=[sock]))
            finally:
                loop.close()

        thread = threading.Thread(target=serve_http, name="playground-server", daemon=True)
        thread.start()
        while not server.started and thread.is_alive():
            thread.join(0.05)
        if not server.started:
            raise StartError("the web server did not start (see the messages above)")
        name = "127.0.0.1" if host in LOCAL else host
        url = f"http://{name}:{port}/{token}/"
        print(f"Playground: {url}", file=out, flush=True)
        if open_browser:
            threading.Thread(target=webbrowser.open, args=(url,), daemon=True).start()
        try:
            # Scripts run in the kernel process, so this thread only waits: Ctrl+C and SIGTERM
            # reach it at once, whatever a script does.
            while thread.is_alive():
                thread.join(0.5)
        except (KeyboardInterrupt, _Shutdown):
            pass
        return 0
    finally:
        # A second Ctrl+C must not cut the shutdown short and leave the kernel or the add-in.
        signal.signal(signal.SIGINT, signal.SIG_IGN)
        signal.signal(signal.SIGTERM, signal.SIG_IGN)
        if server is not None:
            server.should_exit = True
        if runner is not None:
            runner.close()
        if service is not None:
            _bounded(service.close, 1.0)
        if thread is not None:
            thread.join(timeout=1.5)
        signal.signal(signal.SIGTERM, previous)
        signal.signal(signal.SIGINT, signal.default_int_handler)


def _bounded(fn, seconds):
    """Calls fn on a thread of its own and waits for it at most `seconds`."""
    worker = threading.Thread(target=fn, daemon=True)
    worker.start()
    worker.join(seconds)
