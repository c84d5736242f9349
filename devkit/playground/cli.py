"""`python -m devkit playground [--port N] [--no-browser] [--host ADDRESS --allow-remote] [--latency-ms N]`."""
import os
import sys

from ..cli import latency_ms


def add_parser(sub):
    p = sub.add_parser("playground", help="serve the editor and the workbook as a local web page")
    p.add_argument("--port", type=int, default=None,
                   help="port to listen on (default 8765 or the next free one; 0 for any free port)")
    p.add_argument("--no-browser", action="store_true", help="only print the URL, do not open a browser")
    p.add_argument("--host", default="127.0.0.1",
                   help="address to listen on (default 127.0.0.1; another one needs --allow-remote)")
    p.add_argument("--allow-remote", action="store_true",
                   help="allow --host to be an address other machines can reach (the page runs code)")
    p.add_argument("--latency-ms", type=latency_ms, default=0.0, metavar="N",
                   help="deliver every answer of the add-in N ms late, as a real channel would (default 0)")
    p.add_argument("--cold-editor", action="store_true",
                   help="do not warm the editor services first (to measure what the warm-up saves)")
    return p


def run(args):
    from .server import StartError, serve

    try:
        status = serve(args.host, args.port, open_browser=not args.no_browser, allow_remote=args.allow_remote,
                       latency=args.latency_ms, warm_editor=not args.cold_editor)
    except StartError as exc:
        print(f"playground: {exc}", file=sys.stderr)
        return 2
    # Everything the server started has ended and its files are gone. What is left is the
    # editor's heap (jedi's parse of pandas and numpy, millions of objects), which the
    # interpreter would spend many seconds taking apart at exit, for nothing.
    sys.stdout.flush()
    sys.stderr.flush()
    os._exit(status)

