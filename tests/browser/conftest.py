"""The playground in a real browser: one playground server and one Chromium for the session, a
fresh load of the page for each test. Without Chromium (or Playwright, or Monaco) the browser
tests skip with the reason; under CI (CI set) they fail instead, so a broken set-up cannot pass
unnoticed."""
import os
import sys

import pytest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
if ROOT not in sys.path:
    sys.path.insert(0, ROOT)

from devkit.playground import browser as chromium  # noqa: E402


def _unavailable(reason):
    if os.environ.get("CI"):
        pytest.fail(f"the browser tests cannot run: {reason}", pytrace=False)
    pytest.skip(f"browser tests skipped: {reason}")


@pytest.fixture(scope="session")
def playground():
    from devkit.playground.app import monaco_missing

    missing = monaco_missing()
    if missing:
        _unavailable(missing)
    server = chromium.PlaygroundProcess()
    try:
        server.warm_up()
        yield server
    finally:
        server.stop()


@pytest.fixture(scope="session")
def browser():
    reason = chromium.browser_missing()
    if reason:
        _unavailable(reason)
    from playwright.sync_api import sync_playwright

    with sync_playwright() as pw:
        b = chromium.launch(pw)
        try:
            yield b
        finally:
            b.close()


@pytest.fixture(scope="session")
def context(browser):
    # One context keeps Monaco's files cached between the tests' page loads.
    ctx = browser.new_context(viewport={"width": 1400, "height": 820})
    yield ctx
    ctx.close()


@pytest.fixture
def page(context, playground):
    from playwright.sync_api import expect

    p = context.new_page()
    p.set_default_timeout(15_000)
    errors = []
    p.on("pageerror", lambda exc: errors.append(str(exc)))
    p.goto(playground.url)
    expect(p.locator("body")).to_have_attribute("data-ready", "true")
    expect(p.locator("#run")).to_be_enabled()
    yield p
    p.close()
    assert not errors, f"the page raised: {errors}"
