// The regexes of the non-tabular parser: compiled through core's `compile`
// once per text, and the future-match test built on them.
#pragma once
#include <vector>
#include "core/core.hpp"
#include "pyutil/hooks.hpp"
#include "pyutil/ops.hpp"

namespace core::nontabular {

// re's own objects, read when the class is made and kept for the life of the process.
void load_re();
namespace detail {
extern PyTypeObject* pattern_type;  // re.Pattern
extern PyTypeObject* match_type;    // re.Match
extern PyObject* pattern_match;     // re.Pattern.match
}  // namespace detail

// Whether `fn` is re.compile (re.match), `o` an re.Pattern.
bool is_re_compile(Handle fn);
bool is_re_match(Handle fn);
inline bool is_re_pattern(Handle o) { return Py_TYPE(o.ptr()) == detail::pattern_type; }
// Whether `o` is an re.Match, whose methods run no Python code.
inline bool is_match_object(Handle o) { return Py_TYPE(o.ptr()) == detail::match_type; }

// pattern.match(line); an re.Pattern through its method descriptor (the loop's hot call).
inline Object match(Handle pattern, Handle line) {
    if (is_re_pattern(pattern)) return pyutil::invoke(detail::pattern_match, pattern, line);
    return pyutil::call_method(pattern, PYU_STR("match"), {line});
}
// pattern.match(text, pos) of an re.Pattern.
Object match(Handle pattern, Handle text, Py_ssize_t pos);
// re.compile(pattern, flags)
Object re_compiled(Handle pattern, long flags);
// match.group(1)
Object group1(Handle match);

class Regexes {
public:
    // The future-match pattern of one regex.
    struct Composed {
        Object literal;            // "(.*[\n])*.*" + regex, through `compile`
        Object lazy;               // its lazy twin, or null
        bool fast = false;         // both are re patterns: bounded evaluation allowed
        bool from_offset = false;  // the whole-rest test may match the text from an offset
    };

    // compile(text), the flags it holds moved to its front.
    Object compile(Handle text);
    // The future-match pattern of `regex`.
    Composed composed(Handle regex);
    // isinstance(o, Iterable) remembered per exact built-in type for this parse.
    bool is_iterable(Handle o);

private:
    void sync();
    bool still_bound(Handle fn) const;
    static void store(Handle cache, Handle key, Handle value);
    static Composed unpack(Handle entry);

    struct Known {
        Object abc;
        PyTypeObject* type;
        bool answer;
        uint64_t token;  // abc_cache_token() when it was found
    };

    Object fn_;  // core's `compile` as the caches were made for
    Handle compiled_, composed_;  // re.compile's answers, shared; null while `compile` is another function
    std::vector<Known> iterable_;
};

// Whether the composed regex occurs in `text` below `start` before a pattern
// of regex_done matches a line: True, False, or None when the text ends first.
Object future_match(const Regexes::Composed& c, Handle text, Py_ssize_t start, Handle regex_done);

}  // namespace core::nontabular
