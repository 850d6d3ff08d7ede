#include "core/nontabular_regexes.hpp"
#include "pyutil/hooks.hpp"
#include "pyutil/ops.hpp"
#include "pyutil/regex.hpp"
#include "pyutil/text.hpp"

namespace core::nontabular {

using namespace pyutil;

namespace {

// While core's `compile` is re.compile, one cache serves every parse: it
// answers what re.compile's own cache would.  Another `compile` is called at
// every use.
// Watches: core's `compile` binding, read before each call and again after it.
constexpr Py_ssize_t shared_cache_limit = 2048;
PyObject* shared_compiled = nullptr;
PyObject* shared_composed = nullptr;

}  // namespace

// Set by load_re(), kept for the life of the process.
PyTypeObject* detail::pattern_type = nullptr;
PyTypeObject* detail::match_type = nullptr;
PyObject* detail::pattern_match = nullptr;
using detail::match_type;
using detail::pattern_match;
using detail::pattern_type;

void load_re() {
    Object re = import("re");
    Object pattern = getattr(re, PYU_STR("Pattern"));
    pattern_match = getattr(pattern, PYU_STR("match")).release();
    pattern_type = reinterpret_cast<PyTypeObject*>(pattern.release());
    match_type = reinterpret_cast<PyTypeObject*>(getattr(re, PYU_STR("Match")).release());
    shared_compiled = new_dict().release();
    shared_composed = new_dict().release();
}

bool is_re_compile(Handle fn) { return fn.is(re_compile()); }
bool is_re_match(Handle fn) { return fn.is(re_match()); }
Object re_compiled(Handle pattern, long flags) { return call(re_compile(), {pattern, own(PyLong_FromLong(flags))}); }
Object match(Handle pattern, Handle text, Py_ssize_t pos) { return invoke(pattern_match, pattern, text, integer(pos)); }

Object group1(Handle match) {
    Object one = integer(1);
    if (Py_TYPE(match.ptr()) == match_type) return getitem(match, one);
    return call_method(match, PYU_STR("group"), {one});
}

// ---------------------------------------------------------------------------
// The caches.

Object Regexes::compile(Handle text) {
    sync();
    const bool cacheable = compiled_ && is_exact_str(text);
    if (cacheable)
        if (Object hit = dict_get(compiled_, text)) return hit;
    // the call may rebind `compile` and reach this parse again, which resyncs
    Object fn = fn_;
    Object pattern = call(fn, {hoist_global_flags(text)});
    if (cacheable && still_bound(fn)) store(compiled_, text, pattern);
    return pattern;
}

Regexes::Composed Regexes::composed(Handle regex) {
    sync();
    const bool cacheable = composed_ && is_exact_str(regex);
    if (cacheable)
        if (Object hit = dict_get(composed_, regex)) return unpack(hit);
    Composed c;
    Object fn = fn_;
    c.literal = compile(add(PYU_STR("(.*[\n])*.*"), regex));
    if (!still_bound(fn)) return c;  // compiled by a `compile` rebound meanwhile: not kept
    if (is_re_compile(fn_) && is_re_pattern(c.literal) && PyUnicode_Check(regex.ptr())) {
        // where its syntax allows, the lazy twin and a match from an offset answer as the literal does
        PatternTraits t = pattern_traits(regex);
        c.fast = true;
        c.from_offset = t.from_offset;
        if (t.lazy_ok) {
            Object text = hoist_global_flags(add(PYU_STR("(.*?[\n])*?.*?"), regex));
            try {
                c.lazy = call(re_compile(), {text});
            } catch (PyError&) {
                PyErr_Clear();  // the literal pattern serves alone
            }
        }
    }
    if (cacheable)
        store(composed_, regex, tuple({c.literal, c.lazy ? c.lazy : Handle(Py_None), boolean(c.fast),
                                       boolean(c.from_offset)}));
    return c;
}

// Watches: the class tested against (an identity it owns), the ABC registrations (abc's cache token).
bool Regexes::is_iterable(Handle o) {
    Object abc = iterable_abc();
    PyTypeObject* type = Py_TYPE(o.ptr());
    PyObject* p = o.ptr();
    const bool builtin = o.is_none() || PyLong_CheckExact(p) || PyFloat_CheckExact(p) || PyBool_Check(p) ||
                         PyTuple_CheckExact(p) || PyList_CheckExact(p) || PyUnicode_CheckExact(p);
    if (!builtin || !isinstance_settled(abc)) return isinstance(o, abc);
    const uint64_t token = abc_cache_token();
    for (auto& known : iterable_)
        if (known.abc.is(abc) && known.type == type && known.token == token) return known.answer;
    // the test may run user code (an ABC's subclass hook) that registers a class
    const bool answer = isinstance(o, abc);
    if (abc_cache_token() == token) iterable_.push_back({abc, type, answer, token});
    return answer;
}

// Whether `fn`, which the caches in use were made for, is core's `compile` still.
bool Regexes::still_bound(Handle fn) const {
    return fn.is(fn_) && PYU_CACHED_GLOBAL(frame(), "compile").get().is(fn);
}

// core's `compile` as bound now, and the caches that go with it.
void Regexes::sync() {
    Object fn = PYU_CACHED_GLOBAL(frame(), "compile").get();
    if (fn.is(fn_)) return;
    fn_ = fn;
    // another `compile` is called at every use, as the steps call it
    const bool own = is_re_compile(fn);
    compiled_ = own ? Handle(shared_compiled) : Handle();
    composed_ = own ? Handle(shared_composed) : Handle();
}

void Regexes::store(Handle cache, Handle key, Handle value) {
    if ((cache.is(shared_compiled) || cache.is(shared_composed)) && PyDict_GET_SIZE(cache.ptr()) >= shared_cache_limit)
        PyDict_Clear(cache.ptr());
    setitem(cache, key, value);
}

// An entry as store() was given it: (literal, lazy or None, fast, from_offset).
Regexes::Composed Regexes::unpack(Handle entry) {
    PyObject* t = entry.ptr();
    Composed c;
    c.literal = borrow(PyTuple_GET_ITEM(t, 0));
    if (PyTuple_GET_ITEM(t, 1) != Py_None) c.lazy = borrow(PyTuple_GET_ITEM(t, 1));
    c.fast = PyTuple_GET_ITEM(t, 2) == Py_True;
    c.from_offset = PyTuple_GET_ITEM(t, 3) == Py_True;
    return c;
}

// ---------------------------------------------------------------------------
// The future-match test.

namespace {

// Whether any pattern of regex_done matches the piece (by truth value).
bool any_done_matches(Handle regex_done, Handle piece) {
    Object it = iter(regex_done);
    while (Object pattern = pyutil::next(it))
        if (truth(match(pattern, piece))) return true;
    return false;
}

bool all_patterns(Handle regex_done) {
    PyObject* list = regex_done.ptr();
    if (!PyList_CheckExact(list)) return false;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(list); ++i)
        if (!is_re_pattern(PyList_GET_ITEM(list, i))) return false;
    return true;
}

// The rest of the text after the current line, as the pattern test and the
// per-line scan see it, exactly as written: a copy, split at every line feed.
Object future_literal(const Regexes::Composed& c, Handle text, Py_ssize_t start, Handle regex_done) {
    Object remainder = getitem(text, new_slice(integer(start), Py_None));
    if (!truth(match(c.literal, remainder))) return boolean(false);
    Object pieces = iter(call_method(remainder, PYU_STR("split"), {PYU_STR("\n")}));
    while (Object raw = pyutil::next(pieces)) {
        Object piece = without_cr(raw);
        Object occurs = match(c.literal, piece);
        if (any_done_matches(regex_done, piece)) return boolean(false);
        if (truth(occurs)) return boolean(true);
    }
    return borrow(Py_None);
}

// The same answer, with the cost bounded by the section: the per-line scan
// decides first, and the whole-rest test runs only when the scan did not
// already give False, lazily from the current line's end.
Object future_bounded(const Regexes::Composed& c, Handle text, Py_ssize_t start, Handle regex_done) {
    Handle test = c.lazy ? c.lazy : c.literal;
    const Py_ssize_t n = length(text);
    Object verdict = borrow(Py_None);
    for (Py_ssize_t pos = start;;) {
        Py_ssize_t nl = find_char(text, '\n', pos, n);
        Object piece = slice_without_cr(text, pos, nl < 0 ? n : nl);
        bool occurs = truth(match(test, piece));
        if (any_done_matches(regex_done, piece)) return boolean(false);
        if (occurs) {
            verdict = boolean(true);
            break;
        }
        if (nl < 0) break;
        pos = nl + 1;
    }
    Object found = c.from_offset ? match(test, text, start) : match(test, substring(text, start, n));
    if (!truth(found)) return boolean(false);
    return verdict;
}

}  // namespace

Object future_match(const Regexes::Composed& c, Handle text, Py_ssize_t start, Handle regex_done) {
    if (c.fast && is_exact_str(text) && all_patterns(regex_done))
        return future_bounded(c, text, start, regex_done);
    return future_literal(c, text, start, regex_done);
}

}  // namespace core::nontabular
