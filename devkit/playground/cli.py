"""`python -m devkit playground [--port N] [--no-browser] [--host ADDRESS --allow-remote]`."""
import os
import sys


def add_parser(sub):
    p = sub.add_parser("playground", help="serve the editor and the workbook as a local web page")
    p.add_argument("--port", type=int, default=None,
                   help="port to listen on (default 8765 or the next free one; 0 for any free port)")
    p.add_argument("--no-browser", action="store_true", help="only print the URL, do not open a browser")
    p.add_argument("--host", default="127.0.0.1",
                   help="address to listen on (default 127.0.0.1; another one needs --allow-remote)")
    p.add_argument("--allow-remote", action="store_true",
                   help="allow --host to be an address other machines can reach (the page runs code)")
    return p


def run(args):
    from .server import StartError, serve

    try:
        status = serve(args.host, args.port, open_browser=not args.no_browser, allow_remote=args.allow_remote)
    except StartError as exc:
        print(f"playground: {exc}", file=sys.stderr)
        return 2
    # Everything the server started has ended and its files are gone. What is left is the
    # editor's heap (jedi's parse of pandas and numpy, millions of objects), which the
    # interpreter would spend many seconds taking apart at exit, for nothing.
    sys.stdout.flush()
    sys.stderr.flush()
    os._exit(status)

