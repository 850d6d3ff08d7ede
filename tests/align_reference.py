"""column_result_t.align_table written out in plain Python, step by step:
what the tests compare the module with, and what the benchmarks time it
against.  The regular-expression functions are re's own unless others are
given (an object with compile, search, sub and escape).  Heading texts hold no
inline flag group.

A delimiter with white space at an edge keeps it: each line, stripped, gets
that white space back at its ends (a bar at a line's end reads as the
delimiter), and the row-end and empty-cell steps run on each element alone,
so that they never take the delimiter's white space.

With `per_column` (the module's rule) a column is as wide as its longest cell
when that is longer than W; without it every cell is justified to W and a
longer one pushes the rest of its line aside."""
import re

MAXIMUM_SPACES = 20
SEPARATOR = "#_D_#"
EMPTY_MARKER = "header_missing"
ROW_END = "new_line"


def align_table(multi_line, table, header_fields, delimiter, right_justified, functions=re, per_column=True):
    d = "|" if delimiter == "" else delimiter
    if multi_line:
        the_length = len(header_fields[0])
        if any(len(line) != the_length for line in header_fields):
            raise AttributeError(
                "Header fields are not of the same length. Please provide equal length header fields")
    blank_edged = d != "" and (d[0].isspace() or d[-1].isspace())
    if blank_edged and d.strip() and "\n" not in d:
        lead, trail = d[:len(d) - len(d.lstrip())], d[len(d.rstrip()):]
        table_lines = [line.strip() for line in table.split("\n")]
        lines_text = "\n".join(lead + line + trail if line else line for line in table_lines)
    else:
        lines_text = table
    # the marker as a template that gives it as written, whatever the delimiter holds
    marker = (d + EMPTY_MARKER + d).replace("\\", "\\\\")
    text = functions.sub(functions.escape(d) + " +" + functions.escape(d), marker, lines_text)
    text = text.replace(d, SEPARATOR)
    rows = []
    for piece in text.split("\n"):
        cells = piece.strip().split(SEPARATOR)
        # an empty cell between two delimiters keeps its column
        rows.append([cells[0]] + [c or EMPTY_MARKER for c in cells[1:-1]] + cells[1:][-1:])

    header_rows, data_rows = [], []
    for row in rows:
        if len(row) == 1 and not functions.search("   +", row[0]):
            continue
        test = [""] if multi_line and len(row) == the_length + 1 and row[0] == "" else []
        test += [c for c in row if c]
        # header_fields as it stands for this row
        for line in header_fields if multi_line else [header_fields]:
            matched = set()
            for cell, heading in zip(test, line):
                if functions.compile(heading).match(cell.strip()):
                    matched.add(heading)
            if len(matched) > 1:
                header_rows.append(row)
        if row not in header_rows:
            data_rows.append(row)
    if not header_rows:
        return table

    strip = str.rstrip if right_justified else str.lstrip
    width = max(len(c) for c in header_rows[0]) + MAXIMUM_SPACES
    widths = {}  # column: its longest cell as written
    for row in header_rows + data_rows:
        for k, c in enumerate(c for c in row if c):
            widths[k] = max(widths.get(k, width), len(strip(c))) if per_column else width

    def element(c, k):
        e = strip(c)
        if e == EMPTY_MARKER:
            # step 12 makes it W blanks; the rest of its column's width stands where that step does not reach
            extra = " " * (widths[k] - width)
            return e.rjust(width) + extra if right_justified else extra + e.ljust(width)
        return e.rjust(widths[k]) if right_justified else e.ljust(widths[k])

    def elements_of(rows):
        elements = []
        for row in rows:
            elements += [element(c, k) for k, c in enumerate(c for c in row if c)]
            elements.append(ROW_END.rjust(width) if right_justified else ROW_END.ljust(width))
        return elements

    def stepped(text, header):
        if right_justified:
            text = functions.sub(r"(\s)+new_line+" if header else r"(\s)+new_line", "\n", text)
        else:
            text = functions.sub(r"new_line(\s)+", "\n", text)
        missing = r"(\s)+header_missing" if right_justified else r"header_missing(\s)+"
        return functions.sub(missing, " " * width, text)

    def block(rows, header):
        if blank_edged:
            return d.join(stepped(e, header) for e in elements_of(rows))
        return stepped(d.join(elements_of(rows)), header)

    return "{}{}+----+\n{}{}\n".format(d, block(header_rows, True), d, block(data_rows, False))
