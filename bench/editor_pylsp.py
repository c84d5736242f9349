"""python-lsp-server's plugins answering the same editor requests in-process: the natural
alternative to the product's editor services, without the JSON-RPC transport around it."""
import contextlib
import os
import tempfile

import jedi
from pylsp import uris
from pylsp.config.config import Config
from pylsp.plugins import hover, jedi_completion, pyflakes_lint, signature
from pylsp.workspace import Document, Workspace


class Pylsp:
    """One workspace holding one document; each request replaces its text, as didChange does."""

    def __init__(self):
        self._dir = tempfile.TemporaryDirectory(prefix="bench-pylsp-")
        root = uris.from_fs_path(self._dir.name)
        self.config = Config(root, {}, os.getpid(), {})
        # Its default runs black in a subprocess to format each hover signature, which costs
        # far more than the analysis; the product formats nothing, so neither does this.
        self.config.update({"signature": {"formatter": None}})
        self.workspace = Workspace(root, None, self.config)
        self._uri = uris.from_fs_path(os.path.join(self._dir.name, "buffer.py"))

    def _document(self, code):
        return Document(self._uri, self.workspace, source=code)

    @staticmethod
    def _position(line, column):
        return {"line": line - 1, "character": column}

    def completions(self, code, line, column):
        with _own_jedi_settings():
            return jedi_completion.pylsp_completions(self.config, self._document(code), self._position(line, column))

    def hover(self, code, line, column):
        with _own_jedi_settings():
            return hover.pylsp_hover(self.config, self._document(code), self._position(line, column))

    def signature_help(self, code, line, column):
        with _own_jedi_settings():
            return signature.pylsp_signature_help(self.config, self._document(code), self._position(line, column))

    def diagnostics(self, code):
        with _own_jedi_settings():
            return pyflakes_lint.pylsp_lint(self.workspace, self._document(code))

    def close(self):
        self._dir.cleanup()


@contextlib.contextmanager
def _own_jedi_settings():
    """pylsp sets jedi's process-wide settings for itself on every request (numpy among the
    modules jedi imports instead of reading, which makes every numpy name a live object); the
    product and the floors measured beside it must keep jedi's own defaults."""
    saved = list(jedi.settings.auto_import_modules)
    try:
        yield
    finally:
        jedi.settings.auto_import_modules = saved
