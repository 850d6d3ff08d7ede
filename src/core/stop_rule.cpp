#include "core/stop_rule.hpp"
#include <algorithm>
#include <cctype>
#include <unordered_map>
#include <vector>
#include "core/nontabular_regexes.hpp"
#include "pyutil/ops.hpp"
#include "pyutil/regex.hpp"

namespace core {

using namespace pyutil;

struct StopRule::Entry {
    std::vector<Object> patterns;  // the set, owned: their identities are its key
    Object combined;               // the pattern that tests the whole set; null: none (yet)
    bool settled = false;          // `combined` is final: built, or the set cannot have one
    long lines = 0;                // lines tested pattern by pattern meanwhile
};

namespace {

// The lines a set is tested pattern by pattern before its alternation is
// built: compiling it costs about what the separate calls of that many lines do.
constexpr long build_after = 256;
constexpr size_t cache_limit = 1024;

// Flags that mean the same for every branch of an alternation compiled with them.
constexpr long branch_flags = 2 | 8 | 16 | 32 | 256;  // IGNORECASE, MULTILINE, DOTALL, UNICODE, ASCII


struct KeyHash {
    size_t operator()(const std::vector<PyObject*>& key) const {
        size_t h = key.size();
        for (PyObject* p : key) h = h * 1000003 ^ (reinterpret_cast<size_t>(p) >> 4);
        return h;
    }
};
using Cache = std::unordered_map<std::vector<PyObject*>, std::shared_ptr<StopRule::Entry>, KeyHash>;

// Shared by every parse; never destroyed, as it holds interpreter objects.
Cache& cache() {
    static Cache& c = *new Cache();
    return c;
}

// The run of white space a pattern (a str) starts with when its branch may
// share it with others: "\s+A" and "\s+B" match where "\s+(?:A|B)" does,
// which tests the run once.  Null when it has none or cannot share it.
PyObject* shared_prefix(Handle source) {
    static PyObject* const prefixes[] = {PYU_STR("^\\s+"), PYU_STR("^\\s*"), PYU_STR("\\s+"), PYU_STR("\\s*")};
    if (has_top_level_alternation(source)) return nullptr;
    const CodePoints at(source);
    for (PyObject* prefix : prefixes) {
        const Py_ssize_t n = PyUnicode_GET_LENGTH(prefix);
        if (check(PyUnicode_Tailmatch(source.ptr(), prefix, 0, n, -1)) == 0) continue;
        const Py_UCS4 next = at.get(n);
        return next == '*' || next == '+' || next == '?' || next == '{' ? nullptr : prefix;
    }
    return nullptr;
}

// Whether every match of a pattern (a str) starts by taking one character that
// is not white space, as far as its first characters tell.  A run of white
// space before such patterns may then be taken whole (possessive): none of
// them could start inside it.
bool starts_with_non_space(Handle source) {
    const CodePoints at(source);
    auto quantified_from = [&](Py_ssize_t i) {
        const Py_UCS4 c = at.get(i);
        return c == '*' || c == '?' || c == '{';
    };
    static PyObject* const groups[] = {PYU_STR("(\\S+)"), PYU_STR("(\\d+)"), PYU_STR("(\\w+)")};
    for (PyObject* group : groups)
        if (check(PyUnicode_Tailmatch(source.ptr(), group, 0, 5, -1))) return !quantified_from(5);
    const Py_UCS4 c = at.get(0);
    if (c < 128 && isalnum(static_cast<int>(c))) return !quantified_from(1);
    const Py_UCS4 d = at.get(1);
    return c == '\\' && (d == 'S' || d == 'd' || d == 'w') && !quantified_from(2);
}

// The alternation of a set of patterns, each its own non-capturing branch, or
// a null object when one of them could match otherwise there.
Object alternation(const std::vector<Object>& patterns) {
    long flags = -1;
    std::vector<std::pair<PyObject*, Object>> branches;  // (shared prefix or null, source)
    for (auto& p : patterns) {
        Object source = getattr(p, PYU_STR("pattern"));
        long f = PyLong_AsLong(getattr(p, PYU_STR("flags")).ptr());
        if (f == -1) check_no_error();
        if (!PyUnicode_CheckExact(source.ptr()) || (f & ~branch_flags) || (flags != -1 && f != flags) ||
            !same_as_branch(source))
            return Object();
        flags = f;
        branches.emplace_back(shared_prefix(source), std::move(source));
    }
    TextBuilder text;
    bool first = true;
    // groups are only tested here: capturing them would cost for nothing
    auto branch = [&](Handle piece) {
        text << (first ? PYU_STR("(?:") : PYU_STR("|(?:")) << without_captures(piece) << PYU_STR(")");
        first = false;
    };
    std::vector<PyObject*> shared;  // the prefixes two branches or more start with, in order
    for (auto& [prefix, source] : branches) {
        size_t sharing = 0;
        for (auto& other : branches) sharing += prefix && other.first == prefix;
        if (sharing < 2) branch(source);
        else if (std::find(shared.begin(), shared.end(), prefix) == shared.end()) shared.push_back(prefix);
    }
    for (PyObject* prefix : shared) {
        std::vector<Object> rests;
        bool possessive = true;
        for (auto& [own_prefix, source] : branches) {
            if (own_prefix != prefix) continue;
            rests.push_back(own(PyUnicode_Substring(source.ptr(), PyUnicode_GET_LENGTH(prefix), PY_SSIZE_T_MAX)));
            possessive = possessive && starts_with_non_space(rests.back());
        }
        text << (first ? PYU_STR("") : PYU_STR("|")) << prefix << (possessive ? PYU_STR("+(?:") : PYU_STR("(?:"));
        first = false;
        bool inner_first = true;
        for (auto& rest : rests) {
            text << (inner_first ? PYU_STR("(?:") : PYU_STR("|(?:")) << without_captures(rest) << PYU_STR(")");
            inner_first = false;
        }
        text << PYU_STR(")");
    }
    Object source = text.joined();
    try {
        return nontabular::re_compiled(source, flags);
    } catch (const PyError&) {
        // too large or otherwise refused: the set is tested pattern by pattern
        if (!PyErr_ExceptionMatches(PyExc_Exception)) throw;
        PyErr_Clear();
        return Object();
    }
}

void settle(StopRule::Entry& e) {
    e.combined = alternation(e.patterns);
    e.settled = true;
}

}  // namespace

bool StopRule::same_set(PyObject* regex_done) const {
    const Py_ssize_t n = PyList_GET_SIZE(regex_done);
    if (!set_ || static_cast<size_t>(n) != set_->patterns.size()) return false;
    for (Py_ssize_t i = 0; i < n; ++i)
        if (PyList_GET_ITEM(regex_done, i) != set_->patterns[i].ptr()) return false;
    return true;
}

void StopRule::refresh(PyObject* regex_done) {
    // letting go of entries may run Python code (a pattern's weak references): before the list is read
    set_.reset();
    if (cache().size() >= cache_limit) Cache().swap(cache());
    const Py_ssize_t n = PyList_GET_SIZE(regex_done);
    std::vector<PyObject*> key(static_cast<size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) {
        key[i] = PyList_GET_ITEM(regex_done, i);
        if (!nontabular::is_re_pattern(key[i])) return;
    }
    auto found = cache().find(key);
    if (found != cache().end()) {
        set_ = found->second;
        return;
    }
    auto e = std::make_shared<Entry>();
    for (PyObject* p : key) e->patterns.push_back(borrow(p));
    if (n == 1) {
        e->combined = e->patterns[0];
        e->settled = true;
    }
    cache().emplace(std::move(key), e);
    set_ = std::move(e);
}

bool StopRule::may_match(Handle regex_done_h, Handle line_h) {
    PyObject* regex_done = regex_done_h.ptr();
    PyObject* line = line_h.ptr();
    if (enabled_ < 0)
        enabled_ = nontabular::is_re_compile(global(PYU_STR("compile"))) && nontabular::is_re_match(global(PYU_STR("match")));
    if (!enabled_ || !PyList_CheckExact(regex_done) || !PyUnicode_CheckExact(line)) return true;
    if (PyList_GET_SIZE(regex_done) == 0) return false;
    if (!same_set(regex_done)) refresh(regex_done);
    if (!set_) return true;
    Entry& e = *set_;
    if (!e.settled) {
        // compiling runs Python code: this line is left to the separate test
        if (++e.lines >= build_after) settle(e);
        return true;
    }
    if (!e.combined) return true;
    return !nontabular::match(e.combined, line).is_none();
}

}  // namespace core
