"""Entry point of `python -m devkit`."""
import sys

from .cli import main

sys.exit(main())
