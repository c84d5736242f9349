"""The kernel's Python server: the editor language services (`lintora`) and the bridge package."""
