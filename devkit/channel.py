"""The line format between the kernel and the add-in: one JSON object per line, UTF-8.

JSON has no NaN or infinities. A non-finite float is sent as the text "NaN", "Infinity" or
"-Infinity" in its place. Floats only occur as the payload of "Float" wire values, where the
payload is otherwise always a number, so the text is unambiguous; the add-in reads it back as the
number, answers non-finite numbers the same way, and the bridge's float() accepts these texts.
Integers beyond 2**53 lose precision on the JavaScript side, as they would in Excel.
"""
import json
import math

_NON_FINITE = {math.inf: "Infinity", -math.inf: "-Infinity"}


def _tag_non_finite(value):
    if isinstance(value, float):
        if math.isnan(value):
            return "NaN"
        return _NON_FINITE.get(value, value)
    if isinstance(value, dict):
        return {k: _tag_non_finite(v) for k, v in value.items()}
    if isinstance(value, (list, tuple)):
        return [_tag_non_finite(v) for v in value]
    return value


def encode_message(message):
    """One message as a line of JSON (with the newline), ready to write."""
    try:
        text = json.dumps(message, allow_nan=False, separators=(",", ":"), ensure_ascii=False)
    except ValueError:
        # Only non-finite floats make dumps refuse with ValueError; the walk is paid only then.
        text = json.dumps(_tag_non_finite(message), allow_nan=False, separators=(",", ":"), ensure_ascii=False)
    return text + "\n"


def decode_message(line):
    """The message of one line, or None for a blank line. Raises ValueError on malformed JSON."""
    if isinstance(line, bytes):
        line = line.decode("utf-8")
    line = line.strip()
    if not line:
        return None
    return json.loads(line)


def messages(lines):
    """The messages (dicts) of an iterable of lines; blank, malformed and non-dict lines are
    skipped, so a stray line of output cannot end a reader."""
    for line in lines:
        try:
            message = decode_message(line)
        except ValueError:
            continue
        if isinstance(message, dict):
            yield message


def encoded(message):
    """A message as the bytes of its line. A message that cannot be sent (a lone surrogate, a
    self-containing value) raises here, before anything is written, and not as a stream error."""
    return encode_message(message).encode("utf-8")


def write_message(stream, lock, data):
    """Writes the bytes of one message (`encoded`) whole to a buffered binary stream, under
    `lock` so that writers on several threads never interleave; the stream's errors propagate."""
    with lock:
        stream.write(data)
        stream.flush()


def ask_control(send, future, forget, control_id, command, timeout, fields):
    """Sends a control command and returns its result once its answer has resolved `future`;
    `forget()` drops the caller's record of it however the wait ends."""
    try:
        send({"kind": "control", "controlId": control_id, "command": command, **fields})
        message = future.result(timeout=timeout)
    finally:
        forget()
    if not message.get("ok"):
        raise RuntimeError((message.get("error") or {}).get("message", "control command failed"))
    return message.get("result")
