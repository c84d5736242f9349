"""Cellumo Excel bridge.

A synchronous bridge between Python and Excel Office.js: it gives Python code a synchronous proxy
to Office.js objects, whose reads, writes and calls are sent to the Cellumo add-in and answered
before they return.

`Excel` is the Excel namespace (`Excel.run`, `Excel.Range`, `Excel.HorizontalAlignment.center`),
`Context` the request context (`Context.workbook`), `GetSetting` the host's settings lookup.
"""
# Editors and type checkers see this file instead of the compiled module. Besides the module's
# own names it types the three root proxies as the Office.js objects they stand for.
import base64 as base64
import concurrent as concurrent
import concurrent.futures
import datetime as dt
import threading as threading
import uuid as uuid
from collections.abc import Callable as _Callable
from typing import Any as Any, Dict as Dict, TypeVar as _TypeVar

import numpy as np
import pandas as pd

from ._officejs import excel as Excel
from ._officejs.excel import RequestContext as _RequestContext

_K = _TypeVar("_K")
_V = _TypeVar("_V")
_T = _TypeVar("_T")

class Serializer:
    """Handles marshaling of data types between Python and JavaScript."""
    @staticmethod
    def to_wire(value: Any) -> Dict[str, Any]:
        """Serialize a Python value to wire format for transmission.

        Supports: None, bool, int, float, str, datetime, bytes, list, dict,
        and OfficeJsObject wrappers.
        """
    @staticmethod
    def from_wire(wire: Dict[str, Any]) -> Any:
        """Deserialize a wire format value back to Python.

        Handles: Null, Bool, Int, Float, String, Date, Bytes, Array, Dict,
        and special OfficeJs object references.
        """

class Messaging:
    """Handles messaging for the Python-Excel bridge: requests go out through the kernel's send
    handler and block until `on_message` delivers the matching response."""
    waiters: dict[str, concurrent.futures.Future[dict[str, Any]]]
    loop: Any
    loop_thread: Any
    _waiters_lock: threading.Lock
    _guid: str
    _send_handler: _Callable[[dict[str, Any]], object] | None
    _callable_registry: dict[str, _Callable[..., Any]]
    _callable_lock: threading.Lock
    _next_callable_id: int
    def __init__(self) -> None: ...
    def set_send_handler(self, handler: _Callable[[dict[str, Any]], object] | None) -> None:
        """Register a callback used to send messages to the add-in.

        The handler should be a callable that takes a dict (the message payload)
        and sends it appropriately (e.g., via WebSocket through the Business Layer).
        """
    def on_message(self, message: Dict[str, Any]) -> None:
        """Handle an incoming response message from the add-in.

        Resolves the pending future for the corresponding request.
        """
    def send_request_sync(self, req: Dict[str, Any], timeout: float = 30.0) -> Dict[str, Any]:
        """Send a request and wait synchronously for the response.

        Blocks the calling thread until the response is received (or timeout).
        """
    def reset(self) -> None:
        """Reset the messaging state (e.g., when the connection is closed).

        Cancels all pending futures and generates a new GUID.
        """
    def register_callable(self, callable_obj: Any) -> str:
        """Register a Python callable and return its ID."""
    def get_callable(self, callable_id: str) -> Any:
        """Retrieve a registered callable by its ID, or None if not found."""
    def unregister_callable(self, callable_id: str) -> None:
        """Remove a callable from the registry."""
    def send_request_nowait(self, req: Dict[str, Any]) -> None:
        """Send a request without waiting for its response (any response is dropped)."""

def _cw__getattr__(self: Any, name: str) -> Any: ...
def _cw__getitem__(self: Any, index: int | slice) -> Any: ...
def _cw__setattr__(self: Any, name: str, value: Any) -> None: ...
def _cw__call__(self: Any, *args: Any, **kwargs: Any) -> Any: ...
def _cw__del__(self: Any) -> None: ...

_internal_officejs_names: list[str]

class OfficeJsObject:
    """Dynamic proxy class for Office.js objects.

    Provides __getattr__, __setattr__, __call__, __getitem__ to proxy
    operations to the Office.js Add-in.
    """
    _internal_id: int
    _internal_typeName: str
    _msg_guid: str
    _typ: str
    _internal_cache: dict[str, Any]
    def __init__(self, object_id: int, type_name: str) -> None: ...
    def __getattr__(self, name: str) -> Any: ...
    def __getitem__(self, index: int | slice) -> Any: ...
    def __setattr__(self, name: str, value: Any) -> None: ...
    def __call__(self, *args: Any, **kwargs: Any) -> Any: ...
    def __del__(self) -> None: ...
    def __repr__(self) -> str: ...

class OfficeJsArray(list[_T]):
    """Specialized proxy for arrays returned from Office.js."""
    _internal_id: int
    _internal_typeName: str
    _msg_guid: str
    _typ: str
    _internal_cache: dict[str, Any]
    def __init__(self, object_id: int) -> None: ...
    def __getattr__(self, name: str) -> Any: ...
    def __setattr__(self, name: str, value: Any) -> None: ...
    def __call__(self, *args: Any, **kwargs: Any) -> Any: ...
    def __del__(self) -> None: ...
    def __repr__(self) -> str: ...
    def __str__(self) -> str: ...

class OfficeJsDict(dict[_K, _V]):
    """Specialized proxy for dictionaries returned from Office.js."""
    _internal_id: int
    _internal_typeName: str
    _msg_guid: str
    _typ: str
    _internal_cache: dict[str, Any]
    def __init__(self, object_id: int) -> None: ...
    def __getattr__(self, name: str) -> Any: ...
    def __setattr__(self, name: str, value: Any) -> None: ...
    def __call__(self, *args: Any, **kwargs: Any) -> Any: ...
    def __del__(self) -> None: ...
    def __repr__(self) -> str: ...
    def __str__(self) -> str: ...

class _SettingLookup(OfficeJsObject):
    def __call__(self, name: str, default: _T = ...) -> Any | _T:
        """The host's value of the setting `name`, or `default` (None unless given) when it has none."""

messaging: Messaging
"""The one Messaging instance of the process; the kernel installs its send handler."""

Context: _RequestContext
"""The request context of the add-in: `Context.workbook` is the open workbook."""

GetSetting: _SettingLookup
"""Reads a setting of the host: `GetSetting("region", "All regions")`."""
