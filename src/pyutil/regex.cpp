#include "pyutil/regex.hpp"
#include <algorithm>
#include <memory>
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

// ---- one alternation for a set of patterns ------------------------------------------

namespace {

// re's flags that mean the same for every branch of an alternation compiled with them
constexpr long IGNORECASE = 2, MULTILINE = 8, DOTALL = 16, UNICODE = 32, ASCII = 256;
constexpr long branch_flags = IGNORECASE | MULTILINE | DOTALL | UNICODE | ASCII;

struct PieceAt {
    Piece piece;
    Py_ssize_t start, end;
    size_t close;  // of an Open: the index of its Close (the number of pieces when unclosed)
};

// A pattern read as not verbose, piece by piece, each group's close found.
struct Pieces {
    const CodePoints& at;
    std::vector<PieceAt> list;
    bool balanced = true;  // every group closed, no ')' too many
    bool complete = true;  // no global flag group turned verbose mode on

    explicit Pieces(const CodePoints& codes) : at(codes) {
        struct Collect {
            Pieces& p;
            std::vector<size_t> open;
            void operator()(Piece piece, Py_ssize_t i, Py_ssize_t end) {
                if (piece == Piece::Close) {
                    if (open.empty()) p.balanced = false;
                    else p.list[open.back()].close = p.list.size(), open.pop_back();
                }
                p.list.push_back({piece, i, end, 0});
                if (piece == Piece::Open) open.push_back(p.list.size() - 1);
            }
        } collect{*this, {}};
        complete = walk(at, false, collect);
        balanced = balanced && collect.open.empty();
        for (size_t k : collect.open) list[k].close = list.size();
    }
    size_t size() const { return list.size(); }
    // the code point a Char piece stands for; 0 for other pieces and past `end`
    Py_UCS4 char_at(size_t k, size_t end) const { return k < end && list[k].piece == Piece::Char ? at[list[k].start] : 0; }
    // the letter after the backslash of an Escape piece; 0 for other pieces
    Py_UCS4 escaped(size_t k) const { return list[k].piece == Piece::Escape ? at.get(list[k].start + 1) : 0; }
    // for an Open piece: the code points after its '(' ("?:", "?<=", ...), 0 past the pattern
    Py_UCS4 after_open(size_t k, Py_ssize_t n) const { return at.get(list[k].start + n); }
    bool is_comment(size_t k) const {
        return list[k].piece == Piece::Open && after_open(k, 1) == '?' && after_open(k, 2) == '#';
    }
    // the first piece at or after k, below `end`, that is no comment
    size_t after_comments(size_t k, size_t end) const {
        while (k < end && is_comment(k)) k = list[k].close + 1;
        return k;
    }
    // the pieces [k, end) split at their top-level '|'
    std::vector<std::pair<size_t, size_t>> alternatives(size_t k, size_t end) const {
        std::vector<std::pair<size_t, size_t>> out;
        size_t from = k;
        for (; k < end; ++k) {
            if (list[k].piece == Piece::Open) k = list[k].close;
            else if (char_at(k, end) == '|') out.emplace_back(from, k), from = k + 1;
        }
        out.emplace_back(from, end);
        return out;
    }
};

bool is_ascii_graphic(Py_UCS4 c) { return c > ' ' && c < 0x7f; }
bool is_ascii_alnum(Py_UCS4 c) { return (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z'); }
// after a backslash: an ASCII punctuation mark, read as itself
bool is_escaped_literal(Py_UCS4 c) { return is_ascii_graphic(c) && !is_ascii_alnum(c); }
// \S, \d and \w take no character that \s takes, under any flags
bool is_non_space_class(Py_UCS4 escaped) { return escaped == 'S' || escaped == 'd' || escaped == 'w'; }
bool is_quantifier_start(Py_UCS4 c) { return c == '*' || c == '+' || c == '?' || c == '{'; }

// Whether the item before i is taken at least once: no quantifier stands at i,
// or one whose least count is not 0.  A '{' that does not open "{m}", "{m,}",
// "{,n}" or "{m,n}" is a literal, as re reads it.
bool taken_at_least_once(const CodePoints& at, Py_ssize_t i) {
    const Py_UCS4 c = at.get(i);
    if (c == '*' || c == '?') return false;
    if (c != '{' || at.get(i + 1) == '}') return true;
    Py_ssize_t j = i + 1;
    bool least = false;  // the least count has a digit other than 0
    for (; at.get(j) >= '0' && at.get(j) <= '9'; ++j) least = least || at[j] != '0';
    if (at.get(j) == ',')
        for (++j; at.get(j) >= '0' && at.get(j) <= '9'; ++j) {}
    return at.get(j) != '}' || least;
}

// Whether the class [i, end) takes only printable ASCII characters other than
// the blank (or \S, \d, \w): none of them, nor any of their other cases, is
// one that \s takes.
bool class_takes_non_space(const CodePoints& at, Py_ssize_t i, Py_ssize_t end) {
    Py_ssize_t j = i + 1;
    const Py_ssize_t close = end - 1;
    if (at.get(j) == '^') return false;
    // one member, the literal it stands for, or 0 for \S, \d, \w; j moves past it
    auto member = [&](Py_UCS4& literal) {
        const Py_UCS4 c = at.get(j);
        if (c != '\\') {
            literal = c;
            ++j;
            return is_ascii_graphic(c);
        }
        const Py_UCS4 d = at.get(j + 1);
        j += 2;
        literal = is_non_space_class(d) ? 0 : d;
        return is_non_space_class(d) || is_escaped_literal(d);
    };
    while (j < close) {
        Py_UCS4 low = 0, high = 0;
        if (!member(low)) return false;
        if (at.get(j) != '-' || j + 1 >= close) continue;
        // a range: between two such characters, by code point
        ++j;
        if (low == 0 || !member(high) || high == 0) return false;
    }
    return true;
}

// Whether re's parser warns of the class [i, end) (a member '[', or a doubled
// '-', '&', '~' or '|', may read as a set operation in a later version).
bool class_warns(const CodePoints& at, Py_ssize_t i, Py_ssize_t end) {
    for (Py_ssize_t k = i + 1; k < end; ++k) {
        const Py_UCS4 c = at[k];
        if (c == '[') return true;
        if ((c == '-' || c == '&' || c == '~' || c == '|') && at.get(k + 1) == c) return true;
    }
    return false;
}

// Whether every match of pieces [k, end), wherever it starts, starts by taking
// one character that \s does not take, under any flags: zero-width items first
// are passed over, then the first item must take such a character at least
// once.  False where this reading cannot tell.
bool takes_non_space_first(const Pieces& p, size_t k, size_t end);

bool sequence_takes_non_space_first(const Pieces& p, size_t k, size_t end) {
    for (;;) {
        k = p.after_comments(k, end);
        if (k >= end) return false;
        const PieceAt& e = p.list[k];
        size_t next = k + 1;
        bool zero_width = false, takes = false;
        if (e.piece == Piece::Char) {
            const Py_UCS4 c = p.at[e.start];
            zero_width = c == '^' || c == '$';
            takes = is_ascii_graphic(c) && !is_meta(c);
        } else if (e.piece == Piece::Escape) {
            const Py_UCS4 d = p.escaped(k);
            zero_width = d == 'b' || d == 'B' || d == 'A' || d == 'Z';
            takes = is_non_space_class(d) || is_escaped_literal(d);
        } else if (e.piece == Piece::Class) {
            takes = class_takes_non_space(p.at, e.start, e.end);
        } else if (e.piece == Piece::Open) {
            if (e.close >= end) return false;
            next = e.close + 1;
            const Py_UCS4 a = p.after_open(k, 1), b = p.after_open(k, 2), c = p.after_open(k, 3);
            if (a != '?') takes = takes_non_space_first(p, k + 1, e.close);
            else if (b == ':' || b == '>') takes = takes_non_space_first(p, k + 3, e.close);  // '?', ':' are pieces
            else zero_width = b == '=' || b == '!' || (b == '<' && (c == '=' || c == '!'));
        } else {
            return false;
        }
        const size_t q = p.after_comments(next, end);
        const bool quantified = q < end && p.list[q].piece == Piece::Char;
        if (zero_width) {
            if (quantified && is_quantifier_start(p.char_at(q, end))) return false;
            k = q;
            continue;
        }
        return takes && (!quantified || taken_at_least_once(p.at, p.list[q].start));
    }
}

bool takes_non_space_first(const Pieces& p, size_t k, size_t end) {
    for (auto [from, to] : p.alternatives(k, end))
        if (!sequence_takes_non_space_first(p, from, to)) return false;
    return true;
}

// Whether the pattern matches exactly what it matches alone when it stands as
// one branch "(?:pattern)" of an alternation, and compiling it there again
// warns of nothing: its groups balance, and it holds no group reference
// (backreference, conditional), no named group, no inline flag group, no "(?"
// construct this reading does not know, and no class re warns of.
bool same_as_branch(Handle pattern, const Pieces& p) {
    if (!p.complete || !p.balanced || has_inline_flags(pattern)) return false;
    for (size_t k = 0; k < p.size(); ++k) {
        const PieceAt& e = p.list[k];
        if (e.piece == Piece::Flags) return false;
        if (e.piece == Piece::Class && class_warns(p.at, e.start, e.end)) return false;
        const Py_UCS4 d = p.escaped(k);
        if (d >= '1' && d <= '9') return false;  // a group number, or octal: not told apart here
        if (e.piece == Piece::Open && p.after_open(k, 1) == '?') {
            const Py_UCS4 b = p.after_open(k, 2), c = p.after_open(k, 3);
            // non-capturing, lookahead, comment, atomic; a lookbehind
            if (!(b == ':' || b == '=' || b == '!' || b == '#' || b == '>' || (b == '<' && (c == '=' || c == '!'))))
                return false;
        }
    }
    return true;
}

// The length of the run of white space, "\s+" or "\s*" after an optional '^',
// that a pattern starts with, when "run(?:rest)" matches where the pattern
// does: nothing after the run quantifies it again (lazy, possessive) and no
// top-level alternative goes without it.  0 when there is none.
Py_ssize_t leading_space_run(const Pieces& p) {
    const size_t n = p.size();
    const size_t k = p.char_at(0, n) == '^' ? 1 : 0;
    if (k + 1 >= n || p.escaped(k) != 's') return 0;
    const Py_UCS4 repeat = p.char_at(k + 1, n);
    if (repeat != '+' && repeat != '*') return 0;
    if (is_quantifier_start(p.char_at(p.after_comments(k + 2, n), n))) return 0;
    if (p.alternatives(0, n).size() > 1) return 0;
    return p.list[k + 1].end;
}

// source[from:], each capturing group made non-capturing: for a pattern that
// refers to no group it matches the same.
void write_without_captures(TextBuilder& text, Handle source, const Pieces& p, Py_ssize_t from) {
    Py_ssize_t pos = from;
    for (size_t k = 0; k < p.size(); ++k) {
        const PieceAt& e = p.list[k];
        if (e.start < from || e.piece != Piece::Open || p.after_open(k, 1) == '?') continue;
        text << own(PyUnicode_Substring(source.ptr(), pos, e.start + 1)) << PYU_STR("?:");
        pos = e.start + 1;
    }
    text << own(PyUnicode_Substring(source.ptr(), pos, p.at.size()));
}

}  // namespace

bool takes_non_space_first(Handle pattern) {
    const CodePoints at(pattern);
    const Pieces p(at);
    return p.complete && p.balanced && !has_inline_flags(pattern) && takes_non_space_first(p, 0, p.size());
}

Object alternation(const std::vector<Object>& patterns, long flags) {
    if (patterns.empty() || (flags & ~branch_flags)) return Object();
    struct Branch {
        Handle source;
        CodePoints at;
        Pieces pieces;
        Py_ssize_t run = 0;           // the length of the leading run of white space that it may share, or 0
        Object run_text;              // that run; null when there is none
        bool rest_non_space = false;  // what follows that run takes non-space first
        explicit Branch(Handle s) : source(s), at(s), pieces(at) {}
    };
    std::vector<std::unique_ptr<Branch>> branches;  // each views its own source
    for (const Object& source : patterns) {
        if (!PyUnicode_CheckExact(source.ptr())) return Object();
        auto b = std::make_unique<Branch>(source);
        if (!same_as_branch(source, b->pieces)) return Object();
        b->run = leading_space_run(b->pieces);
        if (b->run) {
            b->run_text = own(PyUnicode_Substring(source.ptr(), 0, b->run));
            // the run's pieces: an optional '^', "\s", its '+' or '*'
            const size_t rest = b->pieces.char_at(0, 1) == '^' ? 3 : 2;
            b->rest_non_space = takes_non_space_first(b->pieces, rest, b->pieces.size());
        }
        branches.push_back(std::move(b));
    }
    auto same_run = [](const Branch& a, const Branch& b) {
        return a.run && a.run == b.run && PyUnicode_Compare(a.run_text.ptr(), b.run_text.ptr()) == 0;
    };
    TextBuilder text;
    bool first = true;
    auto bar = [&] {
        if (!first) text << PYU_STR("|");
        first = false;
    };
    // "\s+A" and "\s+B" match where "\s+(?:A|B)" does, which tests the run once
    std::vector<const Branch*> leaders;  // the first branch of each run two branches or more share
    for (auto& b : branches) {
        size_t sharing = 0;
        const Branch* leader = nullptr;
        for (auto& other : branches)
            if (same_run(*b, *other)) sharing += 1, leader = leader ? leader : other.get();
        if (sharing < 2) {
            bar();
            text << PYU_STR("(?:");
            write_without_captures(text, b->source, b->pieces, 0);
            text << PYU_STR(")");
        } else if (leader == b.get()) {
            leaders.push_back(leader);
        }
    }
    for (const Branch* leader : leaders) {
        // taken whole where no branch can start inside the run: each takes non-space first
        bool possessive = true;
        for (auto& b : branches)
            if (same_run(*leader, *b)) possessive = possessive && b->rest_non_space;
        bar();
        text << leader->run_text << (possessive ? PYU_STR("+(?:") : PYU_STR("(?:"));
        bool inner_first = true;
        for (auto& b : branches) {
            if (!same_run(*leader, *b)) continue;
            text << (inner_first ? PYU_STR("(?:") : PYU_STR("|(?:"));
            write_without_captures(text, b->source, b->pieces, b->run);
            text << PYU_STR(")");
            inner_first = false;
        }
        text << PYU_STR(")");
    }
    return text.joined();
}

}  // namespace pyutil
