// The stop rule's test of a line against every consumed regex at once.
//
// Trying each consumed pattern with its own match call costs more than the
// rest of a line's work.  While core's `compile` and `match` are re's own, a
// set of re patterns is tested with alternations "(?:r1)|(?:r2)|..." of runs
// of it, each used only where the regex reader is sure it matches where one
// of its patterns does, and each shared, across parses, by every set that
// holds the same run.
//
// A set of at most 16 patterns has an alternation of its own, as a record of
// few tags needs.  A longer one is cut, as its length in sixteens is written
// in binary, into aligned blocks of 16, 32, 64... patterns, and fewer than 16
// tested one by one; a block without an alternation yet is tested as its two
// halves.  A record of N tags thus builds about N*log2(N/16) branches in all,
// not the N*N/2 of an alternation per consumed prefix, and a line costs a few
// alternation calls.
//
// An alternation is built once its set has been tested on enough lines, the
// smallest first, one in a parse and more only while the parse's separate
// match calls have cost more than the compiling; the sets are kept across
// parses within a budget, the least recently used let go of first.
#pragma once
#include <Python.h>
#include <cstdint>
#include <memory>
#include <vector>
#include "core/core.hpp"

namespace core {

class StopRule {
public:
    StopRule() = default;
    StopRule(const StopRule&) = delete;
    StopRule& operator=(const StopRule&) = delete;

    // False when no pattern of `regex_done` matches `line`; true when one may,
    // the pattern-by-pattern test then deciding (and logging).
    bool may_match(Handle regex_done, Handle line);

    struct Entry;
    using Set = std::shared_ptr<Entry>;

private:
    bool names_are_re();
    bool sync(PyObject* regex_done);
    void truncate(size_t size);
    void plan();
    void add_prefix(size_t size);
    void add_block(size_t level, size_t index);
    Set block_set(size_t level, size_t index);
    bool may_build(const Entry& e) const;
    void build(const Set& e);

    // core's compile and match are re's own; watches core's dict (its version tag, 0: not kept)
    struct {
        uint64_t version = 0;
        bool answer = false;
    } enabled_;
    // the patterns of the set last tested, owned; watches the identities of the list's items, compared at each test
    std::vector<Object> view_;
    // the kept sets of the view's runs, looked up once and let go of with the patterns they hold:
    // prefixes_[k] of its first k patterns (k <= 16), blocks_[level][i] of the 16 << level from i times that on
    std::vector<Set> prefixes_;
    std::vector<std::vector<Set>> blocks_;
    // the plan for the view: what to match, in the list's order (alternations and
    // patterns), and the sets that wait for an alternation, smallest first; made
    // for a size and a count of builds (0: none)
    std::vector<Object> tests_;
    std::vector<Set> waiting_;
    size_t planned_size_ = 0;
    uint64_t planned_builds_ = 0;
    // this parse's work: branches compiled, match calls made
    size_t built_ = 0;
    size_t calls_ = 0;
    // what was let go of while a list was read: released before the next one is
    std::vector<Object> dropped_patterns_;
    std::vector<Set> dropped_;
};

}  // namespace core
