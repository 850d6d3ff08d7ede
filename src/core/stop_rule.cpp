#include "core/stop_rule.hpp"
#include <unordered_map>
#include <vector>
#include "core/nontabular_regexes.hpp"
#include "pyutil/hooks.hpp"
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

struct KeyHash {
    size_t operator()(const std::vector<PyObject*>& key) const {
        size_t h = key.size();
        for (PyObject* p : key) h = h * 1000003 ^ (reinterpret_cast<size_t>(p) >> 4);
        return h;
    }
};
using Cache = std::unordered_map<std::vector<PyObject*>, std::shared_ptr<StopRule::Entry>, KeyHash>;

// Shared by every parse; never destroyed, as it holds interpreter objects.
// Keyed by the identities of the patterns each entry owns: re patterns cannot
// change, so an entry holds for as long as it lives.
Cache& cache() {
    static Cache& c = *new Cache();
    return c;
}

// The pattern that tests a set of patterns at once, or a null object when
// the set has none: flags that differ, or a pattern the reader cannot be
// sure of as a branch.
Object alternation_of(const std::vector<Object>& patterns) {
    long flags = -1;
    std::vector<Object> sources;
    for (auto& p : patterns) {
        const long f = PyLong_AsLong(getattr(p, PYU_STR("flags")).ptr());
        if (f == -1) check_no_error();
        if (flags != -1 && f != flags) return Object();
        flags = f;
        sources.push_back(getattr(p, PYU_STR("pattern")));
    }
    Object source = alternation(sources, flags);
    if (!source) return Object();
    try {
        return nontabular::re_compiled(source, flags);
    } catch (const PyError&) {
        // too large or otherwise refused: the set is tested pattern by pattern
        if (!PyErr_ExceptionMatches(PyExc_Exception)) throw;
        PyErr_Clear();
        return Object();
    }
}

// Whether core's own dict binds `name` to `fn` (a built-in of that name is none of re's).
bool bound_to(PyObject* globals, PyObject* name, Handle fn) {
    PyObject* value = PyDict_GetItemWithError(globals, name);
    if (!value) check_no_error();
    return value == fn.ptr();
}

void settle(StopRule::Entry& e) {
    e.combined = alternation_of(e.patterns);
    e.settled = true;
}

}  // namespace

bool StopRule::names_are_re() {
    PyObject* globals = frame().globals().ptr();
    const uint64_t before = dict_version(globals);
    if (enabled_.version && enabled_.version == before) return enabled_.answer;
    const bool answer = bound_to(globals, PYU_STR("compile"), re_compile()) && bound_to(globals, PYU_STR("match"), re_match());
    // kept only when the dict did not change meanwhile
    enabled_ = {dict_version(globals) == before ? before : 0, answer};
    return answer;
}

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
    if (!PyList_CheckExact(regex_done) || !PyUnicode_CheckExact(line)) return true;
    if (PyList_GET_SIZE(regex_done) == 0) return false;
    // the lookups may run Python code (a colliding key's __eq__): the list is read after them
    if (!names_are_re()) return true;
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
