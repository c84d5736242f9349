"""The fuzz harnesses of fuzz/ replayed over seeded random inputs, without the fuzzer: the
same entry points and value builders, a fixed number of inputs."""
import os
import random
import sys

import pytest

from attack_support import report, size

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "fuzz"))


@pytest.mark.parametrize("harness", ["fuzz_wire", "fuzz_args"])
def test_replay(ostrel, harness):
    module = __import__(harness)
    module.prepare()
    rng = random.Random(harness)
    count = size(4000, 100_000)
    try:
        for _ in range(count):
            module.one_input(rng.randbytes(rng.randrange(0, 300)))
    finally:
        ostrel.messaging.set_send_handler(None)
        ostrel.messaging.reset()
    report(f"replay {harness}", inputs=count)
