"""The native function type as the garbage collector sees it."""
import textwrap


def test_a_cycle_through_module_attribute_is_collected(run_python):
    # functools.wraps and friends may set __module__ to any object; a cycle through it must be
    # found by the collector like one through __doc__ or __dict__.
    proc = run_python(textwrap.dedent("""
        import gc, weakref
        from cellumo_master.python_server import lintora
        f = lintora.Lintora.__dict__["cleanup"]
        del lintora.Lintora.cleanup
        holder = [f]
        f.__module__ = holder
        ref = weakref.ref(f)
        del f, holder
        gc.collect()
        assert ref() is None
        print("ok")
    """))
    assert proc.returncode == 0, proc.stderr
    assert proc.stdout.strip() == "ok"
