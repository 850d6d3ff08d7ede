// Writing an aligned table: sized first, then written into one str, with the
// row-end and empty-cell steps done on the text as it streams by.
#pragma once
#include "core/align_rows.hpp"

namespace core::tabular::drawn {

// Sizes the result: its length and its widest character.
struct Measure {
    size_t n = 0;
    char32_t widest = 0;
    void put(char32_t c) {
        ++n;
        widest = std::max(widest, c);
    }
    void put(View32 s) {
        for (char32_t c : s) put(c);
    }
    template <class C>
    void put(Span<C> s) {
        n += s.n;
        for (size_t i = 0; i < s.n; ++i) widest = std::max<char32_t>(widest, s[i]);
    }
    void spaces(size_t k) {
        if (!k) return;
        n += k;
        widest = std::max(widest, U' ');
    }
};

// Writes the result into the storage of a str made to its measure.
template <class O>
struct Writer {
    O* p;
    void put(char32_t c) { *p++ = static_cast<O>(c); }
    void put(View32 s) {
        for (char32_t c : s) put(c);
    }
    template <class C>
    void put(Span<C> s) {
        if constexpr (std::is_same_v<C, O>) {
            std::memcpy(p, s.p, s.n * sizeof(O));
            p += s.n;
        } else {
            for (size_t i = 0; i < s.n; ++i) *p++ = static_cast<O>(s[i]);
        }
    }
    void spaces(size_t k) {
        std::fill_n(p, k, static_cast<O>(' '));
        p += k;
    }
};

// One str written by `emit(sink)`, measured first.
template <class Emit>
Object written(Emit&& emit) {
    Measure measure;
    emit(measure);
    Object out = own(PyUnicode_New(static_cast<Py_ssize_t>(measure.n), measure.widest));
    void* data = PyUnicode_DATA(out.ptr());
    switch (PyUnicode_KIND(out.ptr())) {
        case PyUnicode_1BYTE_KIND: emit(Writer<Py_UCS1>{static_cast<Py_UCS1*>(data)}); break;
        case PyUnicode_2BYTE_KIND: emit(Writer<Py_UCS2>{static_cast<Py_UCS2*>(data)}); break;
        default: emit(Writer<Py_UCS4>{static_cast<Py_UCS4*>(data)}); break;
    }
    return out;
}

// ---- the row-end and empty-cell steps, over text as it is written ----------

// What a replacement writes: `n` times `c`.
struct Fill {
    char32_t c;
    size_t n;
    template <class Out>
    void to(Out& out) const {
        if (c == U' ') return out.spaces(n);
        for (size_t i = 0; i < n; ++i) out.put(c);
    }
};

// A stage takes text as a sink does and passes on what its sub gives.
template <class Self>
struct Stage {
    void put(View32 s) {
        for (char32_t c : s) self().put(c);
    }
    template <class C>
    void put(Span<C> s) {
        for (size_t i = 0; i < s.n; ++i) self().put(static_cast<char32_t>(s[i]));
    }

private:
    Self& self() { return static_cast<Self&>(*this); }
};

// sub(r"(\s)+" + word, repl, text), or with the word's last letter repeated
// (r"(\s)+new_line+") when `repeat_last`.  The word holds no white space, so
// a match is a whole run of it (from where the scan stands) and the word
// right after: the run is held until what follows tells.
template <class Next>
class SpacesThenWord : public Stage<SpacesThenWord<Next>> {
public:
    using Stage<SpacesThenWord>::put;
    SpacesThenWord(View32 word, bool repeat_last, Fill repl, Next& next)
        : word_(word), repeat_last_(repeat_last), repl_(repl), next_(next) {}

    void put(char32_t c) {
        if (repeating_) {
            if (c == word_.back()) return;
            repeating_ = false;
        }
        if (matched_) {
            if (c == word_[matched_]) {
                if (++matched_ == word_.size()) {
                    run_.clear();
                    matched_ = 0;
                    repl_.to(next_);
                    repeating_ = repeat_last_;
                }
                return;
            }
            release();
        }
        if (is_space(c)) return hold(c, 1);
        if (!run_.empty() && c == word_[0]) {
            matched_ = 1;
            return;
        }
        release();
        next_.put(c);
    }
    void spaces(size_t k) {
        if (!k) return;
        repeating_ = false;
        if (matched_) release();
        hold(U' ', k);
    }
    // The end of the text.
    void finish() {
        release();
        repeating_ = false;
    }

private:
    void hold(char32_t c, size_t k) {
        if (!run_.empty() && run_.back().c == c) {
            run_.back().n += k;
        } else {
            run_.push_back({c, k});
        }
    }
    // what was held goes on as it stood
    void release() {
        for (const Fill& f : run_) f.to(next_);
        run_.clear();
        next_.put(word_.substr(0, matched_));
        matched_ = 0;
    }

    View32 word_;
    bool repeat_last_;
    Fill repl_;
    Next& next_;
    std::vector<Fill> run_;  // white space, by runs of one character
    size_t matched_ = 0;     // letters of the word after the run
    bool repeating_ = false;
};

// sub(word + r"(\s)+", repl, text): the letters that may begin an occurrence
// of the word are held (an occurrence not followed by white space gives way
// to the next one that overlaps it, as the scan tries each start in turn).
template <class Next>
class WordThenSpaces : public Stage<WordThenSpaces<Next>> {
public:
    using Stage<WordThenSpaces>::put;
    WordThenSpaces(View32 word, Fill repl, Next& next)
        : word_(word), repl_(repl), next_(next), border_(word.size() + 1, 0) {
        // border_[k]: the longest proper prefix of word[:k] that also ends it
        for (size_t k = 2; k <= word.size(); ++k) {
            size_t b = border_[k - 1];
            while (b && word[k - 1] != word[b]) b = border_[b];
            border_[k] = word[k - 1] == word[b] ? b + 1 : 0;
        }
    }

    void put(char32_t c) {
        if (eating_) {
            if (is_space(c)) return;
            eating_ = false;
        }
        if (held_ == word_.size()) {
            if (is_space(c)) return matched();
            fall_back(border_[held_]);
        }
        while (held_ && c != word_[held_]) fall_back(border_[held_]);
        if (c == word_[held_]) {
            ++held_;
            return;
        }
        next_.put(c);
    }
    void spaces(size_t k) {
        if (!k || eating_) return;
        if (held_ == word_.size()) return matched();
        fall_back(0);
        next_.spaces(k);
    }
    // The end of the text.
    void finish() {
        fall_back(0);
        eating_ = false;
    }

private:
    void matched() {
        held_ = 0;
        repl_.to(next_);
        eating_ = true;
    }
    // the held letters before the last `keep` go on as they stood
    void fall_back(size_t keep) {
        next_.put(word_.substr(0, held_ - keep));
        held_ = keep;
    }

    View32 word_;
    Fill repl_;
    Next& next_;
    std::vector<size_t> border_;
    size_t held_ = 0;
    bool eating_ = false;
};

}  // namespace core::tabular::drawn
