"""The playground's gate. The server runs any code it is sent, so every HTTP request and
WebSocket handshake must name this start's random token as the first segment of its path, must
be addressed to this server by its own host name (a DNS-rebinding page reaches us under its own
name), and, when a browser says where it comes from, must come from the page this server served.
Everything that passes gets a Content-Security-Policy that lets the page run its own scripts only.

The token sits in the path rather than in a cookie, so the page's relative URLs (Monaco's loader
and workers included) carry it without help, and two playgrounds on different ports never share
or overwrite it.
"""
import hmac
import secrets


def new_token():
    return secrets.token_hex(24)


def content_security_policy(port):
    own = f"127.0.0.1:{port} localhost:{port}"
    return "; ".join([
        "default-src 'none'",
        "script-src 'self'",
        # Monaco starts its workers from blob: URLs, styles its widgets inline and embeds its
        # icon font as a data: URL.
        "worker-src blob:",
        "style-src 'self' 'unsafe-inline'",
        "font-src 'self' data:",
        "img-src 'self' data:",
        "connect-src 'self' " + " ".join(f"ws://{h}" for h in own.split()),
        "base-uri 'none'",
        "form-action 'none'",
        "frame-ancestors 'none'",
    ])


class Guard:
    """ASGI middleware in front of the app. The server answers to 127.0.0.1 and localhost on
    `port`, plus `extra_hosts` (the address it was told to bind, when that is another one); the
    page's origin is http:// plus one of these."""

    def __init__(self, app, token, port, extra_hosts=()):
        self.app = app
        self._token = token
        hosts = {f"127.0.0.1:{port}", f"localhost:{port}"} | {f"{h}:{port}" for h in extra_hosts}
        self._hosts = frozenset(h.lower() for h in hosts)
        self._origins = frozenset("http://" + h for h in self._hosts)
        self._csp = content_security_policy(port).encode()

    def refusal(self, scope):
        """Why this request is refused, or None."""
        headers = {}
        for name, value in scope.get("headers") or ():
            headers.setdefault(name.decode("latin-1").lower(), value.decode("latin-1"))
        host = headers.get("host", "").lower()
        if host not in self._hosts:
            return "this server only answers to its own address"
        origin = headers.get("origin")
        if origin is not None and origin.lower() not in self._origins:
            return "requests from other web pages are refused"
        if headers.get("sec-fetch-site") in ("cross-site", "same-site"):
            return "requests from other web pages are refused"
        first, _, _ = scope.get("path", "").lstrip("/").partition("/")
        if not hmac.compare_digest(first.encode(), self._token.encode()):
            return "the token is missing or wrong: open the URL that the playground printed"
        return None

    async def __call__(self, scope, receive, send):
        kind = scope["type"]
        if kind not in ("http", "websocket"):
            await self.app(scope, receive, send)
            return
        reason = self.refusal(scope)
        if reason is not None:
            if kind == "websocket":
                # Closing before accepting makes the server answer the handshake with 403.
                await send({"type": "websocket.close", "code": 1008, "reason": reason})
            else:
                await _plain(send, 403, reason)
            return
        prefix = "/" + self._token
        rest = scope["path"][len(prefix):]
        if kind == "http" and rest == "":
            # The page's relative URLs need the trailing slash.
            await _plain(send, 308, "", [(b"location", (prefix + "/").encode())])
            return
        inner = dict(scope, path=rest or "/", raw_path=(rest or "/").encode())
        await self.app(inner, receive, self._with_headers(send) if kind == "http" else send)

    def _with_headers(self, send):
        csp = self._csp

        async def wrapped(message):
            if message["type"] == "http.response.start":
                headers = list(message.get("headers") or [])
                headers += [
                    (b"content-security-policy", csp),
                    (b"x-content-type-options", b"nosniff"),
                    (b"referrer-policy", b"no-referrer"),
                    (b"cross-origin-resource-policy", b"same-origin"),
                ]
                message = dict(message, headers=headers)
            await send(message)

        return wrapped


async def _plain(send, status, text, headers=()):
    body = (text + "\n").encode() if text else b""
    await send({"type": "http.response.start", "status": status,
                "headers": [(b"content-type", b"text/plain; charset=utf-8"),
                            (b"content-length", str(len(body)).encode()), *headers]})
    await send({"type": "http.response.body", "body": body})
