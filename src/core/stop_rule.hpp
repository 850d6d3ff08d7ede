// The stop rule's test of a line against every consumed regex at once.
//
// Trying each consumed pattern with its own match call costs more than the
// rest of a line's work.  While core's `compile` and `match` are re's own, a
// set of re patterns is tested with one alternation "(?:r1)|(?:r2)|..."
// instead, built once per distinct set and shared by every parse; it is used
// only where the regex reader is sure it matches where one of the patterns
// does.  Any other set is tested pattern by pattern, as before.
#pragma once
#include <Python.h>
#include <cstdint>
#include <memory>
#include "core/core.hpp"

namespace core {

class StopRule {
public:
    // False when no pattern of `regex_done` matches `line`; true when one may,
    // the pattern-by-pattern test then deciding (and logging).
    bool may_match(Handle regex_done, Handle line);

    struct Entry;

private:
    bool names_are_re();
    bool same_set(PyObject* regex_done) const;
    void refresh(PyObject* regex_done);

    // core's compile and match are re's own; watches core's dict (its version tag, 0: not kept)
    struct {
        uint64_t version = 0;
        bool answer = false;
    } enabled_;
    // the set last tested; watches the identities of the list's items, compared at each test
    std::shared_ptr<Entry> set_;
};

}  // namespace core
