"""Proxies finalised everywhere: on workers during resets, on the listener thread, inside the
send handler, at interpreter exit, and with the module's globals replaced or removed. Each
scenario runs in a fresh interpreter, so that a crash or a hang fails only its own test and
replaced globals do not leak into other suites. Where any Python exception is accepted, the
crash oracle of fuzz/ still re-raises those that mark a broken error convention."""
import textwrap

import pytest

from attack_support import FULL, FUZZ_DIR, WAIT

IMPORT = f"import sys\nsys.path.insert(0, {FUZZ_DIR!r})\n" + textwrap.dedent("""
    import concurrent.futures, gc, queue, random, sys, threading, time
    from oracle import reraise_if_fault
    import cellumo_master.python_server.cellumo.ostrel as ostrel
    m = ostrel.messaging
    WIRE_OBJ = lambda i: {"type": "Range", "value": i, "isSpec": True}
""")


def run(run_python, body, timeout=WAIT * 2):
    proc = run_python(IMPORT + textwrap.dedent(body), timeout=timeout)
    assert proc.returncode == 0, proc.stderr
    return proc


def test_dropped_on_workers_while_the_listener_answers_and_resets_happen(run_python):
    rounds = 4000 if FULL else 300
    proc = run(run_python, f"""
        q = queue.Queue()
        released = []
        def handler(message):
            q.put(message)
        def listen():
            rng = random.Random(3)
            while True:
                message = q.get()
                if message is None:
                    return
                if message["method"] == "DEL":
                    released.append(message["caller"])
                    result = None
                elif rng.random() < 0.3:
                    result = {{"type": "Array", "id": rng.randrange(10**6), "value": [WIRE_OBJ(5), WIRE_OBJ(6)]}}
                else:
                    result = WIRE_OBJ(rng.randrange(10**6))
                m.on_message({{"requestId": message["requestId"], "ok": True, "result": result}})
        m.set_send_handler(handler)
        listener = threading.Thread(target=listen, daemon=True)
        listener.start()
        stop = threading.Event()
        def resetter():
            while not stop.is_set():
                time.sleep(0.003)
                m.reset()
        def worker():
            ends = {{}}
            for _ in range({rounds}):
                try:
                    obj = ostrel.Excel.workbook
                    cycle = [obj, getattr(obj, "sheet", None)]
                    cycle.append(cycle)
                    del obj, cycle
                    ends["ok"] = ends.get("ok", 0) + 1
                except (concurrent.futures.CancelledError, RuntimeError) as e:
                    ends[type(e).__name__] = ends.get(type(e).__name__, 0) + 1
            return ends
        r = threading.Thread(target=resetter, daemon=True)
        r.start()
        with concurrent.futures.ThreadPoolExecutor(8) as pool:
            results = [f.result({WAIT}) for f in [pool.submit(worker) for _ in range(8)]]
        stop.set()
        r.join({WAIT})
        gc.collect()
        q.put(None)
        listener.join({WAIT})
        assert m.waiters == {{}}, m.waiters
        print(sum(r.get("ok", 0) for r in results), len(released))
    """)
    ok, released = map(int, proc.stdout.split())
    assert ok > 0 and released > 0


def test_finaliser_on_the_listener_thread_does_not_wait(run_python):
    # Only the listener could deliver the release's answer, so the release must not wait for it:
    # the callback's call returns without a time-out, and the listener goes on serving.
    run(run_python, """
        q = queue.Queue()
        m.set_send_handler(q.put)
        served = []
        def listen():
            while True:
                message = q.get()
                if message is None:
                    return
                if message["method"] == "CALL":
                    # the kernel runs a registered callable here, which drops a proxy
                    fn = m.get_callable(message["args"][0]["value"]["value"])
                    fn()
                served.append(message["method"])
                m.on_message({"requestId": message["requestId"], "ok": True,
                              "result": {"type": "Null"}})
        listener = threading.Thread(target=listen, daemon=True)
        listener.start()
        holder = [ostrel.OfficeJsObject(41, "Range")]
        assert ostrel.GetSetting(lambda: holder.clear()) is None
        assert ostrel.Excel.after is None   # the listener still serves
        q.put(None)
        listener.join(10)
        assert m.waiters == {}, m.waiters
        assert served[:3] == ["CALL", "DEL", "GET"], served
    """)


def test_finalised_inside_the_handler_and_inside_on_message(run_python):
    run(run_python, """
        depth = [0]
        deepest = [0]
        chain = [0]
        def handler(message):
            depth[0] += 1
            deepest[0] = max(deepest[0], depth[0])
            try:
                if message["method"] == "GET":
                    chain[0] = 3
                if chain[0] > 0:
                    # a release from inside the handler, whose own send makes the next one
                    chain[0] -= 1
                    p = ostrel.OfficeJsObject(depth[0], "Range")
                    del p
                if message["method"] == "GET":
                    box = [ostrel.OfficeJsObject(900, "Range")]
                    box.append(box)             # cyclic garbage the collector may pick up here
                m.on_message({"requestId": message["requestId"], "ok": True,
                              "result": {"type": "Int", "value": depth[0]}})
            finally:
                depth[0] -= 1
        m.set_send_handler(handler)
        for _ in range(200):
            assert isinstance(ostrel.Excel.x, int)
        gc.collect()
        assert m.waiters == {}
        assert deepest[0] == 1, deepest   # the handler is never entered twice on one thread
    """)


@pytest.mark.parametrize("answer", ["never", "synchronously"])
def test_interpreter_exit_with_live_proxies_and_blocked_workers(run_python, answer):
    proc = run_python(IMPORT + textwrap.dedent(f"""
        if "{answer}" == "never":
            # every release at exit waits out its timeout, shortened here
            Messaging = ostrel.Messaging
            m.send_request_sync = lambda req, timeout=0.02: Messaging.send_request_sync(m, req, timeout)
            m.set_send_handler(lambda message: None)
        else:
            m.set_send_handler(lambda message: m.on_message(
                {{"requestId": message["requestId"], "ok": True, "result": {{"type": "Null"}}}}))
        keep = [ostrel.OfficeJsObject(i, "Range") for i in range(50)]
        cyc = [ostrel.OfficeJsArray(7), ostrel.OfficeJsDict(8)]
        cyc[0].append(cyc)
        cyc[1]["me"] = cyc
        ostrel.anchor = keep     # module state reaching proxies
        ready = threading.Barrier(5)
        def blocked():
            ready.wait()
            try:
                m.send_request_sync({{"method": "GET"}}, 3600.0)
            except BaseException as e:
                reraise_if_fault(e)
        for _ in range(4):
            threading.Thread(target=blocked, daemon=True).start()
        ready.wait()
        time.sleep(0.05)
        print("exiting")
    """), timeout=WAIT)
    assert proc.returncode == 0, proc.stderr
    assert proc.stdout.strip() == "exiting"
    # Proxies finalised while the interpreter shuts down send nothing and report nothing.
    assert proc.stderr == ""


def test_globals_removed_or_replaced(run_python):
    run(run_python, """
        m.set_send_handler(lambda message: m.on_message(
            {"requestId": message["requestId"], "ok": True, "result": {"type": "Range", "value": 3, "isSpec": True}}))
        p = ostrel.OfficeJsObject(5, "Function")
        arr = ostrel.Serializer.from_wire({"type": "Array", "id": 1, "value": []})

        def expect(fn, *types):
            try:
                fn()
            except types as e:
                reraise_if_fault(e)
                return
            except BaseException as e:
                raise AssertionError(f"{fn}: unexpected {type(e).__name__}: {e}")

        saved = dict(vars(ostrel))
        names = ["messaging", "Serializer", "OfficeJsObject", "OfficeJsArray", "OfficeJsDict",
                 "Context", "Excel", "_cw__getattr__", "_cw__getitem__", "_cw__setattr__",
                 "_cw__call__", "_cw__del__", "_internal_officejs_names"]
        odd = [None, 5, "text", object(), [], {}, lambda *a, **k: 1 / 0, type("T", (), {})]
        ops = [lambda: p.attr, lambda: p[1], lambda: setattr(p, "x", 1), lambda: p(1, k=[2]),
               lambda: arr.attr, lambda: arr(), lambda: ostrel.Serializer.to_wire([p, len, {1: arr}]),
               lambda: saved["Serializer"].from_wire({"type": "Dict", "id": 2, "value": {"a": {"type": "Array", "id": 3}}}),
               lambda: saved["Serializer"].from_wire({"type": "Range", "value": 9, "isSpec": True}),
               lambda: saved["messaging"].reset(), lambda: ostrel.OfficeJsObject(9, "Range")]
        for name in names:
            for replacement in [...] + odd:
                if replacement is ...:
                    vars(ostrel).pop(name, None)
                else:
                    setattr(ostrel, name, replacement)
                for op in ops:
                    expect(op, Exception)
                for i in range(5):
                    try:
                        q = saved["OfficeJsObject"](100 + i, "Range")  # needs `messaging`
                    except Exception as e:
                        reraise_if_fault(e)
                        assert name == "messaging"
                    else:
                        del q
                gc.collect()
                vars(ostrel).update(saved)
        # with everything back, the bridge works again
        m.reset()
        p2 = ostrel.OfficeJsObject(5, "Function")
        assert p2(1)._internal_id == 3
        assert m.waiters == {}
    """)


def test_messaging_replaced_by_hostile_objects(run_python):
    run(run_python, """
        class Weird:
            def __eq__(self, other):
                raise ValueError("no compare")
            __hash__ = None
        class Hostile:
            _guid = Weird()
            def send_request_sync(self, req, timeout=1.0):
                # drops proxies, re-enters the bridge, returns odd responses
                q = ostrel.OfficeJsObject(1, "Range")
                del q
                return {"ok": True, "result": {"type": "Array", "id": None}}
            def register_callable(self, fn):
                return 5
        real = m
        p = ostrel.OfficeJsObject(5, "Function")
        for hostile in [Hostile(), type("G", (), {"_guid": real._guid,
                        "send_request_sync": lambda self, req: None,
                        "register_callable": lambda self, fn: None})()]:
            ostrel.messaging = hostile
            for op in [lambda: p.attr, lambda: p[0], lambda: setattr(p, "x", len), lambda: p(len),
                       lambda: ostrel.Serializer.to_wire(len), lambda: ostrel.OfficeJsObject(2, "X")]:
                try:
                    op()
                except Exception as e:
                    reraise_if_fault(e)
            gc.collect()
        ostrel.messaging = real
    """)


def test_messaging_methods_on_an_instance_with_odd_attributes(run_python):
    run(run_python, """
        for attr, value in [("waiters", None), ("waiters", []), ("_waiters_lock", None),
                            ("_callable_registry", 3), ("_callable_lock", object()),
                            ("_next_callable_id", "x"), ("_guid", 12), ("_send_handler", 5)]:
            inst = ostrel.Messaging()
            inst.set_send_handler(lambda message: None)
            setattr(inst, attr, value)
            for op in [lambda: inst.send_request_sync({}, 0.01), lambda: inst.on_message({"requestId": "a"}),
                       lambda: inst.reset(), lambda: inst.register_callable(len),
                       lambda: inst.get_callable("x"), lambda: inst.unregister_callable("x")]:
                try:
                    op()
                except Exception as e:
                    reraise_if_fault(e)
    """)
