"""The playground's web application (behind security.Guard, which has already checked the token
and stripped it from the path):

  GET  /                the page          GET /static/...  its scripts and styles
  GET  /vs/...          Monaco's AMD build, from the pinned npm package
  GET  /api/kinds       Lintora's completion kinds, by jedi's type names
  POST /api/<request>   an editor request (complete, hover, signature, diagnostics): Lintora's dict;
                        "warm" answers once the editor is warm (EditorService.warm_up)
  WS   /ws              runs: the page sends run / stop / reset; the server streams output,
                        errors, the run's start and end, and the workbook after changes
"""
import asyncio
import json
import os

from starlette.applications import Starlette
from starlette.responses import FileResponse, JSONResponse
from starlette.routing import Mount, Route, WebSocketRoute
from starlette.staticfiles import StaticFiles
from starlette.websockets import WebSocket, WebSocketDisconnect

from .editor_service import BadRequest

HERE = os.path.dirname(os.path.abspath(__file__))
STATIC = os.path.join(HERE, "static")
ROOT = os.path.dirname(os.path.dirname(HERE))
MONACO = os.path.join(ROOT, "node_modules", "monaco-editor", "min", "vs")
MAX_BODY = 4_000_000


def monaco_missing():
    """Why Monaco cannot be served, or None."""
    if os.path.isfile(os.path.join(MONACO, "loader.js")):
        return None
    return f"Monaco is not installed ({MONACO} is missing): run `make npm-deps`"


def build_app(service, runner, hub):
    async def page(request):
        return FileResponse(os.path.join(STATIC, "index.html"), headers={"cache-control": "no-store"})

    async def kinds(request):
        return JSONResponse(service.kinds())

    async def editor_request(request):
        body = await read_body(request, MAX_BODY)
        if body is None:
            return JSONResponse({"error": "the request is too large"}, status_code=413)
        try:
            future = service.submit(request.path_params["kind"], json.loads(body or b"null"))
        except (BadRequest, ValueError) as exc:
            return JSONResponse({"error": str(exc)}, status_code=400)
        return JSONResponse(await _answer_unless_gone(request, service, future), headers={"cache-control": "no-store"})

    async def socket(websocket: WebSocket):
        await websocket.accept()
        queue = hub.attach()
        sender = asyncio.create_task(_send_all(websocket, queue))
        try:
            await websocket.send_json({"type": "hello", "running": runner.running})
            await asyncio.to_thread(runner.publish_view, True)
            while True:
                text = await websocket.receive_text()
                try:
                    message = json.loads(text)
                except ValueError:
                    message = None
                await _command(websocket, runner, message)
        except (WebSocketDisconnect, RuntimeError):
            pass
        finally:
            hub.detach(queue)
            sender.cancel()

    routes = [
        Route("/", page),
        Route("/api/kinds", kinds),
        Route("/api/{kind}", editor_request, methods=["POST"]),
        WebSocketRoute("/ws", socket),
        Mount("/static", StaticFiles(directory=STATIC)),
        Mount("/vs", _cached(StaticFiles(directory=MONACO, check_dir=False))),
    ]
    return Starlette(routes=routes)


def _cached(app):
    """Monaco's files change only with the pinned version, so the browser may keep them for a
    day instead of asking again on every page load (a few hundred requests)."""
    async def wrapped(scope, receive, send):
        async def send_cached(message):
            if message["type"] == "http.response.start" and message.get("status") == 200:
                message = dict(message, headers=[*message.get("headers", []),
                                                 (b"cache-control", b"private, max-age=86400")])
            await send(message)

        await app(scope, receive, send_cached)

    return wrapped


async def _answer_unless_gone(request, service, future):
    """The request's answer; when the page gives up on it first (Monaco cancels a request the
    person has moved on from, and the page aborts its fetch), it is dropped from the queue."""
    waiting = asyncio.wrap_future(future)
    while True:
        done, _ = await asyncio.wait({waiting}, timeout=0.05)
        if done:
            return waiting.result()
        if await request.is_disconnected():
            service.cancel(future)
            return await waiting


async def read_body(request, limit):
    """The request's body, or None when it is larger than `limit` bytes. A declared length over
    the limit is refused before any of the body is read, and one sent without a length (or with
    a false one) as soon as what has arrived passes the limit."""
    declared = request.headers.get("content-length")
    if declared is not None and declared.strip().isdigit() and int(declared) > limit:
        return None
    chunks = []
    size = 0
    async for chunk in request.stream():
        size += len(chunk)
        if size > limit:
            return None
        chunks.append(chunk)
    return b"".join(chunks)


async def _send_all(websocket, queue):
    try:
        while True:
            await websocket.send_json(await queue.get())
    except (WebSocketDisconnect, RuntimeError, asyncio.CancelledError):
        pass


async def _command(websocket, runner, message):
    kind = message.get("type") if isinstance(message, dict) else None
    if kind == "run":
        refused = runner.submit_run(message.get("code"), message.get("modules") or {})
    elif kind == "stop":
        refused = runner.request_stop()
    elif kind == "reset":
        refused = runner.submit_reset()
    else:
        refused = f"unknown command {kind!r}"
    if refused:
        await websocket.send_json({"type": "refused", "command": kind, "text": refused})
