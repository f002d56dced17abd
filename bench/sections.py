"""The sections that benchmarks other than bench.py keep in docs/performance.md,
after its marker: each replaces its own, found by its heading, and leaves the
others."""
import os
import re

MARKER = "<!-- sections of other benchmarks -->"
OUT = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "docs", "performance.md")


def put_section(heading, lines):
    with open(OUT) as f:
        text = f.read()
    head, _, tail = text.partition(MARKER)
    if not _:
        head += "\n"
    sections = [part.strip("\n") for part in re.split(r"(?m)^(?=## )", tail) if part.strip()]
    section = "\n".join([heading, ""] + lines).strip("\n")
    sections = [section if s.split("\n", 1)[0] == heading else s for s in sections]
    if section not in sections:
        sections.append(section)
    with open(OUT, "w") as f:
        f.write(head + MARKER + "\n" + "\n\n".join(sections) + "\n")
