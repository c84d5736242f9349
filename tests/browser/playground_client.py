"""Talking to the playground's server without a browser: plain HTTP with the headers a test
chooses, and a WebSocket with a chosen Origin."""
import http.client


def request(server, method, path, body=None, headers=None):
    conn = http.client.HTTPConnection("127.0.0.1", server.port, timeout=30)
    try:
        conn.request(method, path, body=body, headers={"Host": server.host, **(headers or {})})
        response = conn.getresponse()
        return response.status, dict(response.getheaders()), response.read().decode()
    finally:
        conn.close()


def own(server, path=""):
    return f"/{server.token}/{path}"


def connect(playground, path, origin):
    from websockets.sync.client import connect as ws_connect

    return ws_connect(f"ws://{playground.host}{path}", origin=origin, open_timeout=30)
