// What the files of the non-tabular parser _textloom_t share: the parse
// running on this thread, and the class's own methods as C++ functions.
#pragma once
#include <optional>
#include <vector>
#include "core/core.hpp"
#include "core/nontabular_regexes.hpp"

namespace core::nontabular {

// The functions behind the class's own hook methods, set when the class is made.
struct BaseMethods {
    PyObject* check_scope;
    PyObject* current_matching;
    PyObject* future_matching;
    PyObject* delete_non_matching;
    PyObject* get_regex_def;
};
extern BaseMethods base;

// self._routerOs's regex definition of a tag, as routed_regex() reads it.
// Answers are given again while nothing they came from changed: the
// attribute's value (by str equality), the module's names, and the registry's
// tables (exact dicts with str keys, read by the module's own `_get_regex`).
class RoutedRegex {
public:
    explicit RoutedRegex(pyutil::AttrCache& attrs) : attrs_(attrs) {}
    Object get(Handle tag);

private:
    pyutil::AttrCache& attrs_;
    pyutil::AttrCache::Slot router_os_{PYU_STR("_routerOs")};
};

// The parse running on this thread, for the class's own methods when an
// override calls them from Python in the middle of it.
struct Parse {
    explicit Parse(Handle s) : self(s), attrs(s) { running().push_back(this); }
    ~Parse() { running().pop_back(); }
    Parse(const Parse&) = delete;
    Parse& operator=(const Parse&) = delete;

    static std::vector<Parse*>& running() {
        thread_local std::vector<Parse*> stack;
        return stack;
    }
    static Parse* of(Handle self) {
        auto& stack = running();
        for (auto it = stack.rbegin(); it != stack.rend(); ++it)
            if ((*it)->self.is(self)) return *it;
        return nullptr;
    }

    Handle self;  // the object of the running _parser call, alive through it
    pyutil::AttrCache attrs;  // its attributes and hooks
    RoutedRegex routed{attrs};
    Regexes regexes;
    Object text;                 // the stored text the walk reads
    Object line;                 // its current line, as the hooks are given it
    Py_ssize_t line_offset = 0;  // where the current line starts in it
};

// The regexes of the running parse of `self`, or of this call alone.
class Context {
public:
    explicit Context(Handle self) : parse_(Parse::of(self)) {
        if (!parse_) local_.emplace();
    }
    Regexes& regexes() { return parse_ ? parse_->regexes : *local_; }
    RoutedRegex* routed() { return parse_ ? &parse_->routed : nullptr; }
    Parse* parse() const { return parse_; }

private:
    Parse* parse_;
    std::optional<Regexes> local_;
};

// The class's own methods.

// self._routerOs's regex definition of a tag, through the parse's cache when there is one
Object routed_regex(Handle self, Handle tag, RoutedRegex* routed = nullptr);
// The assertion of a tag the registry has no regex for.
[[noreturn]] void raise_not_found(Handle self, Handle attribute);

// The stop rule: false when a consumed tag's pattern matches the line.
bool check_scope(Handle regex_done, Handle line);
bool current_matching(Regexes& rx, Handle value_to_match, Handle value_found);
Object future_matching(Context& ctx, Handle self, Handle regex, Handle regex_done, Handle line);
void delete_non_matching(Regexes& rx, RoutedRegex* routed, Handle self, Handle lines, Handle regex_tags);
Object get_regex_def(Regexes& rx, RoutedRegex* routed, Handle self, Handle attribute_n, Handle line);

}  // namespace core::nontabular
