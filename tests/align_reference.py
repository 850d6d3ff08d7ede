"""column_result_t.align_table written out in plain Python, step by step, with
re's own functions: what the tests compare the module with, and what the
benchmarks time it against.  Heading texts hold no inline flag group."""
import re

MAXIMUM_SPACES = 20
SEPARATOR = "#_D_#"
EMPTY_MARKER = "header_missing"
ROW_END = "new_line"


def align_table(multi_line, table, header_fields, delimiter, right_justified):
    d = "|" if delimiter == "" else delimiter
    if multi_line:
        the_length = len(header_fields[0])
        if any(len(line) != the_length for line in header_fields):
            raise AttributeError(
                "Header fields are not of the same length. Please provide equal length header fields")
    # the marker goes in as it stands, whatever the delimiter holds
    marker = d + EMPTY_MARKER + d
    text = re.sub(re.escape(d) + " +" + re.escape(d), lambda m: marker, table)
    text = text.replace(d, SEPARATOR)
    rows = []
    for piece in text.split("\n"):
        cells = piece.strip().split(SEPARATOR)
        # an empty cell between two delimiters keeps its column
        rows.append([cells[0]] + [c or EMPTY_MARKER for c in cells[1:-1]] + cells[1:][-1:])
    headings = [list(line) for line in header_fields] if multi_line else [list(header_fields)]

    header_rows, data_rows = [], []
    for row in rows:
        if len(row) == 1 and not re.search("   +", row[0]):
            continue
        test = [""] if multi_line and len(row) == the_length + 1 and row[0] == "" else []
        test += [c for c in row if c]
        header = False
        for line in headings:
            matched = []
            for cell, heading in zip(test, line):
                if re.compile(heading).match(cell.strip()) and heading not in matched:
                    matched.append(heading)
            if len(matched) > 1:
                header_rows.append(row)
                header = True
        if not header:
            data_rows.append(row)
    if not header_rows:
        return table

    strip = str.rstrip if right_justified else str.lstrip
    width = max(len(c) for c in header_rows[0]) + MAXIMUM_SPACES
    # no cell wider than the columns
    width = max([width] + [len(strip(c)) for row in header_rows + data_rows for c in row])

    def joined(rows):
        elements = [strip(c) for row in rows for c in row + [ROW_END] if c]
        return d.join(e.rjust(width) if right_justified else e.ljust(width) for e in elements)

    header, body = joined(header_rows), joined(data_rows)
    if right_justified:
        header = re.sub(r"(\s)+new_line+", "\n", header)
        body = re.sub(r"(\s)+new_line", "\n", body)
    else:
        header = re.sub(r"new_line(\s)+", "\n", header)
        body = re.sub(r"new_line(\s)+", "\n", body)
    missing = r"(\s)+header_missing" if right_justified else r"header_missing(\s)+"
    header = re.sub(missing, " " * width, header)
    body = re.sub(missing, " " * width, body)
    return "{}{}+----+\n{}{}\n".format(d, header, d, body)
