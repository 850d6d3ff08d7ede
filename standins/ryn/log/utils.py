"""Text decoration for step headings in test-script logs."""


def banner(text):
    """Return ``text`` framed in a box, one framed row per line."""
    lines = str(text).splitlines() or [""]
    width = max(len(line) for line in lines)
    rule = "+" + "-" * (width + 2) + "+"
    rows = ["| " + line.ljust(width) + " |" for line in lines]
    return "\n".join([rule, *rows, rule])
