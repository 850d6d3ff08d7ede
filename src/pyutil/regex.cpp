#include "pyutil/regex.hpp"
#include <algorithm>
#include <string>
#include <utility>
#include <vector>
#include "pyutil/errors.hpp"
#include "pyutil/names.hpp"
#include "pyutil/ops.hpp"

namespace pyutil {

bool is_flag_letter(Py_UCS4 c) {
    return c == 'a' || c == 'i' || c == 'L' || c == 'm' || c == 's' || c == 'u' || c == 'x';
}

Py_ssize_t flag_group_end(const CodePoints& at, Py_ssize_t i) {
    if (at.get(i) != '(' || at.get(i + 1) != '?' || !is_flag_letter(at.get(i + 2))) return i;
    Py_ssize_t j = i + 2;
    while (is_flag_letter(at.get(j))) ++j;
    return at.get(j) == ')' ? j + 1 : i;
}

Py_ssize_t class_end(const CodePoints& at, Py_ssize_t i) {
    const Py_ssize_t n = at.size();
    ++i;
    // a ']' right after '[' or '[^' is a literal member
    if (at.get(i) == '^') ++i;
    if (at.get(i) == ']') ++i;
    for (; i < n && at[i] != ']'; ++i)
        if (at[i] == '\\') ++i;
    return i < n ? i : n;
}

namespace {

// ---- the pattern read as re's parser reads it --------------------------------------

enum class Piece {
    Char,    // one code point outside classes
    Escape,  // a backslash and the code point after it
    Class,   // a character class, its brackets included
    Open,    // the '(' of a group, lookaround, conditional or comment
    Close,   // its ')'
    Flags,   // a global flag group "(?imsx)"
};

bool is_white(Py_UCS4 c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// The index after the token at i, an escape being one token.
Py_ssize_t token_end(const CodePoints& at, Py_ssize_t i) { return at[i] == '\\' ? i + 2 : i + 1; }

// Whether the global flag group [i, end) turns verbose mode on.
bool sets_verbose(const CodePoints& at, Py_ssize_t i, Py_ssize_t end) {
    for (Py_ssize_t k = i + 2; k < end - 1; ++k)
        if (at[k] == 'x') return true;
    return false;
}

// Verbose mode inside the group opened at i, `verbose` being the mode outside:
// a scoped flag group "(?x:...)" or "(?-x:...)" sets it.
bool verbose_inside(const CodePoints& at, Py_ssize_t i, bool verbose) {
    if (at.get(i + 1) != '?') return verbose;
    bool on = false, off = false;
    Py_ssize_t j = i + 2;
    for (; is_flag_letter(at.get(j)); ++j) on = on || at[j] == 'x';
    if (at.get(j) == '-')
        for (++j; is_flag_letter(at.get(j)); ++j) off = off || at[j] == 'x';
    if (at.get(j) != ':') return verbose;
    return (verbose || on) && !off;
}

// The index after the comment "(?#...)" that starts at i (it ends at its first
// ')' that no backslash escapes; past the size when unclosed), or i when none does.
Py_ssize_t comment_end(const CodePoints& at, Py_ssize_t i) {
    if (at.get(i) != '(' || at.get(i + 1) != '?' || at.get(i + 2) != '#') return i;
    Py_ssize_t j = i + 3;
    while (j < at.size() && at[j] != ')') j = token_end(at, j);
    return j + 1;
}

// Calls visit(piece, start, end) for the pieces of a pattern in order, the
// whole pattern being in verbose mode or not.  A comment "(?#...)" is an Open
// and, when it is closed, a Close; in verbose mode white space and '#'
// comments up to the line end are no pieces.  Not in verbose mode, stops at a
// global flag group that turns it on, returning false.
template <class Visit>
bool walk(const CodePoints& at, const bool verbose_pattern, Visit& visit) {
    bool verbose = verbose_pattern;
    const Py_ssize_t n = at.size();
    long depth = 0;
    std::vector<std::pair<long, bool>> outer;  // (depth, mode outside) of groups that changed the mode
    for (Py_ssize_t i = 0; i < n;) {
        const Py_UCS4 c = at[i];
        if (c == '\\') {
            visit(Piece::Escape, i, std::min(i + 2, n));
            i += 2;
        } else if (c == '[') {
            const Py_ssize_t end = std::min(class_end(at, i) + 1, n);
            visit(Piece::Class, i, end);
            i = end;
        } else if (verbose && is_white(c)) {
            ++i;
        } else if (verbose && c == '#') {
            while (i < n && at[i] != '\n') i = token_end(at, i);
            ++i;
        } else if (Py_ssize_t end = comment_end(at, i); end != i) {
            visit(Piece::Open, i, i + 1);
            if (end <= n) visit(Piece::Close, end - 1, end);
            i = end;
        } else if (Py_ssize_t end = flag_group_end(at, i); end != i) {
            if (!verbose_pattern && sets_verbose(at, i, end)) return false;
            visit(Piece::Flags, i, end);
            i = end;
        } else if (c == '(') {
            ++depth;
            if (bool inside = verbose_inside(at, i, verbose); inside != verbose) {
                outer.emplace_back(depth, verbose);
                verbose = inside;
            }
            visit(Piece::Open, i, i + 1);
            ++i;
        } else if (c == ')') {
            if (!outer.empty() && outer.back().first == depth) {
                verbose = outer.back().second;
                outer.pop_back();
            }
            --depth;
            visit(Piece::Close, i, i + 1);
            ++i;
        } else {
            visit(Piece::Char, i, i + 1);
            ++i;
        }
    }
    return true;
}

// walk(), read again in verbose mode from the start when a global flag group
// turns it on: the mode of the whole pattern once its global flags stand at
// the front.  `visit.restart()` forgets the first reading.  Returns whether
// the pattern was read again.
template <class Visit>
bool read(const CodePoints& at, Visit& visit) {
    if (walk(at, false, visit)) return false;
    visit.restart();
    walk(at, true, visit);
    return true;
}

// The global flag groups of a pattern: the run that already stands at its
// front, and the others with their flag letters.
struct FlagGroups {
    const CodePoints& at;
    Py_ssize_t front_end = 0;
    std::vector<std::pair<Py_ssize_t, Py_ssize_t>> moved;  // [start, end) of each
    std::u32string letters;
    bool verbose = false;  // one of them turns on verbose mode

    void operator()(Piece piece, Py_ssize_t i, Py_ssize_t end) {
        if (piece != Piece::Flags) return;
        verbose = verbose || sets_verbose(at, i, end);
        if (i == front_end) {
            front_end = end;
            return;
        }
        moved.emplace_back(i, end);
        for (Py_ssize_t k = i + 2; k < end - 1; ++k) letters.push_back(at[k]);
    }
    void restart() {
        front_end = 0;
        moved.clear();
        letters.clear();
        verbose = false;
    }
};

struct TraitsReader {
    const CodePoints& at;
    PatternTraits traits;

    void operator()(Piece piece, Py_ssize_t i, Py_ssize_t) {
        if (piece == Piece::Escape) {
            Py_UCS4 d = at.get(i + 1);
            if (d >= '1' && d <= '9') traits.lazy_ok = false;
            if (d == 'A' || d == 'b' || d == 'B') traits.from_offset = false;
        } else if (piece == Piece::Char) {
            if (at[i] == '^') traits.from_offset = false;
        } else if (piece == Piece::Open && at.get(i + 1) == '?') {
            if (at.get(i + 2) == '(') traits.lazy_ok = false;
            if (at.get(i + 2) == '<') traits.from_offset = false;
        }
    }
    void restart() { traits = PatternTraits(); }
};

struct GroupDepth {
    long depth = 0;
    bool closed_early = false;  // a ')' closed more than was opened

    void operator()(Piece piece, Py_ssize_t, Py_ssize_t) {
        if (piece == Piece::Open) ++depth;
        else if (piece == Piece::Close && --depth < 0) closed_early = true;
    }
    void restart() { *this = GroupDepth(); }
};

// What makes a pattern mean something else as a branch of an alternation.
struct BranchReader {
    const CodePoints& at;
    bool same = true;

    void operator()(Piece piece, Py_ssize_t i, Py_ssize_t) {
        if (piece == Piece::Flags) {
            same = false;
        } else if (piece == Piece::Escape) {
            Py_UCS4 d = at.get(i + 1);
            if (d >= '1' && d <= '9') same = false;  // a group number, or octal: not told apart here
        } else if (piece == Piece::Open && at.get(i + 1) == '?') {
            Py_UCS4 c = at.get(i + 2);
            // non-capturing, lookahead, comment, atomic; a lookbehind
            bool known = c == ':' || c == '=' || c == '!' || c == '#' || c == '>' ||
                         (c == '<' && (at.get(i + 3) == '=' || at.get(i + 3) == '!'));
            if (!known) same = false;
        }
    }
};

struct TopLevelBar {
    const CodePoints& at;
    long depth = 0;
    bool found = false;

    void operator()(Piece piece, Py_ssize_t i, Py_ssize_t) {
        if (piece == Piece::Open) ++depth;
        else if (piece == Piece::Close) --depth;
        else if (piece == Piece::Char && depth == 0 && at[i] == '|') found = true;
    }
    void restart() {
        depth = 0;
        found = false;
    }
};

struct CaptureOpens {
    const CodePoints& at;
    std::vector<Py_ssize_t> opens;

    void operator()(Piece piece, Py_ssize_t i, Py_ssize_t) {
        if (piece == Piece::Open && at.get(i + 1) != '?') opens.push_back(i);
    }
};

bool is_meta(Py_UCS4 c) {
    switch (c) {
        case '\\': case '.': case '^': case '$': case '*': case '+': case '?':
        case '{': case '}': case '[': case ']': case '|': case '(': case ')':
            return true;
        default:
            return false;
    }
}

}  // namespace

Object hoist_global_flags(Handle pattern) {
    if (!PyUnicode_Check(pattern.ptr())) return borrow(pattern);
    const CodePoints at(pattern);
    FlagGroups groups{at};
    // read again in verbose mode, the pattern stays in it even when no group is seen to turn it on then
    if (read(at, groups) && !groups.verbose) groups.letters.push_back('x');
    if (groups.letters.empty()) return borrow(pattern);

    std::u32string out = U"(?" + groups.letters + U")";
    Py_ssize_t pos = 0;
    for (auto& g : groups.moved) {
        for (Py_ssize_t k = pos; k < g.first; ++k) out.push_back(at[k]);
        pos = g.second;
    }
    for (Py_ssize_t k = pos; k < at.size(); ++k) out.push_back(at[k]);
    return own(PyUnicode_FromKindAndData(PyUnicode_4BYTE_KIND, out.data(), static_cast<Py_ssize_t>(out.size())));
}

PatternTraits pattern_traits(Handle pattern) {
    const CodePoints at(pattern);
    TraitsReader reader{at, {}};
    read(at, reader);
    Py_ssize_t first = 0;  // past the global flag groups, which move to the front
    while (flag_group_end(at, first) != first) first = flag_group_end(at, first);
    Py_UCS4 c0 = at.get(first);
    if (c0 == '*' || c0 == '+' || c0 == '?' || c0 == '{') reader.traits.lazy_ok = false;
    return reader.traits;
}

bool groups_balance(Handle pattern) {
    const CodePoints at(pattern);
    GroupDepth groups;
    read(at, groups);
    return !groups.closed_early && groups.depth == 0;
}

bool has_inline_flags(Handle pattern) {
    const CodePoints at(pattern);
    for (Py_ssize_t i = 0; i + 2 < at.size(); ++i)
        if (at[i] == '(' && at[i + 1] == '?' && (is_flag_letter(at[i + 2]) || at[i + 2] == '-')) return true;
    return false;
}

bool same_as_branch(Handle pattern) {
    if (has_inline_flags(pattern) || !groups_balance(pattern)) return false;
    const CodePoints at(pattern);
    BranchReader reader{at};
    // a pattern that turns verbose mode on is read no further
    return walk(at, false, reader) && reader.same;
}

bool has_top_level_alternation(Handle pattern) {
    const CodePoints at(pattern);
    TopLevelBar bars{at};
    read(at, bars);
    return bars.found;
}

Object without_captures(Handle pattern) {
    const CodePoints at(pattern);
    CaptureOpens groups{at, {}};
    walk(at, false, groups);
    if (groups.opens.empty()) return borrow(pattern);
    TextBuilder text;
    Py_ssize_t pos = 0;
    for (Py_ssize_t open : groups.opens) {
        text << own(PyUnicode_Substring(pattern.ptr(), pos, open + 1)) << PYU_STR("?:");
        pos = open + 1;
    }
    text << own(PyUnicode_Substring(pattern.ptr(), pos, at.size()));
    return text.joined();
}

Py_ssize_t literal_prefix_length(Handle pattern) {
    const CodePoints at(pattern);
    const Py_ssize_t size = at.size();
    Py_ssize_t n = 0;
    while (n < size && !is_meta(at[n])) ++n;
    for (Py_ssize_t i = n; i < size; ++i)
        if (at[i] == '|') return 0;  // an alternative need not start with the prefix
    Py_ssize_t next = n;  // a quantifier after comments quantifies the literal before them
    while (comment_end(at, next) != next) next = comment_end(at, next);
    Py_UCS4 c = at.get(next);
    if (c == '*' || c == '+' || c == '?' || c == '{') --n;  // quantified
    return std::max<Py_ssize_t>(n, 0);
}

}  // namespace pyutil
