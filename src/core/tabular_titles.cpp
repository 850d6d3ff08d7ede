// Titled tables: the output cut into its tables at their title lines, each
// aligned and put after its title.
#include <algorithm>
#include <cstring>
#include "core/tabular.hpp"
#include "pyutil/ops.hpp"
#include "pyutil/text.hpp"

namespace core::tabular {

using namespace pyutil;

namespace {

// "(?P<Title>[^/\s]+/[^/\s]+/[^/\s]+/\S+)\s*#$" matched at the start of a line
// (a device prompt); lines hold no line feed here.
bool is_prompt(const CodePoints& t, Py_ssize_t i, Py_ssize_t end) {
    for (int part = 0; part < 3; ++part) {
        const Py_ssize_t from = i;
        while (i < end && t[i] != '/' && !is_space(t[i])) ++i;
        if (i == from || i == end || t[i] != '/') return false;
        ++i;
    }
    if (end - i < 2 || t[end - 1] != '#' || is_space(t[i])) return false;
    while (i < end - 1 && !is_space(t[i])) ++i;
    while (i < end - 1 && is_space(t[i])) ++i;
    return i == end - 1;
}

bool has_dashes(const CodePoints& t, Py_ssize_t i, Py_ssize_t end) {
    for (; i + 2 < end; ++i)
        if (t[i] == '-' && t[i + 1] == '-' && t[i + 2] == '-') return true;
    return false;
}


// A line of the stored output: code points [start, end) of a str that the
// cut keeps alive.
struct LineRef {
    PyObject* text;
    Py_ssize_t start, end;
};

// The lines, each followed by a line feed, as one str with its exact largest code point.
Object joined_lines(const std::vector<LineRef>& lines) {
    Py_ssize_t total = 0;
    Py_UCS4 maxchar = '\n';
    for (const LineRef& line : lines) {
        total += line.end - line.start + 1;
        if (PyUnicode_IS_ASCII(line.text)) continue;
        const CodePoints t(line.text);
        for (Py_ssize_t i = line.start; i < line.end; ++i) maxchar = std::max(maxchar, t[i]);
    }
    Object out = own(PyUnicode_New(total, maxchar));
    const int kind = PyUnicode_KIND(out.ptr());
    void* data = PyUnicode_DATA(out.ptr());
    Py_ssize_t pos = 0;
    // copied here: PyUnicode_CopyCharacters refuses ASCII characters of a latin-1
    // str for an ASCII one when the str has other characters before them
    for (const LineRef& line : lines) {
        const Py_ssize_t n = line.end - line.start;
        if (PyUnicode_KIND(line.text) == kind) {
            memcpy(static_cast<char*>(data) + kind * pos,
                   static_cast<const char*>(PyUnicode_DATA(line.text)) + kind * line.start, kind * n);
        } else {
            const CodePoints t(line.text);
            for (Py_ssize_t i = 0; i < n; ++i) PyUnicode_WRITE(kind, data, pos + i, t[line.start + i]);
        }
        pos += n;
        PyUnicode_WRITE(kind, data, pos++, '\n');
    }
    return out;
}

// ---- titled tables ---------------------------------------------------------------

// Whether self.<name> is read and written the generic way, running no user code.
bool plain_attribute(Handle self, Handle name) {
    return Py_TYPE(self.ptr())->tp_setattro == PyObject_GenericSetAttr && reads_plainly(self, name);
}

// Collects the lines of each titled table, titles in order of first appearance.
// `prompt_match` is the match of the prompt expression as the bound `compile`
// made it, or null while that is re's own (the C++ test stands for it).
class TitleCut {
public:
    TitleCut(Object prompt_match, Object title_match)
        : prompt_(std::move(prompt_match)), match_(std::move(title_match)), titles_(new_dict()) {}

    // One line of the output, `line` being the str text[start:end] or null.
    void add(Handle text, Py_ssize_t start, Py_ssize_t end, Object line) {
        const CodePoints t(text);
        if (end == start) return;
        if (prompt_) {
            if (!line) line = substring(text, start, end);
            if (truth(invoke(prompt_, line))) return;
        } else if (is_prompt(t, start, end)) {
            return;
        }
        if (has_dashes(t, start, end)) return;
        if (!line) line = substring(text, start, end);
        if (truth(invoke(match_, line))) {
            // a title seen again starts its table afresh, where it first stood
            if (Object known = dict_get(titles_, line)) {
                current_ = as_index(known);
                tables_[current_].clear();
            } else {
                current_ = static_cast<Py_ssize_t>(tables_.size());
                tables_.emplace_back();
                title_lines_.push_back(line);
                dict_set(titles_, line, integer(current_));
            }
            title_ = line;
        }
        if (!title_) return;
        // line != title, the exact strs of a str output compared in place
        const bool other = is_exact_str(line) && is_exact_str(title_) ? PyUnicode_Compare(line.ptr(), title_.ptr()) != 0
                                                                      : not_equal(line, title_);
        if (other) tables_[current_].push_back({text.ptr(), start, end});
    }

    // self._text_to_parse += "{f}\n{z}" for each title f and its table z as
    // align_table gives it back.  While align_table is the base's own and the
    // attribute is read and written the generic way, nobody sees the text
    // grow, so it is joined once (what was joined is left on the object when
    // an alignment fails).
    void append_tables(Handle self, const Settings& s) const {
        Handle name = PYU_STR("_text_to_parse");
        AttrCache attrs(self);
        Hook align(attrs, PYU_STR("align_table"), base.align_table);
        TextBuilder pieces;  // the tables joined so far, not yet on the object
        bool joining = true;
        try {
            for (size_t k = 0; k < title_lines_.size(); ++k) {
                Object table = joined_lines(tables_[k]);
                if (joining && !(align.native() && plain_attribute(self, name))) {
                    if (k) setattr(self, name, pieces.joined());
                    joining = false;
                }
                Object aligned = align.call(table, s.header_fields, s.label_fields, s.delimiter, s.right_justified);
                Object piece = format(PYU_STR("{}\n{}"), {title_lines_[k], aligned});
                if (joining) pieces << piece;
                else setattr(self, name, inplace_add(getattr(self, name), piece));
            }
        } catch (const PyError&) {
            if (joining) {
                CaughtError error = CaughtError::fetch();
                setattr(self, name, pieces.joined());
                error.raise_again();
            }
            throw;
        }
        if (joining) setattr(self, name, pieces.joined());
    }

private:
    Object prompt_, match_;
    Object titles_;  // title line -> its table's position
    std::vector<Object> title_lines_;  // in order of first appearance
    std::vector<std::vector<LineRef>> tables_;
    Py_ssize_t current_ = -1;
    Object title_;  // the current title line
};

Handle prompt_expression() { return PYU_STR("(?P<Title>[^/\\s]+/[^/\\s]+/[^/\\s]+/\\S+)\\s*#$"); }

}  // namespace

// The output cut into its titled tables, each aligned and put after its title line.
// The prompt expression, then the title pattern, are compiled by `compile` as it is bound then.
Object cut_titled_tables(Handle self, Handle stored, const Settings& s) {
    setattr(self, PYU_STR("_text_to_parse"), empty_str());
    Object compile = global(PYU_STR("compile"));
    Object prompt = compile.is(re_compile()) ? Object() : getattr(call(compile, {prompt_expression()}), PYU_STR("match"));
    TitleCut cut(prompt, getattr(compile_user_pattern(s.title), PYU_STR("match")));
    std::vector<Object> given;  // the lines of another object's splitlines(), kept for the cut
    if (is_exact_str(stored)) {
        const CodePoints t(stored);
        for (Py_ssize_t start = 0; start < t.size();) {
            Py_ssize_t end = start;
            while (end < t.size() && !Py_UNICODE_ISLINEBREAK(t[end])) ++end;
            Py_ssize_t following = end < t.size() ? end + 1 : end;
            if (end < t.size() && t[end] == '\r' && following < t.size() && t[following] == '\n') ++following;
            cut.add(stored, start, end, Object());
            start = following;
        }
    } else {
        // what the cut makes of another object: its own splitlines(), whose str lines join into the tables
        Object it = iter(call_method(stored, PYU_STR("splitlines"), {}));
        while (Object line = next(it)) {
            given.push_back(line);
            if (is_str(line)) {
                cut.add(line, 0, CodePoints(line).size(), line);
            } else if (truth(line)) {
                // re's prompt match raises for anything but a str; another one may drop the line
                if (!prompt) call_method(call(re_compile(), {prompt_expression()}), PYU_STR("match"), {line});
                else if (truth(invoke(prompt, line))) continue;
                raise(PyExc_TypeError, "expected string or bytes-like object");
            }
        }
    }
    cut.append_tables(self, s);
    return getattr(self, PYU_STR("_text_to_parse"));
}

}  // namespace core::tabular
