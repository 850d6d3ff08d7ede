// The non-tabular parser _textloom_t: one section of show output matched
// line by line against an ordered list of regex tags, in fill or check mode.
//
// The whole parse runs inside the constructor.  Every method the loop uses is
// called through the object; while one is still the class's own, the loop
// calls its C++ body directly.
#include <algorithm>
#include <optional>
#include <vector>
#include "common/output.hpp"
#include "core/core.hpp"
#include "core/stop_rule.hpp"
#include "pyutil/hooks.hpp"
#include "pyutil/ops.hpp"
#include "pyutil/regex.hpp"
#include "pyutil/text.hpp"

namespace core {
namespace {

using namespace pyutil;

// Set when the class is made, kept for the life of the process.
PyObject* re_compile = nullptr;        // tells whether core's `compile` is still re.compile
PyTypeObject* pattern_type = nullptr;  // re.Pattern
PyTypeObject* match_type = nullptr;    // re.Match
PyObject* pattern_match = nullptr;     // re.Pattern.match

// The functions behind the class's own hook methods.
struct {
    PyObject* check_scope;
    PyObject* current_matching;
    PyObject* future_matching;
    PyObject* delete_non_matching;
    PyObject* get_regex_def;
} base;

PyObject* empty_text() { return PYU_STR(""); }
Object index(Py_ssize_t i) { return own(PyLong_FromSsize_t(i)); }
Object attr(PyObject* self, PyObject* name) { return getattr(self, name); }
Py_ssize_t size(PyObject* o) {
    Py_ssize_t n = PyObject_Size(o);
    if (n < 0) throw PyError();
    return n;
}
bool is_none(PyObject* o) { return o == Py_None || same_or_equal(o, Py_None); }

// s.replace("\r", "") for a line.
Object without_cr(PyObject* s) {
    if (!PyUnicode_CheckExact(s))
        return call_method(s, PYU_STR("replace"), {PYU_STR("\r"), empty_text()});
    Py_ssize_t at = PyUnicode_FindChar(s, '\r', 0, PyUnicode_GET_LENGTH(s), 1);
    if (at == -2) throw PyError();
    if (at < 0) return borrow(s);
    return own(PyUnicode_Replace(s, PYU_STR("\r"), empty_text(), -1));
}

// text[start:end] with carriage returns removed, for an exact str.
Object clean_slice(PyObject* text, Py_ssize_t start, Py_ssize_t end) {
    Py_ssize_t at = PyUnicode_FindChar(text, '\r', start, end, 1);
    if (at == -2) throw PyError();
    Object piece = own(PyUnicode_Substring(text, start, end));
    if (at < 0) return piece;
    return own(PyUnicode_Replace(piece.ptr(), PYU_STR("\r"), empty_text(), -1));
}

// ---------------------------------------------------------------------------
// Regexes, compiled through core's `compile` once per text.

// pattern.match(line); an re.Pattern through its method descriptor.
Object match(PyObject* pattern, PyObject* line) {
    if (Py_TYPE(pattern) == pattern_type) {
        PyObject* args[] = {pattern, line};
        return own(PyObject_Vectorcall(pattern_match, args, 2, nullptr));
    }
    return call_method(pattern, PYU_STR("match"), {line});
}
Object match(PyObject* pattern, PyObject* text, Py_ssize_t pos) {
    Object from = index(pos);
    PyObject* args[] = {pattern, text, from.ptr()};
    return own(PyObject_Vectorcall(pattern_match, args, 3, nullptr));
}

// While core's `compile` is re.compile, one cache serves every parse: it
// answers what re.compile's own cache would.  A rebound `compile` gets a cache
// per parse, so it is called once per text and parse.
constexpr Py_ssize_t shared_cache_limit = 2048;

class Regexes {
public:
    // The future-match pattern of one regex.
    struct Composed {
        Object literal;        // "(.*[\n])*.*" + regex, through `compile`
        Object lazy;           // its lazy twin, or null
        bool fast = false;         // both are re patterns: bounded evaluation allowed
        bool from_offset = false;  // the whole-rest test may match the text from an offset
    };

    Object compile(PyObject* text) {
        sync();
        const bool cacheable = PyUnicode_CheckExact(text);
        if (PyObject* hit = cacheable ? lookup(compiled_, text) : nullptr) return borrow(hit);
        // the call may rebind `compile` and reach this parse again, which resyncs
        Object fn = fn_;
        Object pattern = call(fn, {hoist_global_flags(text).ptr()});
        if (cacheable && fn.is(fn_)) store(compiled_, text, pattern.ptr());
        return pattern;
    }

    Composed composed(PyObject* regex) {
        sync();
        const bool cacheable = PyUnicode_CheckExact(regex);
        if (PyObject* hit = cacheable ? lookup(composed_, regex) : nullptr) return unpack(hit);
        Composed c;
        Object fn = fn_;
        c.literal = compile(own(PyNumber_Add(PYU_STR("(.*[\n])*.*"), regex)).ptr());
        if (!fn.is(fn_)) return c;  // compiled by a `compile` rebound meanwhile: not kept
        if (fn_.ptr() == re_compile && Py_TYPE(c.literal.ptr()) == pattern_type && PyUnicode_Check(regex)) {
            // where its syntax allows, the lazy twin and a match from an offset answer as the literal does
            PatternTraits t = pattern_traits(regex);
            c.fast = true;
            c.from_offset = t.from_offset;
            if (t.lazy_ok) {
                Object text = own(PyNumber_Add(PYU_STR("(.*?[\n])*?.*?"), regex));
                PyObject* lazy = PyObject_CallOneArg(re_compile, hoist_global_flags(text.ptr()).ptr());
                if (lazy) c.lazy = own(lazy);
                else PyErr_Clear();  // the literal pattern serves alone
            }
        }
        if (cacheable) {
            Object entry = own(PyTuple_Pack(4, c.literal.ptr(), c.lazy ? c.lazy.ptr() : Py_None,
                                                c.fast ? Py_True : Py_False, c.from_offset ? Py_True : Py_False));
            store(composed_, regex, entry.ptr());
        }
        return c;
    }

    // isinstance(o, Iterable) remembered per exact built-in type for this parse.
    bool is_iterable(PyObject* o) {
        Object abc = iterable_abc();
        PyTypeObject* type = Py_TYPE(o);
        const bool builtin = o == Py_None || PyLong_CheckExact(o) || PyFloat_CheckExact(o) || PyBool_Check(o) ||
                             PyTuple_CheckExact(o) || PyList_CheckExact(o) || PyUnicode_CheckExact(o);
        if (builtin)
            for (auto& known : iterable_)
                if (known.abc.ptr() == abc.ptr() && known.type == type) return known.answer;
        bool answer = check(PyObject_IsInstance(o, abc.ptr())) != 0;
        if (builtin) iterable_.push_back({abc, type, answer});
        return answer;
    }

private:
    // core's `compile` as bound now.
    void sync() {
        Object fn = global(PYU_STR("compile"));
        if (fn.is(fn_)) return;
        fn_ = fn;
        if (fn.ptr() == re_compile) {
            compiled_ = shared_compiled;
            composed_ = shared_composed;
        } else {
            own_compiled_ = own(PyDict_New());
            own_composed_ = own(PyDict_New());
            compiled_ = own_compiled_.ptr();
            composed_ = own_composed_.ptr();
        }
    }
    static PyObject* lookup(PyObject* cache, PyObject* key) {
        PyObject* hit = PyDict_GetItemWithError(cache, key);
        if (!hit) check_no_error();
        return hit;
    }
    static void store(PyObject* cache, PyObject* key, PyObject* value) {
        if ((cache == shared_compiled || cache == shared_composed) && PyDict_GET_SIZE(cache) >= shared_cache_limit)
            PyDict_Clear(cache);
        check(PyDict_SetItem(cache, key, value));
    }
    static Composed unpack(PyObject* entry) {
        Composed c;
        c.literal = borrow(PyTuple_GET_ITEM(entry, 0));
        if (PyTuple_GET_ITEM(entry, 1) != Py_None) c.lazy = borrow(PyTuple_GET_ITEM(entry, 1));
        c.fast = PyTuple_GET_ITEM(entry, 2) == Py_True;
        c.from_offset = PyTuple_GET_ITEM(entry, 3) == Py_True;
        return c;
    }

    struct Known {
        Object abc;
        PyTypeObject* type;
        bool answer;
    };

    Object fn_;
    PyObject* compiled_ = nullptr;
    PyObject* composed_ = nullptr;
    Object own_compiled_, own_composed_;
    std::vector<Known> iterable_;

public:
    static PyObject* shared_compiled;
    static PyObject* shared_composed;
};
PyObject* Regexes::shared_compiled = nullptr;
PyObject* Regexes::shared_composed = nullptr;

// ---------------------------------------------------------------------------
// The parse running on this thread, for the class's own methods when an
// override calls them from Python in the middle of it.

struct Parse {
    explicit Parse(PyObject* s) : self(s) { running().push_back(this); }
    ~Parse() { running().pop_back(); }
    Parse(const Parse&) = delete;
    Parse& operator=(const Parse&) = delete;

    static std::vector<Parse*>& running() {
        thread_local std::vector<Parse*> stack;
        return stack;
    }
    static Parse* of(PyObject* self) {
        auto& stack = running();
        for (auto it = stack.rbegin(); it != stack.rend(); ++it)
            if ((*it)->self == self) return *it;
        return nullptr;
    }

    PyObject* self;
    Regexes regexes;
    Object text;             // the stored text the walk reads
    Py_ssize_t line_offset = 0;  // where the current line starts in it
};

// The regexes of the running parse of `self`, or of this call alone.
class Context {
public:
    explicit Context(PyObject* self) : parse_(Parse::of(self)) {
        if (!parse_) local_.emplace();
    }
    Regexes& regexes() { return parse_ ? parse_->regexes : *local_; }
    Parse* parse() const { return parse_; }

private:
    Parse* parse_;
    std::optional<Regexes> local_;
};

// ---------------------------------------------------------------------------
// The class's own methods.

PyObject* not_found_text() {
    return PYU_STR("The attribute {} (OS={}) was not found.                      Was it added via the extend API?");
}
[[noreturn]] void raise_not_found(PyObject* self, PyObject* attribute) {
    raise(PyExc_AssertionError, format(not_found_text(), {attribute, attr(self, PYU_STR("_routerOs")).ptr()}).ptr());
}

Object routed_regex(PyObject* self, PyObject* tag) {
    return get_regex(attr(self, PYU_STR("_routerOs")).ptr(), tag);
}

// The stop rule: false when a consumed tag's pattern matches the line.
bool check_scope(PyObject* regex_done, PyObject* line) {
    Object it = iter(regex_done);
    while (Object pattern = pyutil::next(it.ptr())) {
        if (match(pattern.ptr(), line).ptr() == Py_None) continue;
        Object text = own(PyUnicode_Format(
            PYU_STR("Regular expression hierarchy violated at line '%s' (hint: overlapping regular expression "
                    "in the same predicate and on different line ?"),
            line));
        call_method(global(PYU_STR("logger")), PYU_STR("debug"), {text.ptr()});
        return false;
    }
    return true;
}

bool current_matching(Regexes& rx, PyObject* value_to_match, PyObject* value_found) {
    if (!isstr(value_to_match) && rx.is_iterable(value_to_match)) {
        Object it = iter(value_to_match);
        while (Object item = pyutil::next(it.ptr()))
            if (same_or_equal(str(item.ptr()).ptr(), value_found)) return true;
        return false;
    }
    return same_or_equal(str(value_to_match).ptr(), value_found);
}

// Whether any pattern of regex_done matches the piece (by truth value).
bool any_done_matches(PyObject* regex_done, PyObject* piece) {
    Object it = iter(regex_done);
    while (Object pattern = pyutil::next(it.ptr()))
        if (truth(match(pattern.ptr(), piece).ptr())) return true;
    return false;
}

bool all_patterns(PyObject* regex_done) {
    if (!PyList_CheckExact(regex_done)) return false;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(regex_done); ++i)
        if (Py_TYPE(PyList_GET_ITEM(regex_done, i)) != pattern_type) return false;
    return true;
}

// The rest of the text after the current line, as the pattern test and the
// per-line scan see it, exactly as written: a copy, split at every line feed.
Object future_literal(const Regexes::Composed& c, PyObject* text, Py_ssize_t start,
                          PyObject* regex_done) {
    Object from = index(start);
    Object slice = own(PySlice_New(from.ptr(), Py_None, Py_None));
    Object remainder = getitem(text, slice.ptr());
    if (!truth(match(c.literal.ptr(), remainder.ptr()).ptr())) return borrow(Py_False);
    Object pieces = iter(call_method(remainder.ptr(), PYU_STR("split"), {PYU_STR("\n")}).ptr());
    while (Object raw = pyutil::next(pieces.ptr())) {
        Object piece = without_cr(raw.ptr());
        Object occurs = match(c.literal.ptr(), piece.ptr());
        if (any_done_matches(regex_done, piece.ptr())) return borrow(Py_False);
        if (truth(occurs.ptr())) return borrow(Py_True);
    }
    return borrow(Py_None);
}

// The same answer, with the cost bounded by the section: the per-line scan
// decides first, and the whole-rest test runs only when the scan did not
// already give False, lazily from the current line's end.
Object future_bounded(const Regexes::Composed& c, PyObject* text, Py_ssize_t start,
                          PyObject* regex_done) {
    PyObject* test = c.lazy ? c.lazy.ptr() : c.literal.ptr();
    const Py_ssize_t n = PyUnicode_GET_LENGTH(text);
    PyObject* verdict = Py_None;
    for (Py_ssize_t pos = start;;) {
        Py_ssize_t nl = PyUnicode_FindChar(text, '\n', pos, n, 1);
        if (nl == -2) throw PyError();
        Object piece = clean_slice(text, pos, nl < 0 ? n : nl);
        bool occurs = truth(match(test, piece.ptr()).ptr());
        if (any_done_matches(regex_done, piece.ptr())) return borrow(Py_False);
        if (occurs) {
            verdict = Py_True;
            break;
        }
        if (nl < 0) break;
        pos = nl + 1;
    }
    Object found = c.from_offset ? match(test, text, start)
                                     : match(test, own(PyUnicode_Substring(text, start, n)).ptr());
    if (!truth(found.ptr())) return borrow(Py_False);
    return borrow(verdict);
}

Py_ssize_t find_line(PyObject* text, PyObject* line, Py_ssize_t from) {
    if (PyUnicode_Check(text) && PyUnicode_Check(line)) {
        Py_ssize_t at = PyUnicode_Find(text, line, from, PY_SSIZE_T_MAX, 1);
        if (at == -2) throw PyError();
        return at;
    }
    Object at = from ? call_method(text, PYU_STR("find"), {line, index(from).ptr()})
                         : call_method(text, PYU_STR("find"), {line});
    Py_ssize_t value = PyLong_AsSsize_t(at.ptr());
    check_no_error();
    return value;
}

// Whether `regex` occurs again below the current line before a consumed
// tag's pattern matches a line: True, False, or None when the text ends first.
Object future_matching(Context& ctx, PyObject* self, PyObject* regex, PyObject* regex_done, PyObject* line) {
    Object text = attr(self, PYU_STR("_text_to_parse"));
    // The current line is looked for where it stands, not at an earlier
    // line that holds the same text or a longer one.
    Parse* p = ctx.parse();
    Py_ssize_t from = p && p->text.ptr() == text.ptr() ? p->line_offset : 0;
    Py_ssize_t at = find_line(text.ptr(), line, from);
    if (at == -1) return borrow(Py_False);
    Py_ssize_t start = at + size(line);
    Regexes::Composed c = ctx.regexes().composed(regex);
    if (c.fast && PyUnicode_CheckExact(text.ptr()) && all_patterns(regex_done))
        return future_bounded(c, text.ptr(), start, regex_done);
    return future_literal(c, text.ptr(), start, regex_done);
}

// The skip option: drops the tags none of whose testable alternatives matches
// any line, and the values paired with them.
void delete_non_matching(Regexes& rx, PyObject* self, PyObject* lines, PyObject* regex_tags) {
    // lines are tested as the loop sees them, without carriage returns
    std::vector<Object> clean;
    bool clean_ready = false;
    auto clean_lines = [&]() -> const std::vector<Object>& {
        if (!clean_ready) {
            Object it = iter(lines);
            while (Object line = pyutil::next(it.ptr())) clean.push_back(without_cr(line.ptr()));
            clean_ready = true;
        }
        return clean;
    };
    // the items as the loop meets them: the user code it runs may change the list
    std::vector<Object> tags;
    std::vector<bool> keep;
    bool removed = false;
    Object visit = iter(regex_tags);
    while (Object tag = pyutil::next(visit.ptr())) {
        const size_t i = tags.size();
        tags.push_back(tag);
        keep.push_back(true);
        Object regitem = routed_regex(self, tag.ptr());
        // a tag that cannot be tested is left for the loop, which reports it
        if (regitem.ptr() == Py_None) continue;
        std::vector<Object> alternatives;
        if (isstr(regitem.ptr())) {
            alternatives = {regitem, borrow(empty_text())};
        } else {
            Object it = iter(regitem.ptr());
            while (Object alt = pyutil::next(it.ptr())) alternatives.push_back(std::move(alt));
        }
        bool testable = false, matched = false, untestable = false;
        for (auto& alt : alternatives) untestable = untestable || alt.ptr() == Py_None;
        if (untestable) continue;
        for (auto& alt : alternatives) {
            if (size(alt.ptr()) < 2) continue;
            testable = true;
            Object pattern = rx.compile(alt.ptr());
            if (matched) continue;
            for (auto& line : clean_lines()) {
                if (truth(match(pattern.ptr(), line.ptr()).ptr())) {
                    matched = true;
                    break;
                }
            }
        }
        if (testable && !matched) {
            keep[i] = false;
            removed = true;
        }
    }
    if (!removed) return;
    for (size_t i = tags.size(); i-- > 0;)
        if (!keep[i]) check(PySequence_DelItem(regex_tags, static_cast<Py_ssize_t>(i)));
    Object old = attr(self, PYU_STR("_values"));
    Object values = own(PyList_New(0));
    for (size_t i = 0; i < tags.size(); ++i) {
        if (!keep[i]) continue;
        PyObject* value = PyObject_GetItem(old.ptr(), index(static_cast<Py_ssize_t>(i)).ptr());
        if (!value) {
            // a short value list stays short, for the loop to meet
            if (!PyErr_ExceptionMatches(PyExc_IndexError)) throw PyError();
            PyErr_Clear();
            break;
        }
        check(PyList_Append(values.ptr(), own(value).ptr()));
    }
    setattr(self, PYU_STR("_values"), values.ptr());
}

// The alternative a tag reached inside a line's run is matched with.
Object get_regex_def(Regexes& rx, PyObject* self, PyObject* attribute_n, PyObject* line) {
    Object regitem = routed_regex(self, attribute_n);
    if (isstr(regitem.ptr())) return regitem;
    Object it = iter(regitem.ptr());
    while (Object alt = pyutil::next(it.ptr()))
        if (match(rx.compile(alt.ptr()).ptr(), line).ptr() != Py_None) return alt;
    return borrow(PYU_STR("NO_MATCH_POSSIBLE"));
}

// ---------------------------------------------------------------------------
// The matching loop.

// The loop's hooks.  An override is looked up on the object at each call, as
// `self.<hook>(...)` would be, so one that rebinds itself takes effect at once;
// the class's own method, once found, is called directly for the rest of the parse.
class Hooks {
public:
    explicit Hooks(Parse& p) : p_(p), attrs_(p.self) {}

    bool check_scope(PyObject* regex_done, PyObject* line) {
        if (check_scope_.native()) return !stop_.may_match(regex_done, line) || core::check_scope(regex_done, line);
        return !same_or_equal(check_scope_.call(regex_done, line), Py_False);
    }
    bool current_matching(PyObject* value_to_match, PyObject* value_found) {
        if (current_matching_.native()) return core::current_matching(p_.regexes, value_to_match, value_found);
        return truth(current_matching_.call(value_to_match, value_found));
    }
    // Whether the future-match test answers something equal to False.
    bool future_fails(PyObject* regex, PyObject* regex_done, PyObject* line) {
        Object result;
        if (future_matching_.native()) {
            Context ctx(p_.self);
            result = core::future_matching(ctx, p_.self, regex, regex_done, line);
        } else {
            result = future_matching_.call(regex, regex_done, line);
        }
        return same_or_equal(result, Py_False);
    }
    void delete_non_matching(PyObject* lines, PyObject* regex_tags) {
        if (delete_non_matching_.native()) return core::delete_non_matching(p_.regexes, p_.self, lines, regex_tags);
        delete_non_matching_.call(lines, regex_tags);
    }
    Object get_regex_def(PyObject* attribute_n, PyObject* line) {
        if (get_regex_def_.native()) return core::get_regex_def(p_.regexes, p_.self, attribute_n, line);
        return get_regex_def_.call(attribute_n, line);
    }

private:
    Parse& p_;
    StopRule stop_;
    AttrCache attrs_;
    Hook check_scope_{attrs_, PYU_STR("_parser_check_scope"), base.check_scope};
    Hook current_matching_{attrs_, PYU_STR("_parser_current_matching"), base.current_matching};
    Hook future_matching_{attrs_, PYU_STR("_parser_future_matching"), base.future_matching};
    Hook delete_non_matching_{attrs_, PYU_STR("_parser_delete_non_matching"), base.delete_non_matching};
    Hook get_regex_def_{attrs_, PYU_STR("_textloom_t__get_regex_def"), base.get_regex_def};
};

// The lines of the stored text split at every line feed, each without its
// carriage returns.  An exact str is read in place, line by line, so that a
// parse ending early never splits the rest.
class LineWalk {
public:
    explicit LineWalk(PyObject* text) : text_(borrow(text)) {
        in_place_ = PyUnicode_CheckExact(text);
        if (in_place_) n_ = PyUnicode_GET_LENGTH(text);
        else list_ = call_method(text, PYU_STR("split"), {PYU_STR("\n")});
    }
    // The lines as a list; the walk then reads that list, which the skip
    // step has in hand.
    Object list() {
        if (in_place_) {
            list_ = own(PyUnicode_Split(text_.ptr(), PYU_STR("\n"), -1));
            in_place_ = false;
        }
        return list_;
    }
    bool next(Object& line, Py_ssize_t& offset) {
        if (in_place_) {
            if (done_) return false;
            Py_ssize_t nl = PyUnicode_FindChar(text_.ptr(), '\n', pos_, n_, 1);
            if (nl == -2) throw PyError();
            Py_ssize_t end = nl < 0 ? n_ : nl;
            line = clean_slice(text_.ptr(), pos_, end);
            offset = pos_;
            if (nl < 0) done_ = true;
            else pos_ = nl + 1;
            return true;
        }
        if (!it_) it_ = iter(list_.ptr());
        Object raw = pyutil::next(it_.ptr());
        if (!raw) return false;
        offset = offset_;
        offset_ += size(raw.ptr()) + 1;
        line = without_cr(raw.ptr());
        return true;
    }

private:
    Object text_, list_, it_;
    bool in_place_ = false, done_ = false;
    Py_ssize_t n_ = 0, pos_ = 0, offset_ = 0;
};

// The alternatives of a tag at the start of a line: (text, "") for a text,
// else the registry's answer itself.
class Alternatives {
public:
    Alternatives(const Object& regitem, bool text) {
        if (text) {
            pair_[0] = regitem;
            pair_[1] = borrow(empty_text());
        } else {
            it_ = iter(regitem.ptr());
        }
    }
    bool next(Object& out) {
        if (it_) {
            out = pyutil::next(it_.ptr());
            return bool(out);
        }
        if (i_ == 2) return false;
        out = pair_[i_++];
        return true;
    }

private:
    Object pair_[2], it_;
    int i_ = 0;
};

Object group1(PyObject* match) {
    Object one = index(1);
    if (Py_TYPE(match) == match_type) return getitem(match, one.ptr());
    return call_method(match, PYU_STR("group"), {one.ptr()});
}

// What a found value is compared with; k is the 1-based position of the
// alternative through which the line's run began.
Object expected_for(Regexes& rx, PyObject* value_n, Py_ssize_t k) {
    if (isstr(value_n) || !rx.is_iterable(value_n)) return borrow(value_n);
    Py_ssize_t n = size(value_n);
    if (k < n) return borrow(value_n);
    if (k - 1 < n) return getitem(value_n, index(k - 1).ptr());
    return getitem(value_n, index(0).ptr());
}

bool contains_equal(const std::vector<Object>& items, PyObject* value) {
    for (auto& item : items)
        if (same_or_equal(item.ptr(), value)) return true;
    return false;
}

// del mapping[key], where the key may already be gone (a tag listed twice
// in one wildcard group is deleted once per occurrence).
void discard(PyObject* mapping, PyObject* key) {
    if (PyObject_DelItem(mapping, key) == 0) return;
    if (!PyErr_ExceptionMatches(PyExc_KeyError)) throw PyError();
    PyErr_Clear();
}

void pop_last(PyObject* list) {
    Py_ssize_t n = PyList_GET_SIZE(list);
    if (!n) raise(PyExc_IndexError, "pop from empty list");
    check(PyList_SetSlice(list, n - 1, n, nullptr));
}

Object results_of(PyObject* self) {
    return getitem(global(PYU_STR("ext_dictio")), attr(self, PYU_STR("_parse_key")).ptr());
}

Object mismatch_record(PyObject* value, Py_ssize_t lineno) {
    Object record = own(PyDict_New());
    setitem(record.ptr(), PYU_STR("value"), value);
    setitem(record.ptr(), PYU_STR("line"), index(lineno).ptr());
    return record;
}

void run_parser(PyObject* self) {
    Parse p(self);
    Hooks hooks(p);
    Object dictio = own(PyDict_New());
    Object regex_done = own(PyList_New(0));
    Object regex_previous = borrow(empty_text());
    p.text = attr(self, PYU_STR("_text_to_parse"));
    LineWalk lines(p.text.ptr());
    if (truth(attr(self, PYU_STR("_skip")).ptr()))
        hooks.delete_non_matching(lines.list().ptr(), attr(self, PYU_STR("_attributes")).ptr());

    // the tags not yet consumed, last first: the current tag is at the back
    std::vector<Object> attributes;
    {
        Object it = iter(attr(self, PYU_STR("_attributes")).ptr());
        while (Object tag = pyutil::next(it.ptr())) attributes.push_back(std::move(tag));
        std::reverse(attributes.begin(), attributes.end());
    }
    if (attributes.empty()) raise(PyExc_IndexError, "list index out of range");
    Object attribute_n = attributes.back();
    Py_ssize_t attribute_n_idx = 0;
    std::vector<std::vector<Object>> none_wild_match;
    bool sequence_validate = true;
    bool sequence_started = false;

    std::vector<Object> regex_same_line;
    Object line;
    Py_ssize_t offset = 0;
    for (Py_ssize_t lineno = 0; lines.next(line, offset); ++lineno) {
        p.line_offset = offset;
        if (!hooks.check_scope(regex_done.ptr(), line.ptr())) {
            sequence_validate = false;
            break;
        }
        Object regitem = routed_regex(self, attribute_n.ptr());
        const bool text = isstr(regitem.ptr());
        if (!text && regitem.ptr() == Py_None && !assertions_disabled()) raise_not_found(self, attribute_n.ptr());
        Alternatives alternatives(regitem, text);
        Py_ssize_t regex_def_idx = 0;
        bool found_regex = false;
        bool goto_nextline = false;
        regex_same_line.clear();
        Object regex_def_n;
        while (alternatives.next(regex_def_n)) {
            if (regex_def_n.ptr() == Py_None && !assertions_disabled()) raise_not_found(self, attribute_n.ptr());
            ++regex_def_idx;
            if (size(regex_def_n.ptr()) < 2) continue;
            if (found_regex || goto_nextline) break;
            Object regex_n = p.regexes.compile(regex_def_n.ptr());
            Object match_n = match(regex_n.ptr(), line.ptr());
            // one pass per tag taken on this line
            while (truth(match_n.ptr()) && sequence_validate) {
                found_regex = true;
                Object value_found = group1(match_n.ptr());
                setitem(results_of(self).ptr(), attribute_n.ptr(), value_found.ptr());
                Object value_n = getitem(attr(self, PYU_STR("_values")).ptr(), index(attribute_n_idx).ptr());
                Object value_to_match = expected_for(p.regexes, value_n.ptr(), regex_def_idx);
                // at most one tag per regex definition on one line
                Object same = routed_regex(self, attribute_n.ptr());
                if (contains_equal(regex_same_line, same.ptr())) {
                    goto_nextline = true;
                    break;
                }
                regex_same_line.push_back(same);
                Object fill = attr(self, PYU_STR("_fill"));
                if (same_or_equal(fill.ptr(), Py_True) && is_none(value_to_match.ptr())) {
                    setitem(dictio.ptr(), attribute_n.ptr(), Py_True);
                } else if (is_none(value_to_match.ptr())) {
                    none_wild_match.emplace_back();  // a wildcard opens a group
                    setitem(dictio.ptr(), attribute_n.ptr(), Py_True);
                } else if (hooks.current_matching(value_to_match.ptr(), value_found.ptr())) {
                    setitem(dictio.ptr(), attribute_n.ptr(), Py_True);
                } else {
                    setitem(dictio.ptr(), attribute_n.ptr(), mismatch_record(value_found.ptr(), lineno).ptr());
                    const bool fatal = sequence_started && differs(regex_previous.ptr(), regex_n.ptr()) &&
                                       same_or_equal(fill.ptr(), Py_False) &&
                                       hooks.future_fails(regex_def_n.ptr(), regex_done.ptr(), line.ptr());
                    if (fatal) {
                        if (none_wild_match.empty()) {
                            sequence_validate = false;
                            break;
                        }
                        // undo the newest wildcard group: its wildcard is current again
                        std::vector<Object> restore_attrs = std::move(none_wild_match.back());
                        none_wild_match.pop_back();
                        for (auto it = restore_attrs.rbegin(); it != restore_attrs.rend(); ++it) {
                            discard(dictio.ptr(), it->ptr());
                            discard(results_of(self).ptr(), it->ptr());
                            attributes.push_back(*it);
                            --attribute_n_idx;
                            pop_last(regex_done.ptr());
                            Py_ssize_t n = PyList_GET_SIZE(regex_done.ptr());
                            regex_previous = n ? borrow(PyList_GET_ITEM(regex_done.ptr(), n - 1)) : borrow(Py_None);
                        }
                        attribute_n = attributes.back();
                        goto_nextline = true;
                    }
                    break;
                }
                // consume the tag, then try the next one on the same line
                sequence_started = true;
                if (!none_wild_match.empty()) none_wild_match.back().push_back(attribute_n);
                attributes.pop_back();
                if (attributes.empty()) break;
                attribute_n = attributes.back();
                check(PyList_Append(regex_done.ptr(), regex_n.ptr()));
                regex_previous = regex_n;
                Object next_def = hooks.get_regex_def(attribute_n.ptr(), line.ptr());
                regex_n = p.regexes.compile(next_def.ptr());
                match_n = match(regex_n.ptr(), line.ptr());
                ++attribute_n_idx;
            }
        }
        if (attributes.empty()) break;
    }

    // a wildcard never found counts as found
    {
        Object it = iter(attr(self, PYU_STR("_attributes")).ptr());
        Py_ssize_t i = 0;
        while (Object tag = pyutil::next(it.ptr())) {
            if (!check(PyDict_Contains(dictio.ptr(), tag.ptr())) &&
                is_none(getitem(attr(self, PYU_STR("_values")).ptr(), index(i).ptr()).ptr()))
                setitem(dictio.ptr(), tag.ptr(), Py_True);
            ++i;
        }
    }
    setattr(self, PYU_STR("_dictio"), dictio.ptr());
    setattr(self, PYU_STR("_validate"), sequence_validate ? Py_True : Py_False);
}

// ---------------------------------------------------------------------------
// Method bodies.

Object init_body(const Args& a) {
    PyObject* self = a[0];
    PyObject* routerOs = a[1];
    PyObject* parse_key = a[5];
    setattr(self, PYU_STR("_attributes"), own(PySequence_List(a[2])).ptr());
    setattr(self, PYU_STR("_values"), a[3]);
    setattr(self, PYU_STR("_routerOs"), call_method(routerOs, PYU_STR("lower"), {}).ptr());
    setattr(self, PYU_STR("_parse_key"), parse_key);
    // reset before any check: a failed construction leaves an empty entry
    setitem(global(PYU_STR("ext_dictio")), parse_key, own(PyDict_New()).ptr());
    if (!assertions_disabled()) {
        Object oses = global(PYU_STR("supported_oses"));
        if (!contains(oses, attr(self, PYU_STR("_routerOs")).ptr()))
            raise(PyExc_AssertionError,
                  format(PYU_STR("The operating system {} is not supported, try using one of {}."), {routerOs, oses})
                      .ptr());
    }
    setattr(self, PYU_STR("_errors"), own(PyList_New(0)).ptr());
    Object cls = attr(self, PYU_STR("__class__"));
    call_method(self, PYU_STR("error"), {attr(cls.ptr(), PYU_STR("__name__")).ptr()});
    setattr(self, PYU_STR("_fill"), a[4]);
    setattr(self, PYU_STR("_skip"), a[6]);
    if (truth(attr(self, PYU_STR("_fill")).ptr()) && !assertions_disabled()) {
        Object values = attr(self, PYU_STR("_values"));
        if (!truth(values.ptr())) raise(PyExc_AssertionError, "values list cannot be empty");
        if (getitem(values.ptr(), index(0).ptr()).ptr() == Py_None)
            raise(PyExc_AssertionError,
                  "Cannot perform the fill operation unless the first                  value is not None");
    }
    Object stored = getitem(global(PYU_STR("text_to_parse")), parse_key);
    setattr(self, PYU_STR("_text_to_parse"), strip(stored.ptr(), common::output_strip_chars()).ptr());
    call_method(self, PYU_STR("_parser"), {});
    return borrow(Py_None);
}

Object as_bool(bool b) { return borrow(b ? Py_True : Py_False); }

Object check_scope_body(const Args& a) { return as_bool(!StopRule().may_match(a[1], a[2]) || check_scope(a[1], a[2])); }

Object current_matching_body(const Args& a) {
    Context ctx(a[0]);
    return as_bool(current_matching(ctx.regexes(), a[1], a[2]));
}

Object future_matching_body(const Args& a) {
    Context ctx(a[0]);
    return future_matching(ctx, a[0], a[1], a[2], a[3]);
}

Object delete_non_matching_body(const Args& a) {
    Context ctx(a[0]);
    delete_non_matching(ctx.regexes(), a[0], a[1], a[2]);
    return borrow(Py_None);
}

Object parser_body(const Args& a) {
    run_parser(a[0]);
    return borrow(Py_None);
}

Object get_regex_def_body(const Args& a) {
    Context ctx(a[0]);
    return get_regex_def(ctx.regexes(), a[0], a[1], a[2]);
}

Object validate_body(const Args& a) {
    PyObject* self = a[0];
    Object dictio = attr(self, PYU_STR("_dictio"));
    auto triple = [&](bool ok, PyObject* msg) {
        return own(PyTuple_Pack(3, ok ? Py_True : Py_False, dictio.ptr(), msg));
    };
    if (!truth(attr(self, PYU_STR("_validate")).ptr())) return triple(false, empty_text());
    Py_ssize_t n_attributes = size(attr(self, PYU_STR("_attributes")).ptr());
    Py_ssize_t n_keys = size(call_method(dictio.ptr(), PYU_STR("keys"), {}).ptr());
    if (n_attributes != n_keys) {
        Object msg = own(PyUnicode_FromFormat(
            "# Values != # attributes, # attr: %zd, # keys: %zd. attributes with the same name given in input ?",
            n_attributes, n_keys));
        return triple(false, msg.ptr());
    }
    Object it = iter(call_method(dictio.ptr(), PYU_STR("values"), {}).ptr());
    while (Object value = pyutil::next(it.ptr()))
        if (differs(value.ptr(), Py_True)) return triple(false, empty_text());
    return triple(true, empty_text());
}

Object error_body(const Args& a) {
    call_method(attr(a[0], PYU_STR("_errors")).ptr(), PYU_STR("append"), {a[1]});
    return borrow(Py_None);
}

Object str_body(const Args& a) {
    return own(PyUnicode_Join(PYU_STR("\n"), attr(a[0], PYU_STR("_errors")).ptr()));
}

FunctionSpec init_spec{"__init__", "_textloom_t.__init__",
                       {{"self"}, {"routerOs"}, {"attributes"}, {"values"}, {"fill", false}, {"parse_key", ""},
                        {"skip", false}},
                       init_body};
FunctionSpec check_scope_spec{"_parser_check_scope", "_textloom_t._parser_check_scope",
                              {{"self"}, {"regex_done"}, {"line"}}, check_scope_body};
FunctionSpec current_matching_spec{"_parser_current_matching", "_textloom_t._parser_current_matching",
                                   {{"self"}, {"value_to_match"}, {"value_found"}}, current_matching_body};
FunctionSpec future_matching_spec{"_parser_future_matching", "_textloom_t._parser_future_matching",
                                  {{"self"}, {"regex"}, {"regex_done"}, {"line"}}, future_matching_body};
FunctionSpec delete_non_matching_spec{"_parser_delete_non_matching", "_textloom_t._parser_delete_non_matching",
                                      {{"self"}, {"lines"}, {"regex_tags"}}, delete_non_matching_body};
FunctionSpec parser_spec{"_parser", "_textloom_t._parser", {{"self"}}, parser_body};
FunctionSpec get_regex_def_spec{"__get_regex_def", "_textloom_t.__get_regex_def",
                                {{"self"}, {"attribute_n"}, {"line"}}, get_regex_def_body};
FunctionSpec validate_spec{"_parser_validate", "_textloom_t._parser_validate", {{"self"}}, validate_body};
FunctionSpec error_spec{"error", "_textloom_t.error", {{"self"}, {"msg"}}, error_body};
FunctionSpec str_spec{"__str__", "_textloom_t.__str__", {{"self"}}, str_body};

const char* const doc =
    "Parse non-tabular show-command output by a list of regex tags and their\n"
    "expected values (fill mode: collect the values; check mode: compare them).";

// The method, with its function kept for the hooks' identity test.
Object hook_method(Object method, PyObject*& function) {
    function = method.ptr();
    Py_INCREF(function);  // never freed, so no other object can take its address
    return method;
}

}  // namespace

// collections.Iterable as the parser's isinstance test reads it: the attribute
// of whatever `collections` is bound to, with that lookup's own errors.  The
// standard module no longer has the alias, so for a module without it
// collections.abc.Iterable stands in.
Object iterable_abc() {
    Object collections = global(PYU_STR("collections"));
    if (!PyModule_CheckExact(collections.ptr())) return getattr(collections, PYU_STR("Iterable"));
    // a missing module attribute costs an AttributeError: read the dict
    PyObject* dict = PyModule_GetDict(collections.ptr());
    if (PyObject* found = PyDict_GetItemWithError(dict, PYU_STR("Iterable"))) return borrow(found);
    check_no_error();
    if (PyObject* found = PyDict_GetItemWithError(dict, PYU_STR("abc"))) {
        Object abc = borrow(found);
        return getattr(abc, PYU_STR("Iterable"));
    }
    check_no_error();
    return getattr(import("collections.abc"), PYU_STR("Iterable"));
}

Object make_textloom_class() {
    Object re = import("re");
    re_compile = getattr(re.ptr(), PYU_STR("compile")).release();
    pattern_type = reinterpret_cast<PyTypeObject*>(getattr(re.ptr(), PYU_STR("Pattern")).release());
    match_type = reinterpret_cast<PyTypeObject*>(getattr(re.ptr(), PYU_STR("Match")).release());
    pattern_match = getattr(reinterpret_cast<PyObject*>(pattern_type), PYU_STR("match")).release();
    Regexes::shared_compiled = PyDict_New();
    Regexes::shared_composed = PyDict_New();
    if (!Regexes::shared_compiled || !Regexes::shared_composed) throw PyError();
    const pyutil::ModuleFrame& n = frame();
    Object bases = own(PyTuple_Pack(1, reinterpret_cast<PyObject*>(&PyBaseObject_Type)));
    return make_class(
        "_textloom_t", bases.ptr(), n, doc,
        {{"_dictio", own(PyDict_New())},
         {"__init__", make_method<init_spec>(n)},
         {"_parser_check_scope", hook_method(make_method<check_scope_spec>(n), base.check_scope)},
         {"_parser_current_matching", hook_method(make_method<current_matching_spec>(n), base.current_matching)},
         {"_parser_future_matching", hook_method(make_method<future_matching_spec>(n), base.future_matching)},
         {"_parser_delete_non_matching",
          hook_method(make_method<delete_non_matching_spec>(n), base.delete_non_matching)},
         {"_parser", make_method<parser_spec>(n)},
         {"_textloom_t__get_regex_def", hook_method(make_method<get_regex_def_spec>(n), base.get_regex_def)},
         {"_parser_validate", make_method<validate_spec>(n)},
         {"error", make_method<error_spec>(n)},
         {"__str__", make_method<str_spec>(n)}});
}

}  // namespace core
