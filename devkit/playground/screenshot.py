"""`python -m devkit.playground.screenshot FILE.png [RESTARTED.png]` (`make screenshot`): the
README's pictures of the playground, taken in Chromium. The first: the starter script run, its
workbook in the grid, and the suggestion list open after a typed ".". The second: a script that
swallows every interrupt, stopped by restarting its interpreter, with the workbook of the first
run still in the grid. Needs what the browser tests need."""
import argparse
import os
import sys

from .browser import PlaygroundProcess, browser_missing, launch

VIEWPORT = {"width": 1400, "height": 820}


IGNORES_STOP = """import time

print("retrying until it works...")
while True:
    try:
        time.sleep(0.2)
    except:  # swallows Stop's interrupt too
        pass
"""


def take(path, restarted_path=None):
    from playwright.sync_api import expect, sync_playwright

    server = PlaygroundProcess()
    try:
        server.warm_up()
        with sync_playwright() as pw:
            browser = launch(pw)
            try:
                page = browser.new_page(viewport=VIEWPORT)
                page.set_default_timeout(60_000)
                page.goto(server.url)
                expect(page.locator("body")).to_have_attribute("data-ready", "true")
                expect(page.locator("#run")).to_be_enabled()
                page.locator("#run").click()
                expect(page.locator("body")).to_have_attribute("data-runs", "1")
                page.evaluate("""() => {
                    const e = monaco.editor.getEditors()[0]; const m = e.getModel(); const l = m.getLineCount();
                    e.setPosition({lineNumber: l, column: 1}); e.focus(); }""")
                page.keyboard.type("sales.")
                expect(page.locator(".suggest-widget .monaco-list-row").first).to_be_visible()
                page.mouse.move(1, 1)
                os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
                page.screenshot(path=path)
                if restarted_path:
                    _restarted(page, expect, restarted_path)
            finally:
                browser.close()
    finally:
        server.stop()


def _restarted(page, expect, path):
    page.keyboard.press("Escape")
    page.evaluate("([text]) => window.playground.setText('main', text)", [IGNORES_STOP])
    page.locator("#run").click()
    expect(page.locator("#output")).to_contain_text("retrying")
    page.locator("#stop").click()
    expect(page.locator("#status")).to_have_text("stopped; interpreter restarted")
    expect(page.locator("#run")).to_be_enabled()
    page.evaluate("() => document.activeElement.blur()")
    page.mouse.move(1, 1)
    page.screenshot(path=path)


def main(argv=None):
    parser = argparse.ArgumentParser(prog="python -m devkit.playground.screenshot", description=__doc__)
    parser.add_argument("path", help="where to write the PNG")
    parser.add_argument("restarted", nargs="?", help="where to write the picture of a restarted run")
    args = parser.parse_args(argv)
    missing = browser_missing()
    if missing:
        print(f"cannot take the screenshot: {missing}", file=sys.stderr)
        return 2
    take(args.path, args.restarted)
    print(f"wrote {args.path}" + (f" and {args.restarted}" if args.restarted else ""))
    return 0


if __name__ == "__main__":
    sys.exit(main())
