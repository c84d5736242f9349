"""The README's bench table is the bench's own output: it covers exactly the bench's sections and
reads as the generator would write it from bench/results.json."""
import re
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT))

from bench import published, report  # noqa: E402
from bench.__main__ import SECTIONS  # noqa: E402


def _generated(readme):
    start = readme.index(published.BEGIN) + len(published.BEGIN)
    return readme[start:readme.index(published.END, start)]


def test_readme_table_is_the_generated_one_and_names_every_section():
    readme = (ROOT / "README.md").read_text()
    part = _generated(readme)
    assert part == "\n" + published.table(published.load(), SECTIONS), (
        "README.md's bench table differs from bench/results.json: run the bench, do not edit it")
    named = set(re.findall(r"^\| `(\w+)`", part, re.M))
    assert named - set(SECTIONS) == set(), f"the README names sections the bench lacks: {named - set(SECTIONS)}"
    assert set(SECTIONS) - named == set(), f"the README misses bench sections: {set(SECTIONS) - named}"
    assert set(published.load()) <= set(SECTIONS)


def test_a_run_replaces_only_its_own_sections(tmp_path):
    results, readme = tmp_path / "results.json", tmp_path / "README.md"
    readme.write_text(f"intro\n{published.BEGIN}\nold\n{published.END}\noutro\n")
    first = [report.Row("1 a", "x / floor", "1.10x", "<= 1.2x", True, bench="a"),
             report.Row("2 b", "y", "3", bench="b")]
    published.publish(first, [("cpu", "one")], "full", ["a", "b"], results=results, readme=readme,
                      order=("a", "b", "c"))
    published.publish([report.Row("2 b", "y", "4", bench="b")], [("cpu", "two")], "quick", ["b"],
                      results=results, readme=readme, order=("a", "b", "c"))
    text = readme.read_text()
    assert text.startswith("intro\n") and text.endswith(f"{published.END}\noutro\n") and "old" not in text
    assert "| `a` 1 a | x / floor | 1.10x | <= 1.2x | met |" in text
    assert "| `b` 2 b | y | 4 | report | - |" in text and "| 3 |" not in text
    assert "| `c` | not run yet" in text
    sections = published.load(results)
    assert sections["a"]["size"] == "full" and sections["b"]["size"] == "quick"
    assert sections["b"]["facts"] == [["cpu", "two"]]
