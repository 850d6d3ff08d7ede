#include "core/nontabular_walk.hpp"
#include <algorithm>
#include <optional>
#include <vector>
#include "core/nontabular.hpp"
#include "core/stop_rule.hpp"
#include "pyutil/hooks.hpp"
#include "pyutil/ops.hpp"
#include "pyutil/text.hpp"

namespace core::nontabular {
namespace {

using namespace pyutil;

// The lines of the stored text split at every line feed, each without its
// carriage returns.  An exact str is read in place, line by line, so that a
// parse ending early never splits the rest.
class LineWalk {
public:
    explicit LineWalk(Handle text) : text_(borrow(text)), in_place_(is_exact_str(text)) {
        if (in_place_) n_ = length(text);
        else list_ = call_method(text, PYU_STR("split"), {PYU_STR("\n")});
    }
    // The lines as a list; the walk then reads that list, which the skip
    // step has in hand.
    Object list() {
        if (in_place_) {
            list_ = split(text_, PYU_STR("\n"));
            in_place_ = false;
        }
        return list_;
    }
    bool next(Object& line, Py_ssize_t& offset) {
        if (in_place_) {
            if (done_) return false;
            Py_ssize_t nl = find_char(text_, '\n', pos_, n_);
            line = slice_without_cr(text_, pos_, nl < 0 ? n_ : nl);
            offset = pos_;
            if (nl < 0) done_ = true;
            else pos_ = nl + 1;
            return true;
        }
        if (!it_) it_ = iter(list_);
        Object raw = pyutil::next(it_);
        if (!raw) return false;
        offset = offset_;
        offset_ += length(raw) + 1;
        line = without_cr(raw);
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
            pair_[1] = borrow(empty_str());
        } else {
            it_ = iter(regitem);
        }
    }
    bool next(Object& out) {
        if (it_) {
            out = pyutil::next(it_);
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

// What a found value is compared with; k is the 1-based position of the
// alternative through which the line's run began.
Object expected_for(Regexes& rx, Handle value_n, Py_ssize_t k) {
    if (isstr(value_n) || !rx.is_iterable(value_n)) return borrow(value_n);
    Py_ssize_t n = length(value_n);
    if (k < n) return borrow(value_n);
    if (k - 1 < n) return getitem(value_n, integer(k - 1));
    return getitem(value_n, integer(0));
}

bool contains_equal(const std::vector<Object>& items, Handle value) {
    for (auto& item : items)
        if (same_or_equal(item, value)) return true;
    return false;
}

// del mapping[key], where the key may already be gone (a tag listed twice
// in one wildcard group is deleted once per occurrence).
void discard(Handle mapping, Handle key) {
    try {
        delitem(mapping, key);
    } catch (PyError&) {
        if (!CaughtError::fetch_if(PyExc_KeyError)) throw;
    }
}

// list.pop() of an exact list, its item dropped.
void pop_last(Handle list) {
    Py_ssize_t n = length(list);
    if (!n) raise(PyExc_IndexError, "pop from empty list");
    delitem(list, n - 1);
}

Object ext_dictio() {
    return PYU_CACHED_GLOBAL(frame(), "ext_dictio").get();
}

Object mismatch_record(Handle value, Py_ssize_t lineno) {
    Object record = new_dict();
    setitem(record, PYU_STR("value"), value);
    setitem(record, PYU_STR("line"), integer(lineno));
    return record;
}

// The loop's hooks.  An override is looked up on the object at each call, as
// `self.<hook>(...)` would be, so one that rebinds itself takes effect at once;
// the class's own method, once found, runs as its C++ body.
struct Hooks {
    explicit Hooks(AttrCache& attrs) : attrs(attrs) {}
    Hooks(const Hooks&) = delete;
    Hooks& operator=(const Hooks&) = delete;

    AttrCache& attrs;
    Hook check_scope{attrs, PYU_STR("_parser_check_scope"), base.check_scope};
    Hook current_matching{attrs, PYU_STR("_parser_current_matching"), base.current_matching};
    Hook future_matching{attrs, PYU_STR("_parser_future_matching"), base.future_matching};
    Hook delete_non_matching{attrs, PYU_STR("_parser_delete_non_matching"), base.delete_non_matching};
    Hook get_regex_def{attrs, PYU_STR("_textloom_t__get_regex_def"), base.get_regex_def};
};

// One run of the loop.  The tags are consumed in order; on each line the
// current tag's alternatives are tried, and from the one that matches, a run
// of tags (one after the other on the same line) is taken.  Each step below
// is one state of the loop and returns the next.
class Walk {
public:
    explicit Walk(Handle self) : p_(self), hooks_(p_.attrs) {}

    void run() {
        start();
        Step step = Step::next_line;
        while (step != Step::stop) {
            switch (step) {
                case Step::next_line: step = next_line(); break;
                case Step::alternative: step = alternative(); break;
                case Step::take_tag: step = take_tag(); break;
                case Step::stop: break;
            }
        }
        finish();
    }

private:
    enum class Step {
        next_line,    // the stop rule on the next line, then the current tag's alternatives
        alternative,  // the next of those alternatives, matched against the line
        take_tag,     // the current tag's pattern was matched: take the tag, or leave the run
        stop,         // the walk is over
    };

    void start();
    Step next_line();
    Step alternative();
    Step take_tag();
    Step mismatch(Handle value_found, Handle fill);
    void undo_wildcard_group();
    Step consume();
    void end_line();
    void finish();

    // The hooks as the loop reads their answers.
    bool in_scope();
    bool value_matches(Handle value_to_match, Handle value_found);
    bool future_fails();
    void skip_non_matching(Handle lines, Handle regex_tags);
    Object regex_def_on_line();

    Handle self() const { return p_.self; }
    // self.<slot's name>, as read now
    Object attr(AttrCache::Slot& slot) { return p_.attrs.get(slot).value; }
    // ext_dictio[self._parse_key]
    Object results() {
        Object table = ext_dictio();
        return getitem(table, attr(parse_key_));
    }

    Parse p_;
    Hooks hooks_;
    AttrCache::Slot values_{PYU_STR("_values")}, fill_{PYU_STR("_fill")}, parse_key_{PYU_STR("_parse_key")};
    StopRule stop_;
    std::optional<LineWalk> lines_;
    Object dictio_ = new_dict();
    Object regex_done_ = new_list();  // the patterns of the consumed tags
    Object regex_previous_ = borrow(empty_str());

    std::vector<Object> attributes_;  // the tags not yet consumed, last first: the current tag is at the back
    Object attribute_n_;
    Py_ssize_t attribute_n_idx_ = 0;
    // the open wildcard groups, newest last: each holds the tags consumed since its wildcard, the wildcard first
    std::vector<std::vector<Object>> none_wild_match_;
    bool sequence_validate_ = true;
    bool sequence_started_ = false;

    // the current line
    Object line_;
    Py_ssize_t lineno_ = -1;
    std::optional<Alternatives> alternatives_;
    Py_ssize_t regex_def_idx_ = 0;  // the 1-based position of the alternative being tried
    bool found_regex_ = false;      // the line has given its run
    std::vector<Object> regex_same_line_;
    Object regex_def_n_, regex_n_, match_n_;  // the alternative, the current tag's pattern, its match
};

// Before the first line: the skip option drops the tags that match no line;
// the tags left are taken in order.
void Walk::start() {
    p_.text = getattr(self(), PYU_STR("_text_to_parse"));
    lines_.emplace(p_.text);
    if (truth(getattr(self(), PYU_STR("_skip")))) {
        Object lines = lines_->list();
        skip_non_matching(lines, getattr(self(), PYU_STR("_attributes")));
    }
    Object it = iter(getattr(self(), PYU_STR("_attributes")));
    while (Object tag = pyutil::next(it)) attributes_.push_back(std::move(tag));
    std::reverse(attributes_.begin(), attributes_.end());
    if (attributes_.empty()) raise(PyExc_IndexError, "list index out of range");
    attribute_n_ = attributes_.back();
}

// A new line, while tags are left: the section ends where the stop rule says
// so; else the line is tried with the alternatives of the current tag.
Walk::Step Walk::next_line() {
    if (attributes_.empty()) return Step::stop;
    Py_ssize_t offset = 0;
    if (!lines_->next(line_, offset)) return Step::stop;
    ++lineno_;
    p_.line = line_;
    p_.line_offset = offset;
    if (!in_scope()) {
        sequence_validate_ = false;
        return Step::stop;
    }
    Object regitem = p_.routed.get(attribute_n_);
    const bool text = isstr(regitem);
    if (!text && regitem.is_none() && !assertions_disabled()) raise_not_found(self(), attribute_n_);
    alternatives_.emplace(regitem, text);
    regex_def_idx_ = 0;
    found_regex_ = false;
    regex_same_line_.clear();
    return Step::alternative;
}

// The next alternative of the tag the line started with, matched against the
// line.  Once the line has given its run, it ends at the next alternative long
// enough to be tried.
Walk::Step Walk::alternative() {
    match_n_ = Object();
    regex_n_ = Object();
    if (!alternatives_->next(regex_def_n_)) {
        end_line();
        return Step::next_line;
    }
    if (regex_def_n_.is_none() && !assertions_disabled()) raise_not_found(self(), attribute_n_);
    ++regex_def_idx_;
    if (length(regex_def_n_) < 2) return Step::alternative;
    if (found_regex_) {
        end_line();
        return Step::next_line;
    }
    regex_n_ = p_.regexes.compile(regex_def_n_);
    match_n_ = match(regex_n_, line_);
    return Step::take_tag;
}

// The current tag's pattern was matched against the line.  While it matches
// and the sequence holds, the value it found is recorded and compared with
// the expected one; at most one tag per regex definition is taken on a line.
Walk::Step Walk::take_tag() {
    if (!truth(match_n_) || !sequence_validate_) return Step::alternative;
    found_regex_ = true;
    Object value_found = group1(match_n_);
    setitem(results(), attribute_n_, value_found);
    Object value_n = getitem(attr(values_), integer(attribute_n_idx_));
    Object value_to_match = expected_for(p_.regexes, value_n, regex_def_idx_);
    Object same = p_.routed.get(attribute_n_);
    if (contains_equal(regex_same_line_, same)) return Step::alternative;
    regex_same_line_.push_back(same);
    Object fill = attr(fill_);
    if (same_or_equal(fill, Py_True) && equal(value_to_match, Py_None)) {
        setitem(dictio_, attribute_n_, Py_True);
    } else if (equal(value_to_match, Py_None)) {
        none_wild_match_.emplace_back();  // a wildcard opens a group
        setitem(dictio_, attribute_n_, Py_True);
    } else if (value_matches(value_to_match, value_found)) {
        setitem(dictio_, attribute_n_, Py_True);
    } else {
        return mismatch(value_found, fill);
    }
    return consume();
}

// The found value is not the expected one: it is recorded with its line.  In
// check mode, when the tag's pattern cannot match again before a consumed
// tag's does, the newest wildcard group is undone, or without one the
// sequence fails.
Walk::Step Walk::mismatch(Handle value_found, Handle fill) {
    setitem(dictio_, attribute_n_, mismatch_record(value_found, lineno_));
    const bool fatal = sequence_started_ && differs(regex_previous_, regex_n_) && same_or_equal(fill, Py_False) &&
                       future_fails();
    if (!fatal) return Step::alternative;
    if (none_wild_match_.empty()) sequence_validate_ = false;
    else undo_wildcard_group();
    return Step::alternative;
}

// The tags of the newest wildcard group are current again, its wildcard first;
// the next line is tried with them.
void Walk::undo_wildcard_group() {
    std::vector<Object> restore_attrs = std::move(none_wild_match_.back());
    none_wild_match_.pop_back();
    for (auto it = restore_attrs.rbegin(); it != restore_attrs.rend(); ++it) {
        discard(dictio_, *it);
        discard(results(), *it);
        attributes_.push_back(*it);
        --attribute_n_idx_;
        pop_last(regex_done_);
        Py_ssize_t n = length(regex_done_);
        regex_previous_ = n ? getitem(regex_done_, n - 1) : borrow(Py_None);
    }
    attribute_n_ = attributes_.back();
}

// The tag is consumed; the next one is tried on the same line, through its
// alternative that matches the line.
Walk::Step Walk::consume() {
    sequence_started_ = true;
    if (!none_wild_match_.empty()) none_wild_match_.back().push_back(attribute_n_);
    attributes_.pop_back();
    if (attributes_.empty()) return Step::alternative;
    attribute_n_ = attributes_.back();
    append(regex_done_, regex_n_);
    regex_previous_ = regex_n_;
    Object next_def = regex_def_on_line();
    regex_n_ = p_.regexes.compile(next_def);
    match_n_ = match(regex_n_, line_);
    ++attribute_n_idx_;
    return Step::take_tag;
}

// The line is done: what was read for it goes.
void Walk::end_line() {
    regex_def_n_ = Object();
    alternatives_.reset();
}

// After the last line: a wildcard never found counts as found.
void Walk::finish() {
    Object it = iter(getattr(self(), PYU_STR("_attributes")));
    Py_ssize_t i = 0;
    while (Object tag = pyutil::next(it)) {
        if (!contains(dictio_, tag) && equal(getitem(attr(values_), integer(i)), Py_None))
            setitem(dictio_, tag, Py_True);
        ++i;
    }
    setattr(self(), PYU_STR("_dictio"), dictio_);
    setattr(self(), PYU_STR("_validate"), boolean(sequence_validate_));
}

// self._parser_check_scope(regex_done, line): the line stays in the section
// unless the answer equals False.
bool Walk::in_scope() {
    Object verdict =
        hooks_.check_scope.call([&] { return boolean(!stop_.may_match(regex_done_, line_) || check_scope(regex_done_, line_)); },
                                regex_done_, line_);
    return !same_or_equal(verdict, Py_False);
}

// self._parser_current_matching(value_to_match, value_found), by truth value.
bool Walk::value_matches(Handle value_to_match, Handle value_found) {
    return truth(hooks_.current_matching.call(
        [&] { return boolean(current_matching(p_.regexes, value_to_match, value_found)); }, value_to_match,
        value_found));
}

// Whether self._parser_future_matching(regex_def_n, regex_done, line) answers
// something equal to False.
bool Walk::future_fails() {
    Object verdict = hooks_.future_matching.call(
        [&] {
            Context ctx(self());
            return future_matching(ctx, self(), regex_def_n_, regex_done_, line_);
        },
        regex_def_n_, regex_done_, line_);
    return same_or_equal(verdict, Py_False);
}

// self._parser_delete_non_matching(lines, regex_tags)
void Walk::skip_non_matching(Handle lines, Handle regex_tags) {
    hooks_.delete_non_matching.call(
        [&] {
            delete_non_matching(p_.regexes, &p_.routed, self(), lines, regex_tags);
            return borrow(Py_None);
        },
        lines, regex_tags);
}

// self.__get_regex_def(attribute_n, line)
Object Walk::regex_def_on_line() {
    return hooks_.get_regex_def.call([&] { return get_regex_def(p_.regexes, &p_.routed, self(), attribute_n_, line_); },
                                     attribute_n_, line_);
}

}  // namespace

void run_parser(Handle self) { Walk(self).run(); }

}  // namespace core::nontabular
