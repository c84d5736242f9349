"""Subscripts of an object proxy: an index the add-in reports as past the end ends a loop and is an
IndexError that is still a RuntimeError; any other refusal raises wherever it happens."""
import pytest

from ostrel_fakes import ok, wire

PAST_THE_END = {"ok": False, "error": {"message": "Index 3 is out of range for a Things of length 3",
                                       "code": "IndexOutOfRange"}}


def collection(addin, refuse_at, refusal):
    def respond(message):
        if message["method"] != "GETITEM":
            return ok(wire("Null", None))
        return refusal if int(message["name"]) >= refuse_at else ok(wire("Int", int(message["name"]) * 10))
    addin.respond = respond


def test_a_loop_ends_after_the_last_item(ostrel, addin):
    collection(addin, 3, PAST_THE_END)
    things = ostrel.OfficeJsObject(12, "Things")
    assert [x for x in things] == [0, 10, 20]
    assert [b["name"] for b in addin.bodies("GETITEM")] == ["0", "1", "2", "3"]
    with pytest.raises(IndexError) as info:
        things[3]
    assert isinstance(info.value, RuntimeError) and str(info.value) == PAST_THE_END["error"]["message"]


@pytest.mark.parametrize("refusal", [
    {"ok": False, "error": {"message": "The add-in lost the collection", "code": "InternalError"}},
    {"ok": False, "error": {"message": "no code"}},
    {"ok": False, "error": "IndexOutOfRange"},  # not a record: only the text is read
    {"ok": False},
], ids=["other-code", "no-code", "text", "no-error"])
def test_any_other_refusal_raises_in_the_loop(ostrel, addin, refusal):
    collection(addin, 2, refusal)
    seen = []
    with pytest.raises(RuntimeError) as info:
        for x in ostrel.OfficeJsObject(12, "Things"):
            seen.append(x)
    assert seen == [0, 10] and not isinstance(info.value, IndexError)


def test_a_failed_channel_raises_in_the_loop(ostrel, addin):
    def respond(message):
        if message["name"] == "1":
            raise OSError("channel closed")
        return ok(wire("Int", 0))
    addin.respond = respond
    with pytest.raises(OSError, match="channel closed"):
        list(ostrel.OfficeJsObject(12, "Things"))
