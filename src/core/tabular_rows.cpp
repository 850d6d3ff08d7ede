// Row filing and field conversion: add_entry of column_table_result_core_t,
// _map_entry_field and _add_entries_to_results of column_result_t.
#include <algorithm>
#include "core/tabular.hpp"
#include "pyutil/ops.hpp"

namespace core::tabular {

using namespace pyutil;

namespace {

// hasattr(), counting any error as absence.
bool has_attr(PyObject* o, PyObject* name) {
    PyObject* value = nullptr;
    int found = _PyObject_LookupAttr(o, name, &value);
    Py_XDECREF(value);
    if (found < 0) PyErr_Clear();
    return found > 0;
}

// inspect.ismethod(o) through core's current `inspect`.
bool ismethod(PyObject* o) {
    static PyObject* const original =
        own(PyObject_GetAttrString(pyutil::import("inspect").ptr(), "ismethod")).release();
    Object f = getattr(global(PYU_STR("inspect")), PYU_STR("ismethod"));
    if (f.ptr() == original) return check(PyObject_IsInstance(o, reinterpret_cast<PyObject*>(&PyMethod_Type))) != 0;
    return truth(call(f.ptr(), {o}).ptr());
}

// The position of the first element of `index` equal to column i, or -1;
// `pure` is cleared when comparing may have run Python code.
Py_ssize_t index_position(PyObject* index, Py_ssize_t i, bool& pure) {
    if (PyList_CheckExact(index)) {
        Object column;
        for (Py_ssize_t p = 0; p < PyList_GET_SIZE(index); ++p) {
            PyObject* item = PyList_GET_ITEM(index, p);
            if (PyLong_CheckExact(item) || PyBool_Check(item)) {
                int overflow = 0;
                long v = PyLong_AsLongAndOverflow(item, &overflow);
                if (!overflow && v == i) return p;
                continue;
            }
            pure = false;
            if (!column) column = own(PyLong_FromSsize_t(i));
            Object held = borrow(item);
            if (check(PyObject_RichCompareBool(held.ptr(), column.ptr(), Py_EQ))) return p;
        }
        return -1;
    }
    pure = false;
    Object column = own(PyLong_FromSsize_t(i));
    if (!contains(index, column.ptr())) return -1;
    Object p = call_method(index, PYU_STR("index"), {column.ptr()});
    Py_ssize_t pos = PyNumber_AsSsize_t(p.ptr(), PyExc_IndexError);
    check_no_error();
    return pos;
}

// A str cut from a row: text[start:end] stripped, with Python's slicing bounds.
Object stripped_cell(PyObject* text, Py_ssize_t start, Py_ssize_t end) {
    CodePoints t(text);
    strip_range(t, start, end);
    if (start >= end) return borrow(empty_str());
    return own(PyUnicode_Substring(text, start, end));
}

}  // namespace

RowFiler::RowFiler(PyObject* self, Attrs& attrs)
    : self_(self),
      attrs_(attrs),
      cleanup_{PYU_STR("cleanup_entry_field"), base.cleanup_entry_field},
      map_{PYU_STR("_map_entry_field"), base.map_entry_field},
      field_mapping_{PYU_STR("field_mapping")},
      index_{PYU_STR("index")},
      entries_{PYU_STR("entries")},
      index_objects_{PYU_STR("index_objects")},
      index_mapped_string_{PYU_STR("index_mapped_string")} {}

void RowFiler::file(PyObject* text, Py_ssize_t start, Py_ssize_t end, PyObject* names, const Bounds& bounds) {
    const Py_ssize_t length = end - start;
    file_cells(names, true, [&](Py_ssize_t i, bool last) {
        if (static_cast<size_t>(i) >= bounds.size()) raise(PyExc_IndexError, "list index out of range");
        Py_ssize_t a = std::min(bounds[i].first, length);
        Py_ssize_t b = last ? length : std::min(bounds[i].second, length);
        return b > a ? cell(text, start + a, start + b, i) : borrow(empty_str());
    });
}

Object RowFiler::cell(PyObject* text, Py_ssize_t start, Py_ssize_t end, Py_ssize_t column) {
    const CodePoints t(text);
    strip_range(t, start, end);
    const Py_ssize_t n = end - start;
    if (n <= 0) return borrow(empty_str());
    if (cache_.size() <= static_cast<size_t>(column)) cache_.resize(static_cast<size_t>(column) + 1);
    ColumnCache& c = cache_[column];
    if (n > 32 || (c.lookups >= 512 && c.hits * 4 < c.lookups)) return own(PyUnicode_Substring(text, start, end));
    size_t hash = static_cast<size_t>(n);
    for (Py_ssize_t i = start; i < end; ++i) hash = hash * 31 + t[i];
    Object& cached = c.slots[(hash ^ (hash >> 7)) % ColumnCache::size];
    ++c.lookups;
    if (cached && PyUnicode_GET_LENGTH(cached.ptr()) == n) {
        const CodePoints k(cached.ptr());
        Py_ssize_t i = 0;
        while (i < n && k[i] == t[start + i]) ++i;
        if (i == n) {
            ++c.hits;
            return cached;
        }
    }
    cached = own(PyUnicode_Substring(text, start, end));
    return cached;
}

bool RowFiler::use_template(PyObject* columns) {
    const Py_ssize_t n = PySequence_Fast_GET_SIZE(columns);
    bool same = leaf_template_ && template_names_.size() == static_cast<size_t>(n);
    for (Py_ssize_t i = 0; same && i < n; ++i) same = PySequence_Fast_GET_ITEM(columns, i) == template_names_[i].ptr();
    if (same) return true;
    leaf_template_ = Object();
    template_names_.clear();
    // only names whose hash and == run no code, so that nothing changes the list meanwhile
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* name = PySequence_Fast_GET_ITEM(columns, i);
        if (!PyUnicode_CheckExact(name)) {
            template_names_.clear();
            return false;
        }
        template_names_.push_back(borrow(name));
    }
    Object leaf = own(PyDict_New());
    for (const Object& name : template_names_) check(PyDict_SetItem(leaf.ptr(), name.ptr(), Py_None));
    leaf_template_ = leaf;
    return true;
}

Object RowFiler::leaf_of_first(PyObject* leaf, size_t count) const {
    Object out = own(PyDict_New());
    for (size_t k = 0; k < count; ++k) {
        PyObject* name = template_names_[k].ptr();
        PyObject* value = PyDict_GetItemWithError(leaf, name);
        if (!value) throw PyError();
        check(PyDict_SetItem(out.ptr(), name, value));
    }
    return out;
}

void RowFiler::file(PyObject* line, PyObject* names, PyObject* field_delims) {
    file_cells(names, false, [&](Py_ssize_t i, bool last) {
        Object column = own(PyLong_FromSsize_t(i));
        Object bounds = getitem(field_delims, column.ptr());
        Object zero = own(PyLong_FromLong(0)), one = own(PyLong_FromLong(1));
        Object first = getitem(bounds.ptr(), zero.ptr());
        Object stop = last ? borrow(Py_None) : getitem(bounds.ptr(), one.ptr());
        Object slice = own(PySlice_New(first.ptr(), stop.ptr(), nullptr));
        if (!PyUnicode_CheckExact(line)) return call_method(getitem(line, slice.ptr()).ptr(), PYU_STR("strip"), {});
        Py_ssize_t a, b, step;
        check(PySlice_Unpack(slice.ptr(), &a, &b, &step));
        PySlice_AdjustIndices(PyUnicode_GET_LENGTH(line), &a, &b, step);
        return b > a ? stripped_cell(line, a, b) : borrow(empty_str());
    });
}

template <class Cut>
void RowFiler::file_cells(PyObject* names, bool pure_cut, Cut&& cut) {
    Object columns = PyList_Check(names) || PyTuple_Check(names) ? borrow(names) : own(PySequence_List(names));
    // The leaf starts as a copy of one holding the column names, unless user code
    // changes the names mid-row: then it is what the names seen so far give.
    bool templated = use_template(columns.ptr());
    Object leaf = own(templated ? PyDict_Copy(leaf_template_.ptr()) : PyDict_New());
    const Py_ssize_t nkeys = PyObject_Length(Object(attrs_.get(index_).value).ptr());
    if (nkeys < 0) throw PyError();
    keys_.assign(static_cast<size_t>(nkeys), borrow(empty_str()));

    // The list's length, the hooks and the settings are read again at each cell
    // (user code may change them meanwhile); `stamp` tells whether they changed,
    // taken again whenever Python code may have run since (`fresh`: none ran).
    uint64_t stamp = 0;
    bool fresh = false;
    Py_ssize_t i = 0;
    for (; i < PySequence_Fast_GET_SIZE(columns.ptr()); ++i) {
        Object hdr = borrow(PySequence_Fast_GET_ITEM(columns.ptr(), i));
        if (templated && (static_cast<size_t>(i) >= template_names_.size() || hdr.ptr() != template_names_[i].ptr())) {
            leaf = leaf_of_first(leaf.ptr(), static_cast<size_t>(i));
            templated = false;
        }
        const bool last = i == PySequence_Fast_GET_SIZE(columns.ptr()) - 1;
        Object cell = cut(i, last);
        if (!fresh || !pure_cut) stamp = attrs_.stamp();
        fresh = PyUnicode_CheckExact(hdr.ptr());  // (the leaf's SetItem hashes it)
        const Attrs::Slot& cleanup = attrs_.get(cleanup_, stamp);
        Object cleaned = cell;
        if (!cleanup.native) {
            cleaned = pyutil::invoke(Object(cleanup.value), hdr.ptr(), cell.ptr());
            stamp = attrs_.stamp();
        }
        Object value = cleaned;
        const Attrs::Slot& map = attrs_.get(map_, stamp);
        if (!map.native) {
            value = pyutil::invoke(Object(map.value), hdr.ptr(), cleaned.ptr());
            stamp = attrs_.stamp();
        } else if (Object mapping = attrs_.get(field_mapping_, stamp).value;
                   !PyDict_CheckExact(mapping.ptr()) || PyDict_GET_SIZE(mapping.ptr()) != 0) {
            value = map_entry_field(self_, mapping.ptr(), hdr.ptr(), cleaned.ptr());
            stamp = attrs_.stamp();
        }
        Py_ssize_t pos = index_position(Object(attrs_.get(index_, stamp).value).ptr(), i, fresh);
        if (pos >= 0) {
            if (pos >= nkeys) raise(PyExc_IndexError, "list assignment index out of range");
            keys_[pos] = key_of(cleaned.ptr(), value.ptr());
            fresh = false;
        }
        check(PyDict_SetItem(leaf.ptr(), hdr.ptr(), value.ptr()));
    }
    if (templated && static_cast<size_t>(i) != template_names_.size()) leaf = leaf_of_first(leaf.ptr(), static_cast<size_t>(i));

    Object level = attrs_.get(entries_).value;
    for (Py_ssize_t p = 0; p < nkeys; ++p) {
        Object key = keys_[p];
        if (p == nkeys - 1) {
            setitem(level.ptr(), key.ptr(), leaf.ptr());
        } else if (contains(level.ptr(), key.ptr())) {
            level = getitem(level.ptr(), key.ptr());
        } else {
            Object inner = own(PyDict_New());
            setitem(level.ptr(), key.ptr(), inner.ptr());
            level = PyDict_CheckExact(level.ptr()) ? inner : getitem(level.ptr(), key.ptr());
        }
    }
}

Object RowFiler::key_of(PyObject* cleaned, PyObject* value) {
    // no str has __cmp__, so the first rule never holds for one
    if (!PyUnicode_CheckExact(value) && truth(Object(attrs_.get(index_objects_).value).ptr()) &&
        has_attr(value, PYU_STR("__cmp__")) && has_attr(value, PYU_STR("__hash__")))
        return borrow(value);
    if (isstr(value)) return borrow(value);
    if (truth(Object(attrs_.get(index_mapped_string_).value).ptr()) && has_attr(value, PYU_STR("__str__")))
        return str(value);
    return borrow(cleaned);
}

Object map_entry_field(PyObject* self, PyObject* mapping_object, PyObject* header, PyObject* field) {
    Object mapping = borrow(mapping_object);
    if (!contains(mapping.ptr(), header)) return borrow(field);
    if (getitem(mapping.ptr(), header).ptr() == Py_None) return borrow(field);
    Object converter = getitem(mapping.ptr(), header);
    PyObject* conv = converter.ptr();
    if (Py_IS_TYPE(conv, &PyMethod_Type)) return call(conv, {field});
    if (ismethod(conv)) return call(conv, {self, field});
    if (Py_IS_TYPE(conv, &PyList_Type)) {
        Object zero = own(PyLong_FromLong(0));
        Object head = getitem(conv, zero.ptr());
        std::vector<PyObject*> args;
        if (ismethod(head.ptr())) args.push_back(self);
        args.push_back(field);
        Object extras = own(PyList_GetSlice(conv, 1, PyList_GET_SIZE(conv)));
        for (Py_ssize_t i = 0; i < PyList_GET_SIZE(extras.ptr()); ++i) args.push_back(PyList_GET_ITEM(extras.ptr(), i));
        return own(PyObject_Vectorcall(head.ptr(), args.data(), args.size(), nullptr));
    }
    return call(conv, {field});
}

Object map_entry_field_body(const Args& a) {
    return map_entry_field(a[0], getattr(a[0], PYU_STR("field_mapping")).ptr(), a[1], a[2]);
}

Object core_add_entry_body(const Args& a) {
    Attrs attrs(a[0]);
    RowFiler(a[0], attrs).file(a[1], a[2], a[3]);
    return borrow(Py_None);
}

Object add_entries_to_results_body(const Args& a) {
    PyObject* self = a[0];
    PyObject* titlevalues = a[1];
    const Py_ssize_t count = PyObject_Length(titlevalues);
    if (count < 0) throw PyError();
    // A title without capture groups gives nothing to file under: the rows stay in entries.
    if (count == 0) return borrow(Py_None);
    Object level = getattr(self, PYU_STR("entrydict"));
    Object values = iter(titlevalues);
    Py_ssize_t i = 0;
    while (Object value = next(values.ptr())) {
        Object mapping = getattr(self, PYU_STR("table_title_mapping"));
        if (mapping.ptr() != Py_None) {
            Object position = own(PyLong_FromSsize_t(i));
            value = call(getitem(mapping.ptr(), position.ptr()).ptr(), {value.ptr()});
        }
        if (i == count - 1) {
            if (contains(level.ptr(), value.ptr())) {
                Object message = own(PyUnicode_FromFormat("Warning non-unique result found table title keys %S in %S",
                                                              titlevalues, self));
                warn(message.ptr());
            }
            setitem(level.ptr(), value.ptr(), getattr(self, PYU_STR("entries")).ptr());
        } else if (contains(level.ptr(), value.ptr())) {
            level = getitem(level.ptr(), value.ptr());
        } else {
            Object inner = own(PyDict_New());
            setitem(level.ptr(), value.ptr(), inner.ptr());
            level = PyDict_CheckExact(level.ptr()) ? inner : getitem(level.ptr(), value.ptr());
        }
        ++i;
    }
    Object entries = getattr(self, PYU_STR("entries"));
    setattr(self, PYU_STR("entries"), own(PyObject_CallNoArgs(reinterpret_cast<PyObject*>(Py_TYPE(entries.ptr())))).ptr());
    return borrow(Py_None);
}

}  // namespace core::tabular
