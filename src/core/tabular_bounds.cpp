// Column bounds: where each column of a table starts and ends, from the
// groups of its heading match.
#include <algorithm>
#include <optional>
#include "core/nontabular_regexes.hpp"
#include "core/tabular.hpp"
#include "pyutil/ops.hpp"
#include "pyutil/text.hpp"

namespace core::tabular {

using namespace pyutil;

namespace {

// Where the text of heading group `g` stands, from the start of its own line.
struct GroupPlace {
    Py_ssize_t start, end;
};

// Places of the groups of an re.Match laid out as the heading expression of
// `lines` heading lines of `n` columns lays them out; none for anything else.
class HeadingGroups {
public:
    HeadingGroups(Handle m, Py_ssize_t lines, Py_ssize_t n) : m_(m), n_(n) {
        if (!nontabular::is_match_object(m)) return;
        Object text = getattr(m, PYU_STR("string"));
        if (!is_str(text) || length(call_method(m, PYU_STR("groups"), {})) != lines * (2 * n + 1)) return;
        text_ = text;
        lines_ = lines;
    }
    explicit operator bool() const { return lines_ > 0; }
    Py_ssize_t lines() const { return lines_; }

    // The text of column `i` on heading line `r`: where it stands in its line,
    // or nothing when it matched the empty text.
    std::optional<GroupPlace> text_of(Py_ssize_t r, Py_ssize_t i) const {
        Object span = call_method(m_, PYU_STR("span"), {integer(r * (2 * n_ + 1) + 2 * i + 2)});
        const Py_ssize_t start = as_index(getitem(span, integer(0))), end = as_index(getitem(span, integer(1)));
        if (start < 0 || end == start) return std::nullopt;
        const CodePoints t(text_);
        Py_ssize_t line = start;
        while (line > 0 && t[line - 1] != '\n') --line;
        return GroupPlace{start - line, end - line};
    }

private:
    Handle m_;
    Py_ssize_t n_;
    Object text_;
    Py_ssize_t lines_ = 0;
};

// Whether the heading lines are lists of `n` texts each in a list or tuple,
// read without running Python code.
bool plain_lines_of(Handle header_fields, Py_ssize_t n) {
    PyObject* lines = header_fields.ptr();
    if (!PyList_CheckExact(lines) && !PyTuple_CheckExact(lines)) return false;
    for (Py_ssize_t r = 0; r < PySequence_Fast_GET_SIZE(lines); ++r) {
        PyObject* line = PySequence_Fast_GET_ITEM(lines, r);
        if (!PyList_CheckExact(line) || PyList_GET_SIZE(line) != n) return false;
    }
    return true;
}

// A column whose text on the first heading line matched the empty text (a
// blank slot, as "Flow" above "ctrl" leaves one beside it) has no width there:
// it takes its start (its end, right-justified) from the first heading line
// below on which its text matched something, at that text's place in its own
// line.  The columns stay in order, each starting where the one before ends.
void place_blank_slots(const HeadingGroups& groups, Py_ssize_t n, bool right_justified, Bounds& bounds) {
    // the edge that a blank slot moves: a column's start, or its end
    std::vector<Py_ssize_t> edge(n);
    std::vector<bool> moved(n, false);
    bool any = false;
    for (Py_ssize_t i = 0; i < n; ++i) {
        edge[i] = right_justified ? bounds[i].second : bounds[i].first;
        if ((!right_justified && i == 0) || groups.text_of(0, i)) continue;
        for (Py_ssize_t r = 1; r < groups.lines(); ++r) {
            if (auto place = groups.text_of(r, i)) {
                edge[i] = right_justified ? place->end : place->start;
                moved[i] = any = true;
                break;
            }
        }
    }
    if (!any) return;
    for (Py_ssize_t i = 0; i < n; ++i) {
        if (!moved[i]) continue;
        const Py_ssize_t low = i ? edge[i - 1] : 0;
        Py_ssize_t high = PY_SSIZE_T_MAX;
        for (Py_ssize_t j = i + 1; j < n; ++j)
            if (!moved[j]) {
                high = std::max(low, edge[j]);
                break;
            }
        edge[i] = std::clamp(edge[i], low, high);
    }
    if (right_justified) {
        for (Py_ssize_t i = 0; i < n; ++i) bounds[i] = {i ? edge[i - 1] : 0, edge[i]};
        return;
    }
    // the last column keeps its width: its text and what follows it on the first line
    const Py_ssize_t last_width = bounds[n - 1].second - bounds[n - 1].first;
    for (Py_ssize_t i = 0; i + 1 < n; ++i) bounds[i] = {edge[i], edge[i + 1]};
    bounds[n - 1] = {edge[n - 1], edge[n - 1] + last_width};
}

}  // namespace

Bounds column_bounds(Handle self, Handle m, Handle header_fields, bool right_justified) {
    // (each in a statement of its own: the groups are read in their order)
    auto group_length = [&](Py_ssize_t k) { return length(call_method(m, PYU_STR("group"), {integer(k)})); };
    bool multi = false;
    auto columns = [&] {
        multi = truth(getattr(self, PYU_STR("multi_line")));
        return length(multi ? getitem(header_fields, integer(0)) : borrow(header_fields));
    };
    Bounds bounds;
    Py_ssize_t n = 0;
    if (right_justified) {
        n = columns();
        Py_ssize_t end = 0;
        for (Py_ssize_t k = 1; k <= 2 * n - 1; k += 2) {
            const Py_ssize_t start = end;
            end += group_length(k);
            end += group_length(k + 1);
            bounds.emplace_back(start, end);
        }
    } else {
        Py_ssize_t first = group_length(1);
        first += group_length(2);
        try {
            first += group_length(3);
        } catch (PyError&) {
            // a heading of one column has no group 3
            if (!CaughtError::fetch_if(PyExc_IndexError)) throw;
        }
        bounds.emplace_back(0, first);
        n = columns();
        const Py_ssize_t groups = length(call_method(m, PYU_STR("groups"), {}));
        Py_ssize_t end = first;
        for (Py_ssize_t k = 4; k <= 2 * n; k += 2) {
            const Py_ssize_t start = end;
            end += group_length(k);
            if (k + 1 < groups) end += group_length(k + 1);
            bounds.emplace_back(start, end);
        }
    }
    if (multi && n > 0 && plain_lines_of(header_fields, n))
        if (HeadingGroups groups{m, length(header_fields), n}) place_blank_slots(groups, n, right_justified, bounds);
    return bounds;
}

Object bounds_list(const Bounds& bounds) {
    Object list = new_list();
    for (auto& [start, end] : bounds) append(list, tuple({integer(start), integer(end)}));
    return list;
}

}  // namespace core::tabular
