// Row filing and field conversion: add_entry of column_table_result_core_t,
// _map_entry_field and _add_entries_to_results of column_result_t.
#include <algorithm>
#include "core/tabular.hpp"
#include "pyutil/ops.hpp"
#include "pyutil/text.hpp"

namespace core::tabular {

using namespace pyutil;

namespace {

// inspect.ismethod(o) through core's current `inspect`; the C++ test stands
// for it while the function found is the original (its identity, read at each use).
bool ismethod(Handle o) {
    Handle original = PYU_ONCE(getattr(import("inspect"), PYU_STR("ismethod")));
    Object f = getattr(global(PYU_STR("inspect")), PYU_STR("ismethod"));
    if (f.is(original)) return isinstance(o, reinterpret_cast<PyObject*>(&PyMethod_Type));
    return truth(call(f, {o}));
}

// The position of the first element of `index` equal to column i, or -1;
// `pure` is cleared when comparing may have run Python code.
Py_ssize_t index_position(Handle index, Py_ssize_t i, bool& pure) {
    if (PyList_CheckExact(index.ptr())) {
        Object column;
        for (Py_ssize_t p = 0; p < PyList_GET_SIZE(index.ptr()); ++p) {
            PyObject* item = PyList_GET_ITEM(index.ptr(), p);
            if (PyLong_CheckExact(item) || PyBool_Check(item)) {
                int overflow = 0;
                long v = PyLong_AsLongAndOverflow(item, &overflow);
                if (!overflow && v == i) return p;
                continue;
            }
            pure = false;
            if (!column) column = integer(i);
            Object held = borrow(item);
            if (same_or_equal(held, column)) return p;
        }
        return -1;
    }
    pure = false;
    Object column = integer(i);
    if (!contains(index, column)) return -1;
    Object p = call_method(index, PYU_STR("index"), {column});
    // a position beyond the C range is the IndexError of the list assignment it is used for
    Py_ssize_t pos = PyNumber_AsSsize_t(p.ptr(), PyExc_IndexError);
    check_no_error();
    return pos;
}

// A str cut from a row: text[start:end] stripped, with Python's slicing bounds.
Object stripped_cell(Handle text, Py_ssize_t start, Py_ssize_t end) {
    CodePoints t(text);
    strip_range(t, start, end);
    if (start >= end) return borrow(empty_str());
    return substring(text, start, end);
}

// level[key], a new dict put there first when key is not in level.
Object level_under(Handle level, Handle key) {
    if (contains(level, key)) return getitem(level, key);
    Object inner = new_dict();
    setitem(level, key, inner);
    return PyDict_CheckExact(level.ptr()) ? inner : getitem(level, key);
}

}  // namespace

RowFiler::RowFiler(Handle self, AttrCache& attrs)
    : self_(self),
      attrs_(attrs),
      cleanup_{PYU_STR("cleanup_entry_field"), base.cleanup_entry_field},
      map_{PYU_STR("_map_entry_field"), base.map_entry_field},
      field_mapping_{PYU_STR("field_mapping")},
      index_{PYU_STR("index")},
      entries_{PYU_STR("entries")},
      index_objects_{PYU_STR("index_objects")},
      index_mapped_string_{PYU_STR("index_mapped_string")} {}

void RowFiler::file(Handle text, Py_ssize_t start, Py_ssize_t end, Handle names, const Bounds& bounds) {
    const Py_ssize_t length = end - start;
    file_cells(names, true, [&](Py_ssize_t i, bool last) {
        if (static_cast<size_t>(i) >= bounds.size()) raise(PyExc_IndexError, "list index out of range");
        Py_ssize_t a = std::min(bounds[i].first, length);
        Py_ssize_t b = last ? length : std::min(bounds[i].second, length);
        return b > a ? cell(text, start + a, start + b, i) : borrow(empty_str());
    });
}

Object RowFiler::cell(Handle text, Py_ssize_t start, Py_ssize_t end, Py_ssize_t column) {
    const CodePoints t(text);
    strip_range(t, start, end);
    const Py_ssize_t n = end - start;
    if (n <= 0) return borrow(empty_str());
    if (cache_.size() <= static_cast<size_t>(column)) cache_.resize(static_cast<size_t>(column) + 1);
    ColumnCache& c = cache_[column];
    if (n > 32 || (c.lookups >= 512 && c.hits * 4 < c.lookups)) return substring(text, start, end);
    size_t hash = static_cast<size_t>(n);
    for (Py_ssize_t i = start; i < end; ++i) hash = hash * 31 + t[i];
    Object& cached = c.slots[(hash ^ (hash >> 7)) % ColumnCache::size];
    ++c.lookups;
    if (cached) {
        const CodePoints k(cached);
        Py_ssize_t i = 0;
        while (k.size() == n && i < n && k[i] == t[start + i]) ++i;
        if (i == n) {
            ++c.hits;
            return cached;
        }
    }
    cached = substring(text, start, end);
    return cached;
}

bool RowFiler::use_template(Handle columns) {
    PyObject* const seq = columns.ptr();  // a list or tuple
    const Py_ssize_t n = PySequence_Fast_GET_SIZE(seq);
    bool same = leaf_template_ && template_names_.size() == static_cast<size_t>(n);
    for (Py_ssize_t i = 0; same && i < n; ++i) same = template_names_[i].is(PySequence_Fast_GET_ITEM(seq, i));
    if (same) return true;
    leaf_template_ = Object();
    template_names_.clear();
    // only names whose hash and == run no code, so that nothing changes the list meanwhile
    for (Py_ssize_t i = 0; i < n; ++i) {
        Handle name = PySequence_Fast_GET_ITEM(seq, i);
        if (!is_exact_str(name)) {
            template_names_.clear();
            return false;
        }
        template_names_.push_back(borrow(name));
    }
    Object leaf = new_dict();
    for (const Object& name : template_names_) dict_set(leaf, name, Py_None);
    leaf_template_ = leaf;
    return true;
}

Object RowFiler::leaf_of_first(Handle leaf, size_t count) const {
    Object out = new_dict();
    for (size_t k = 0; k < count; ++k) dict_set(out, template_names_[k], getitem(leaf, template_names_[k]));
    return out;
}

void RowFiler::file(Handle line, Handle names, Handle field_delims) {
    file_cells(names, false, [&](Py_ssize_t i, bool last) {
        Object bounds = getitem(field_delims, integer(i));
        Object first = getitem(bounds, integer(0));
        Object stop = last ? borrow(Py_None) : getitem(bounds, integer(1));
        Object slice = new_slice(first, stop);
        if (!is_exact_str(line)) return call_method(getitem(line, slice), PYU_STR("strip"), {});
        Py_ssize_t a, b, step;
        check(PySlice_Unpack(slice.ptr(), &a, &b, &step));
        PySlice_AdjustIndices(CodePoints(line).size(), &a, &b, step);
        return b > a ? stripped_cell(line, a, b) : borrow(empty_str());
    });
}

template <class Cut>
void RowFiler::file_cells(Handle names, bool pure_cut, Cut&& cut) {
    Object columns = PyList_Check(names.ptr()) || PyTuple_Check(names.ptr()) ? borrow(names) : list_of(names);
    // The leaf starts as a copy of one holding the column names, unless user code
    // changes the names mid-row: then it is what the names seen so far give.
    bool templated = use_template(columns);
    Object leaf = templated ? own(PyDict_Copy(leaf_template_.ptr())) : new_dict();
    const Py_ssize_t nkeys = length(Object(attrs_.get(index_).value));
    keys_.assign(static_cast<size_t>(nkeys), borrow(empty_str()));

    // The list's length, the hooks and the settings are read again at each cell
    // (user code may change them meanwhile); `stamp` tells whether they changed,
    // taken again whenever Python code may have run since (`fresh`: none ran).
    uint64_t stamp = 0;
    bool fresh = false;
    Py_ssize_t i = 0;
    PyObject* const seq = columns.ptr();  // a list or tuple
    for (; i < PySequence_Fast_GET_SIZE(seq); ++i) {
        Object hdr = borrow(PySequence_Fast_GET_ITEM(seq, i));
        if (templated && (static_cast<size_t>(i) >= template_names_.size() || !hdr.is(template_names_[i]))) {
            leaf = leaf_of_first(leaf, static_cast<size_t>(i));
            templated = false;
        }
        const bool last = i == PySequence_Fast_GET_SIZE(seq) - 1;
        Object cell = cut(i, last);
        if (!fresh || !pure_cut) stamp = attrs_.stamp();
        fresh = is_exact_str(hdr);  // (the leaf's SetItem hashes it)
        const AttrCache::Slot& cleanup = attrs_.get(cleanup_, stamp);
        Object cleaned = cell;
        if (!cleanup.native) {
            cleaned = invoke(Object(cleanup.value), hdr, cell);
            stamp = attrs_.stamp();
        }
        Object value = cleaned;
        const AttrCache::Slot& map = attrs_.get(map_, stamp);
        if (!map.native) {
            value = invoke(Object(map.value), hdr, cleaned);
            stamp = attrs_.stamp();
        } else if (Object mapping = attrs_.get(field_mapping_, stamp).value;
                   !PyDict_CheckExact(mapping.ptr()) || PyDict_GET_SIZE(mapping.ptr()) != 0) {
            value = map_entry_field(self_, mapping, hdr, cleaned);
            stamp = attrs_.stamp();
        }
        Py_ssize_t pos = index_position(Object(attrs_.get(index_, stamp).value), i, fresh);
        if (pos >= 0) {
            if (pos >= nkeys) raise(PyExc_IndexError, "list assignment index out of range");
            keys_[pos] = key_of(cleaned, value);
            fresh = false;
        }
        dict_set(leaf, hdr, value);
    }
    if (templated && static_cast<size_t>(i) != template_names_.size())
        leaf = leaf_of_first(leaf, static_cast<size_t>(i));
    Object level = attrs_.get(entries_).value;
    for (Py_ssize_t p = 0; p + 1 < nkeys; ++p) level = level_under(level, Object(keys_[p]));
    if (nkeys > 0) setitem(level, Object(keys_[nkeys - 1]), leaf);
}

Object RowFiler::key_of(Handle cleaned, Handle value) {
    // an attribute whose read fails in any way counts as absent; no str has
    // __cmp__, so the first rule never holds for one
    if (!is_exact_str(value) && truth(Object(attrs_.get(index_objects_).value)) &&
        attr_if_present(value, PYU_STR("__cmp__"), Absent::on_any_error) &&
        attr_if_present(value, PYU_STR("__hash__"), Absent::on_any_error))
        return borrow(value);
    if (isstr(value)) return borrow(value);
    if (truth(Object(attrs_.get(index_mapped_string_).value)) &&
        attr_if_present(value, PYU_STR("__str__"), Absent::on_any_error))
        return str(value);
    return borrow(cleaned);
}

Object map_entry_field(Handle self, Handle mapping_object, Handle header, Handle field) {
    Object mapping = borrow(mapping_object);
    if (!contains(mapping, header)) return borrow(field);
    if (getitem(mapping, header).is_none()) return borrow(field);
    Object converter = getitem(mapping, header);
    if (Py_IS_TYPE(converter.ptr(), &PyMethod_Type)) return call(converter, {field});
    if (ismethod(converter)) return call(converter, {self, field});
    if (Py_IS_TYPE(converter.ptr(), &PyList_Type)) {
        Object head = getitem(converter, integer(0));
        std::vector<PyObject*> args;
        if (ismethod(head)) args.push_back(self.ptr());
        args.push_back(field.ptr());
        // the further items as they are after ismethod, which may change the list
        Object extras = own(PyList_GetSlice(converter.ptr(), 1, PY_SSIZE_T_MAX));
        for (Py_ssize_t i = 0; i < PyList_GET_SIZE(extras.ptr()); ++i) args.push_back(PyList_GET_ITEM(extras.ptr(), i));
        return own(PyObject_Vectorcall(head.ptr(), args.data(), args.size(), nullptr));
    }
    return call(converter, {field});
}

Object map_entry_field_body(const Args& a) {
    return map_entry_field(a[0], getattr(a[0], PYU_STR("field_mapping")), a[1], a[2]);
}

Object core_add_entry_body(const Args& a) {
    AttrCache attrs(a[0]);
    RowFiler(a[0], attrs).file(a[1], a[2], a[3]);
    return borrow(Py_None);
}

Object add_entries_to_results_body(const Args& a) {
    Handle self = a[0], titlevalues = a[1];
    const Py_ssize_t count = length(titlevalues);
    // A title without capture groups gives nothing to file under: the rows stay in entries.
    if (count == 0) return borrow(Py_None);
    Object level = getattr(self, PYU_STR("entrydict"));
    Object values = iter(titlevalues);
    Py_ssize_t i = 0;
    while (Object value = next(values)) {
        Object mapping = getattr(self, PYU_STR("table_title_mapping"));
        if (!mapping.is_none()) value = call(getitem(mapping, integer(i)), {value});
        if (i == count - 1) {
            if (contains(level, value))
                warn(percent_format(PYU_STR("Warning non-unique result found table title keys %s in %s"),
                                    {titlevalues, self}));
            setitem(level, value, getattr(self, PYU_STR("entries")));
        } else {
            level = level_under(level, value);
        }
        ++i;
    }
    Object entries = getattr(self, PYU_STR("entries"));
    setattr(self, PYU_STR("entries"), call(type_of(entries), {}));
    return borrow(Py_None);
}

}  // namespace core::tabular
