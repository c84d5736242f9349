"""Stand-ins for the host around the bridge: a Node.js add-in that keeps a workbook in memory and
answers the bridge's requests (devkit/addin), and a kernel harness that connects it to `ostrel`,
runs user scripts on worker threads and runs the Python callbacks the add-in asks for.

Not part of the installed package: it exists to try the bridge end to end (`python -m devkit`).
"""
from .kernel import Kernel, ScriptResult

__all__ = ["Kernel", "ScriptResult"]
