#include "core/stop_rule.hpp"
#include <iterator>
#include <list>
#include <unordered_map>
#include "core/nontabular_regexes.hpp"
#include "pyutil/hooks.hpp"
#include "pyutil/ops.hpp"
#include "pyutil/regex.hpp"

namespace core {

using namespace pyutil;

struct StopRule::Entry {
    std::vector<Object> patterns;  // the set, owned: their identities are its key
    size_t hash = 0;               // of those identities
    Object combined;               // the alternation that tests the whole set; null: none (yet)
    bool settled = false;          // `combined` is final: built, or the set cannot have one
    long lines = 0;                // lines it was tested on, pattern by pattern or as parts
    size_t weight = 0;             // its share of the kept budget
    bool kept = false;             // in the cache; one let go of still serves the parses that hold it
    std::list<StopRule::Set>::iterator at;  // its place in the order of use, while kept
};

namespace {

using Entry = StopRule::Entry;
using Set = StopRule::Set;

// The lines a set is tested before its alternation is built: compiling a
// branch costs about what that many separate match calls do.
constexpr long build_after = 256;
// The most patterns a set has an alternation for as a whole, and the smallest block of a longer one.
constexpr size_t block = 16;
// What the kept sets may weigh together: a unit per pattern a set owns and per
// character of its alternation (the compiled code grows with its text).
constexpr size_t kept_limit = size_t(1) << 20;

size_t hash_of(const Object* patterns, size_t size) {
    size_t hash = size;
    for (size_t i = 0; i < size; ++i) hash = hash * 1000003 ^ (reinterpret_cast<size_t>(patterns[i].ptr()) >> 4);
    return hash;
}

// The sets kept across parses, most recently used first.  Each is keyed by the
// identities of the patterns it owns: re patterns cannot change, so an entry
// holds for as long as it lives.
class Kept {
public:
    // The set of `patterns[0:size]`, found (and made the most recently used) or
    // added.  What is let go of to stay within the budget goes to `dropped`, to
    // be released where running Python code is safe.
    Set get(const Object* patterns, size_t size, std::vector<Set>& dropped) {
        const size_t hash = hash_of(patterns, size);
        auto range = index_.equal_range(hash);
        for (auto it = range.first; it != range.second; ++it) {
            Entry& e = *it->second;
            if (e.patterns.size() != size) continue;
            size_t i = 0;
            while (i < size && e.patterns[i].ptr() == patterns[i].ptr()) ++i;
            if (i < size) continue;
            order_.splice(order_.begin(), order_, e.at);
            return *e.at;
        }
        auto e = std::make_shared<Entry>();
        e->patterns.assign(patterns, patterns + size);
        e->hash = hash;
        e->weight = size;
        order_.push_front(e);
        e->at = order_.begin();
        e->kept = true;
        index_.emplace(hash, e.get());
        total_ += e->weight;
        trim(dropped);
        return e;
    }

    // `e`, kept or let go of, has its alternation now, of `chars` characters.
    void built(Entry& e, size_t chars, std::vector<Set>& dropped) {
        ++builds;
        e.weight += chars;
        if (!e.kept) return;
        total_ += chars;
        trim(dropped);
    }

    uint64_t builds = 1;  // alternations built by any parse, counted from 1

private:
    void trim(std::vector<Set>& dropped) {
        while (total_ > kept_limit && !order_.empty()) {
            Set e = std::move(order_.back());
            order_.pop_back();
            auto range = index_.equal_range(e->hash);
            for (auto it = range.first; it != range.second; ++it)
                if (it->second == e.get()) {
                    index_.erase(it);
                    break;
                }
            e->kept = false;
            total_ -= e->weight;
            dropped.push_back(std::move(e));
        }
    }

    std::list<Set> order_;
    std::unordered_multimap<size_t, Entry*> index_;
    size_t total_ = 0;
};

// Shared by every parse; never destroyed, as it holds interpreter objects.
Kept& kept() {
    static Kept& k = *new Kept();
    return k;
}

// The text of the pattern that tests a set of patterns at once, and its flags;
// a null object when the set has none: flags that differ, or a pattern the
// reader cannot be sure of as a branch.
Object alternation_source(const std::vector<Object>& patterns, long& flags) {
    flags = -1;
    std::vector<Object> sources;
    for (auto& p : patterns) {
        const long f = PyLong_AsLong(getattr(p, PYU_STR("flags")).ptr());
        if (f == -1) check_no_error();
        if (flags != -1 && f != flags) return Object();
        flags = f;
        sources.push_back(getattr(p, PYU_STR("pattern")));
    }
    return alternation(sources, flags);
}

Object compiled_or_none(Handle source, long flags) {
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

// Makes view_ the list's patterns, keeping what it knows of the prefix it
// shares with the set last tested; false when an item is no re pattern.
// Runs no Python code: what it lets go of is released at the next test.
bool StopRule::sync(PyObject* regex_done) {
    const size_t n = static_cast<size_t>(PyList_GET_SIZE(regex_done));
    size_t same = 0;
    while (same < n && same < view_.size() && PyList_GET_ITEM(regex_done, same) == view_[same].ptr()) ++same;
    if (same == n && view_.size() == n) return true;
    truncate(same);
    for (size_t i = same; i < n; ++i) {
        PyObject* pattern = PyList_GET_ITEM(regex_done, i);
        if (!nontabular::is_re_pattern(pattern)) return false;
        view_.push_back(borrow(pattern));
    }
    return true;
}

// The view cut to its first `size` patterns, with the sets of its runs that lie within them.
void StopRule::truncate(size_t size) {
    planned_size_ = 0;
    std::move(view_.begin() + size, view_.end(), std::back_inserter(dropped_patterns_));
    view_.resize(size);
    auto cut = [this](std::vector<Set>& sets, size_t keep) {
        if (sets.size() <= keep) return;
        std::move(sets.begin() + keep, sets.end(), std::back_inserter(dropped_));
        sets.resize(keep);
    };
    cut(prefixes_, size + 1);
    for (size_t level = 0; level < blocks_.size(); ++level) cut(blocks_[level], size / (block << level));
}

// What a test of the view matches, and the sets that wait to be built.
void StopRule::plan() {
    tests_.clear();
    waiting_.clear();
    const size_t n = view_.size();
    if (n <= block) {
        add_prefix(n);
    } else {
        const size_t blocks = n / block;
        size_t start = 0;  // in blocks
        size_t level = 0;
        while (blocks >> (level + 1)) ++level;
        for (size_t l = level + 1; l-- > 0;) {
            if (!(blocks >> l & 1)) continue;
            add_block(l, start >> l);
            start += size_t(1) << l;
        }
        tests_.insert(tests_.end(), view_.begin() + blocks * block, view_.end());
    }
    planned_size_ = n;
    planned_builds_ = kept().builds;
}

// The first `size` patterns, at most `block`, as one set.
void StopRule::add_prefix(size_t size) {
    if (size == 1) {
        tests_.push_back(view_[0]);
        return;
    }
    if (prefixes_.size() <= size) prefixes_.resize(size + 1);
    Set& e = prefixes_[size];
    if (!e) e = kept().get(view_.data(), size, dropped_);
    if (e->combined) {
        tests_.push_back(e->combined);
        return;
    }
    tests_.insert(tests_.end(), view_.begin(), view_.begin() + size);
    if (!e->settled) waiting_.push_back(e);
}

// A block by its alternation; without one yet, by its halves (its patterns for the smallest).
void StopRule::add_block(size_t level, size_t index) {
    Set e = block_set(level, index);
    if (e->combined) {
        tests_.push_back(e->combined);
        return;
    }
    if (level == 0) {
        tests_.insert(tests_.end(), view_.begin() + index * block, view_.begin() + (index + 1) * block);
    } else {
        add_block(level - 1, 2 * index);
        add_block(level - 1, 2 * index + 1);
    }
    if (!e->settled) waiting_.push_back(e);
}

StopRule::Set StopRule::block_set(size_t level, size_t index) {
    if (blocks_.size() <= level) blocks_.resize(level + 1);
    std::vector<Set>& row = blocks_[level];
    if (row.size() <= index) row.resize(index + 1);
    if (!row[index]) {
        const size_t width = block << level;
        row[index] = kept().get(view_.data() + index * width, width, dropped_);
    }
    return row[index];
}

// A parse builds one alternation, and more only while it has made more separate
// match calls than the compiling of all it builds costs.
bool StopRule::may_build(const Entry& e) const {
    return built_ == 0 || (built_ + e.patterns.size()) * static_cast<size_t>(build_after) <= calls_;
}

void StopRule::build(const Set& e) {
    built_ += e->patterns.size();
    long flags = 0;
    Object source = alternation_source(e->patterns, flags);
    Object combined = source ? compiled_or_none(source, flags) : Object();
    if (e->settled) return;  // by a parse that the compiling ran
    e->combined = std::move(combined);
    e->settled = true;
    kept().built(*e, e->combined ? static_cast<size_t>(PyUnicode_GET_LENGTH(source.ptr())) : 0, dropped_);
}

bool StopRule::may_match(Handle regex_done_h, Handle line_h) {
    // letting go of patterns may run Python code (their weak references): before the list is read
    dropped_patterns_.clear();
    dropped_.clear();
    PyObject* regex_done = regex_done_h.ptr();
    PyObject* line = line_h.ptr();
    if (!PyList_CheckExact(regex_done) || !PyUnicode_CheckExact(line)) return true;
    if (PyList_GET_SIZE(regex_done) == 0) return false;
    // the lookups may run Python code (a colliding key's __eq__): the list is read after them
    if (!names_are_re()) return true;
    if (!sync(regex_done)) return true;
    if (planned_size_ != view_.size() || planned_builds_ != kept().builds) plan();
    for (const Set& e : waiting_) ++e->lines;
    for (const Set& e : waiting_) {
        if (e->settled || e->lines < build_after || !may_build(*e)) continue;
        // compiling runs Python code: this line is left to the separate test
        build(Set(e));
        return true;
    }
    for (const Object& test : tests_) {
        ++calls_;
        if (!nontabular::match(test, line).is_none()) return true;
    }
    return false;
}

}  // namespace core
