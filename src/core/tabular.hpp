// Shared by the files of the tabular parser (tabular*.cpp).
#pragma once
#include <cstdint>
#include <utility>
#include <vector>
#include "core/core.hpp"
#include "pyutil/hooks.hpp"
#include "pyutil/regex.hpp"

namespace core::tabular {

// The functions behind the base classes' own methods, to tell an override from them.
struct BaseMethods {
    PyObject* init = nullptr;                    // column_result_t.__init__ (the driver)
    PyObject* compile_header_pattern = nullptr;
    PyObject* align_table = nullptr;
    PyObject* core_add_entry = nullptr;          // column_table_result_core_t.add_entry
    PyObject* cleanup_entry_field = nullptr;
    PyObject* map_entry_field = nullptr;
};
extern BaseMethods base;

using pyutil::CodePoints;

inline bool is_space(Py_UCS4 c) { return Py_UNICODE_ISSPACE(c); }
inline bool is_blank(Py_UCS4 c) { return c == ' ' || c == '\t'; }

// Shrinks [start, end) by white space at both ends, as str.strip() does.
inline void strip_range(const CodePoints& t, Py_ssize_t& start, Py_ssize_t& end) {
    while (start < end && is_space(t[start])) ++start;
    while (end > start && is_space(t[end - 1])) --end;
}

// compile(pattern) through core's current `compile` (or the `compile` given),
// with global inline flags moved to the front as the older series accepted
// them anywhere.
Object compile_user_pattern(Handle pattern);
Object compile_user_pattern(Handle compile, Handle pattern);

// Column bounds (start, end) of one heading, offsets from the start of a line.
using Bounds = std::vector<std::pair<Py_ssize_t, Py_ssize_t>>;

// The settings of one table parse, as the driver holds them.
struct Settings {
    Object header_fields, terminal, skip_header, title, right_justified, label_fields, skip_line;
    Handle parse_key;
    Handle delimiter;
};

// The stored output cut into its titled tables, each aligned (align_table)
// and put after its title line, as self._text_to_parse, which it returns.
Object cut_titled_tables(Handle self, Handle stored, const Settings& s);

// The bounds of the columns of the heading match `m`, from the lengths of its
// groups; a blank slot of a heading's first line takes its place from a line below.
Bounds column_bounds(Handle self, Handle m, Handle header_fields, bool right_justified);
// The bounds as the list of (start, end) tuples that add_entry receives.
Object bounds_list(const Bounds& bounds);

// Files rows into `entries` the way column_table_result_core_t.add_entry does,
// calling the C++ bodies of cleanup_entry_field and _map_entry_field while the
// object's are the base's own.
class RowFiler {
public:
    RowFiler(Handle self, pyutil::AttrCache& attrs);
    // The row text[start:end] (already stripped of trailing white space), cut at
    // the driver's own bounds.
    void file(Handle text, Py_ssize_t start, Py_ssize_t end, Handle names, const Bounds& bounds);
    // add_entry(line, header_fields, field_delims) with whatever the caller passes.
    void file(Handle line, Handle names, Handle field_delims);

private:
    // `pure_cut`: cutting a cell runs no Python code.
    template <class Cut>
    void file_cells(Handle names, bool pure_cut, Cut&& cut);
    Object key_of(Handle cleaned, Handle value);
    // Whether the leaf template holds `columns` (making it anew when it can).
    bool use_template(Handle columns);
    // A leaf of the first `count` template names with their values in `leaf`.
    Object leaf_of_first(Handle leaf, size_t count) const;
    Object cell(Handle text, Py_ssize_t start, Py_ssize_t end, Py_ssize_t column);

    Handle self_;
    // The object's hooks and settings: watch its class and its own dict (AttrCache).
    pyutil::AttrCache& attrs_;
    pyutil::AttrCache::Slot cleanup_, map_, field_mapping_, index_, entries_, index_objects_, index_mapped_string_;
    std::vector<Object> keys_;
    // A dict of the column names, copied for each leaf: one allocation, no
    // resizing.  Watches the identities of the names it holds (exact str, whose
    // hash and == run no code), compared with the names of each row.
    Object leaf_template_;
    std::vector<Object> template_names_;
    // Recent short cells per column, so that a value repeated down a column is
    // one str; given up for a column whose values seldom repeat.  Found by the
    // cell's code points: it keeps nothing that user code could change.
    struct ColumnCache {
        static constexpr size_t size = 256;
        Object slots[size];
        size_t lookups = 0, hits = 0;
    };
    std::vector<ColumnCache> cache_;
};

// _map_entry_field(header, field) of column_result_t, with its field_mapping.
Object map_entry_field(Handle self, Handle mapping, Handle header, Handle field);

// The bodies of the methods, for the class definitions.
Object driver_body(const Args& a);
Object compile_header_pattern_body(const Args& a);
Object align_table_body(const Args& a);
Object core_add_entry_body(const Args& a);
Object map_entry_field_body(const Args& a);
Object add_entries_to_results_body(const Args& a);

// The text of the heading expression for `header_fields`, setting multi_line
// on self as compile_header_pattern does.  Where heading texts are blank
// slots (""), the blanks groups around them no longer try every way of
// sharing a run of blanks, for the same matches and group spans.  `texts`,
// when given, receives the heading texts in the order they went in, from the
// first line's first text that is not a blank slot when only blank slots
// come before it; it stays empty when the expression does not start with the
// blanks group of the first of them.
Object header_pattern_text(Handle self, Handle header_fields, std::vector<Object>* texts);

// The first heading text's literal start, when every match of the heading
// expression built from `texts` (as header_pattern_text gave them) must begin
// with blanks and then it; a null object when that cannot be told from the texts.
Object heading_literal_prefix(const std::vector<Object>& texts);

// Whether a match of the heading expression `pattern`, built from `texts` (as
// header_pattern_text gave them), that starts inside a run of blanks also
// starts at the run's first blank: the expression begins with its blanks
// group, no heading text can end that group or turn on verbose mode, and
// nothing refers to a group by number.  False when that cannot be told.
bool matches_start_at_blank_runs(const std::vector<Object>& texts, Handle pattern);

}  // namespace core::tabular
