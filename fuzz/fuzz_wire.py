"""Fuzzes the wire decoder and encoder: records built from the input go through from_wire,
whatever decodes goes back through to_wire, and arbitrary values through to_wire. Only Python
exceptions may come out, and none that marks a broken error convention (see oracle.py). Run: python fuzz/fuzz_wire.py -max_total_time=60"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import source  # noqa: E402
from oracle import reraise_if_fault  # noqa: E402

import cellumo_master.python_server.cellumo.ostrel as ostrel  # noqa: E402

S = ostrel.Serializer
m = ostrel.messaging
inputs = [0]


def prepare():
    m.set_send_handler(lambda message: m.on_message({"requestId": message["requestId"], "ok": True}))


def one_input(data: bytes):
    inputs[0] += 1
    src = source.Source(data)
    try:
        decoded = S.from_wire(source.record(src))
        S.to_wire(decoded)
    except Exception as e:
        reraise_if_fault(e)
    try:
        S.to_wire(source.value(src))
    except Exception as e:
        reraise_if_fault(e)
    if inputs[0] % 5000 == 0:
        m.reset()  # registered callables are dropped here, as on a reconnect


def main():
    import atheris

    atheris.instrument_func(source.value)
    atheris.instrument_func(source.record)
    prepare()
    atheris.Setup(sys.argv, one_input)
    atheris.Fuzz()


if __name__ == "__main__":
    main()
