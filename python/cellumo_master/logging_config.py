"""Logging for the kernel's Python server and its subprocesses.

`get_logger` hands out ordinary `logging.Logger` objects; `setup_logging_subprocess` gives a process
that has no logging of its own one plain stderr handler, once, without touching handlers that are
already installed.
"""
import logging
import sys

_FORMAT = "%(asctime)s %(levelname)s %(name)s [%(process)d]: %(message)s"
_configured = False


def setup_logging_subprocess(level=None):
    """Send records of the root logger to stderr with a compact format (idempotent).

    `level` defaults to INFO. Handlers that the host installed already are left alone.
    """
    global _configured
    root = logging.getLogger()
    if level is None:
        level = logging.INFO
    root.setLevel(level)
    if _configured or root.handlers:
        _configured = True
        return root
    handler = logging.StreamHandler(sys.stderr)
    handler.setFormatter(logging.Formatter(_FORMAT))
    root.addHandler(handler)
    _configured = True
    return root


def get_logger(name):
    """Return the standard logger called `name`."""
    return logging.getLogger(name)


__all__ = ["get_logger", "setup_logging_subprocess"]
