"""Checks the shipped stubs (ostrel.pyi, lintora.pyi) against the built modules with mypy's stubtest.

    python tools/stubtest/run.py        (with the staged or installed package importable)

stubtest inspects the runtime objects, and the root proxies answer every attribute read with a
request to the add-in. Here no add-in is connected, so a send handler that refuses every request
with AttributeError stands in, which is what inspection expects of a missing attribute.
"""
import sys
from pathlib import Path

from mypy import stubtest

from cellumo_master.python_server.cellumo import ostrel

HERE = Path(__file__).resolve().parent


def refuse(message):
    raise AttributeError(f"no add-in is connected ({message.get('method')} {message.get('name')})")


def main():
    ostrel.messaging.set_send_handler(refuse)
    args = [
        "cellumo_master.python_server.cellumo.ostrel",
        "cellumo_master.python_server.lintora",
        "--mypy-config-file", str(HERE / "mypy.ini"),
        "--allowlist", str(HERE / "allowlist.txt"),
        *sys.argv[1:],
    ]
    try:
        return stubtest.test_stubs(stubtest.parse_options(args))
    finally:
        # The proxies finalised at exit send releases, which are swallowed without a handler.
        ostrel.messaging.set_send_handler(None)


if __name__ == "__main__":
    sys.exit(main())
