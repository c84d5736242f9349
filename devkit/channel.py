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
