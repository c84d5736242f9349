"""Entry point of `python -m devkit`."""
import os
import sys

from .cli import main

status = main()
# The kernel and the add-in are closed by now. Leaving without interpreter finalisation keeps the
# bridge's root proxies from being finalised after the module namespace is cleared, which the
# interpreter would report on stderr as ignored exceptions in their finalisers: noise at the end
# of every run that says nothing about the script.
sys.stdout.flush()
sys.stderr.flush()
os._exit(status if isinstance(status, int) else 1)
