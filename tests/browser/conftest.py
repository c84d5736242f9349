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
    if chromium.sanitized():
        pytest.skip("the playground is not tested under the sanitizers")
    if os.environ.get("CI"):
        pytest.fail(f"the browser tests cannot run: {reason}", pytrace=False)
    pytest.skip(f"browser tests skipped: {reason}")


@pytest.fixture(scope="session")
def playground():
    from devkit.playground.app import monaco_missing

    missing = "sanitizers" if chromium.sanitized() else monaco_missing()
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
def loaded_page(browser, playground):
    """The page, loaded once: loading Monaco costs seconds on a busy machine, so each test gets
    the page reset instead (see `page`)."""
    from playwright.sync_api import expect

    context = browser.new_context(viewport={"width": 1400, "height": 820})
    p = context.new_page()
    p.set_default_timeout(15_000)
    p.errors = []
    p.on("pageerror", lambda exc: p.errors.append(str(exc)))
    p.goto(playground.url)
    # The page says ready once the editor is warm for its tabs, seconds on a busy machine.
    expect(p.locator("body")).to_have_attribute("data-ready", "true", timeout=180_000)
    yield p
    context.close()


@pytest.fixture
def page(loaded_page):
    """The page as it starts: the starter tabs and texts, no output, no widget open, no script
    running. Fails the test if the page raised an error meanwhile."""
    from playwright.sync_api import expect

    p = loaded_page
    p.mouse.move(1, 1)
    p.keyboard.press("Escape")
    if p.locator("#stop").is_enabled():
        p.locator("#stop").click()
    expect(p.locator("#run")).to_be_enabled()
    p.evaluate("() => window.playground.reset()")
    del p.errors[:]
    yield p
    assert not p.errors, f"the page raised: {p.errors}"
