"""Typed stubs of the Office.js API, reached through the bridge's Excel and Context."""
