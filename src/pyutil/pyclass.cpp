#include "pyutil/pyclass.hpp"
#include <structmember.h>
#include <algorithm>
#include <cstring>
#include "pyutil/names.hpp"
#include "pyutil/ops.hpp"

namespace pyutil {
namespace {

// 'a'  /  'a' and 'b'  /  'a', 'b', and 'c'
std::string quoted_names(const std::vector<const char*>& names) {
    std::string out;
    for (size_t i = 0; i < names.size(); ++i) {
        if (i) out += names.size() == 2 ? " and " : (i + 1 == names.size() ? ", and " : ", ");
        out += "'";
        out += names[i];
        out += "'";
    }
    return out;
}

[[noreturn]] void type_error(const std::string& text) { raise(PyExc_TypeError, text.c_str()); }

}  // namespace

Object Default::value() const {
    switch (kind) {
        case required: return Object();
        case none: return borrow(Py_None);
        case boolean: return pyutil::boolean(number != 0);
        case integer: return own(PyLong_FromLongLong(number));
        case text: return own(PyUnicode_InternFromString(chars));
        case computed: return make();
    }
    return Object();
}

namespace detail {

void bind(const FunctionSpec& fn, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
          PyObject** out, Object (&extra)[2]) {
    // named parameters first, then at most one *args and one **kwargs
    size_t n = 0;
    while (n < fn.params.size() && fn.params[n].kind == Param::positional_or_keyword) ++n;
    int star = -1, dstar = -1;
    for (size_t i = n; i < fn.params.size(); ++i)
        (fn.params[i].kind == Param::var_positional ? star : dstar) = static_cast<int>(i);
    auto fname = [&] { return std::string(fn.qualname) + "()"; };  // only on error
    for (size_t i = 0; i < n; ++i) out[i] = i < static_cast<size_t>(nargs) ? args[i] : nullptr;
    if (star >= 0) {
        Py_ssize_t first = std::min<Py_ssize_t>(nargs, static_cast<Py_ssize_t>(n));
        extra[0] = own(PyTuple_New(nargs - first));
        for (Py_ssize_t i = first; i < nargs; ++i) PyTuple_SET_ITEM(extra[0].ptr(), i - first, Py_NewRef(args[i]));
        out[star] = extra[0].ptr();
    }
    if (dstar >= 0) {
        extra[1] = own(PyDict_New());
        out[dstar] = extra[1].ptr();
    }
    if (kwnames) {
        Py_ssize_t nkw = PyTuple_GET_SIZE(kwnames);
        for (Py_ssize_t k = 0; k < nkw; ++k) {
            PyObject* key = PyTuple_GET_ITEM(kwnames, k);
            // keyword names are almost always interned: compare pointers before texts
            size_t i = 0;
            while (i < n && key != fn.interned_names[i]) ++i;
            if (i == n) {
                i = 0;
                while (i < n && PyUnicode_CompareWithASCIIString(key, fn.params[i].name) != 0) ++i;
            }
            if (i == n) {
                if (dstar >= 0) {
                    check(PyDict_SetItem(extra[1].ptr(), key, args[nargs + k]));
                    continue;
                }
                PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%S'", fname().c_str(), key);
                throw PyError();
            }
            if (out[i]) type_error(fname() + " got multiple values for argument '" + fn.params[i].name + "'");
            out[i] = args[nargs + k];
        }
    }
    // reported after the keywords' own errors, before the missing arguments, as Python does
    if (static_cast<size_t>(nargs) > n && star < 0) {
        size_t required = 0;
        for (size_t i = 0; i < n; ++i) required += fn.defaults[i] == nullptr;
        std::string takes;
        if (required == n)
            takes = std::to_string(n) + (n == 1 ? " positional argument" : " positional arguments");
        else
            takes = "from " + std::to_string(required) + " to " + std::to_string(n) + " positional arguments";
        type_error(fname() + " takes " + takes + " but " + std::to_string(nargs) +
                   (nargs == 1 ? " was given" : " were given"));
    }
    std::vector<const char*> missing;
    for (size_t i = 0; i < n; ++i) {
        if (out[i]) continue;
        if (fn.defaults[i]) out[i] = fn.defaults[i];
        else missing.push_back(fn.params[i].name);
    }
    if (!missing.empty())
        type_error(fname() + " missing " + std::to_string(missing.size()) + " required positional argument" +
                   (missing.size() == 1 ? "" : "s") + ": " + quoted_names(missing));
}

void bind(const FunctionSpec& fn, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
          PyObject** out) {
    for (const Param& p : fn.params)
        if (p.kind != Param::positional_or_keyword) raise(PyExc_SystemError, "bind: *args/**kwargs need storage");
    Object extra[2];
    bind(fn, args, nargs, kwnames, out, extra);
}

void prepare(FunctionSpec& fn, bool is_method, PyCFunction trampoline) {
    // once: the functions made from one FunctionSpec share its defaults and its documentation text
    if (fn.prepared) return;
    if (fn.params.size() > max_params) raise(PyExc_SystemError, "too many parameters");
    std::vector<PyObject*> names, defaults;
    // A text signature lets inspect.signature() report names and defaults.
    std::string sig = std::string(fn.name) + (is_method ? "(" : "($module");
    for (size_t i = 0; i < fn.params.size(); ++i) {
        const Param& p = fn.params[i];
        names.push_back(intern_forever(p.name));
        if (i || !is_method) sig += ", ";
        if (p.kind == Param::var_positional) sig += "*";
        if (p.kind == Param::var_keyword) sig += "**";
        sig += p.name;
        Object value = p.default_value.value();
        if (value) {
            Object text = repr(value);
            const char* utf8 = PyUnicode_AsUTF8(text.ptr());
            if (!utf8) throw PyError();
            sig += "=";
            sig += utf8;
        }
        defaults.push_back(value.release());  // kept for the life of the process
    }
    sig += ")\n--\n\n";
    fn.interned_names = std::move(names);
    fn.defaults = std::move(defaults);
    fn.doc_with_signature = sig + (fn.doc ? fn.doc : "");
    fn.def.ml_name = fn.name;
    fn.def.ml_meth = trampoline;
    fn.def.ml_flags = METH_FASTCALL | METH_KEYWORDS;
    fn.def.ml_doc = fn.doc_with_signature.c_str();
    fn.prepared = true;
}

Object new_function(FunctionSpec& fn, const ModuleFrame& frame) {
    return own(PyCFunction_NewEx(&fn.def, frame.module().ptr(), frame.name().ptr()));
}

namespace {

// A C++ function in a class namespace, binding as a Python function does:
// read through an instance it gives a bound method, through the class (or
// with None) itself.  Unlike instancemethod, read through the class it is
// not the bare builtin, so inspect takes it for the class's own __init__ and
// reads its text signature.  Attributes it lacks come from the function.
struct NativeMethod {
    PyObject_HEAD
    PyObject* function;
    PyObject* qualname;  // "Class.method", as a def in the class body has it
    vectorcallfunc vectorcall;
};

NativeMethod* as_method(PyObject* self) { return reinterpret_cast<NativeMethod*>(self); }

PyObject* method_vectorcall(PyObject* self, PyObject* const* args, size_t nargsf, PyObject* kwnames) {
    return PyObject_Vectorcall(as_method(self)->function, args, nargsf, kwnames);
}

PyObject* method_get(PyObject* self, PyObject* obj, PyObject*) {
    if (!obj || obj == Py_None) return Py_NewRef(self);
    return PyMethod_New(self, obj);
}

PyObject* method_getattro(PyObject* self, PyObject* name) {
    PyTypeObject* type = Py_TYPE(self);
    if (PyObject* descr = _PyType_Lookup(type, name)) {
        if (descrgetfunc get = Py_TYPE(descr)->tp_descr_get) return get(descr, self, reinterpret_cast<PyObject*>(type));
        return Py_NewRef(descr);
    }
    return PyObject_GetAttr(as_method(self)->function, name);
}

PyObject* method_doc(PyObject* self, void*) { return PyObject_GetAttrString(as_method(self)->function, "__doc__"); }
PyObject* method_qualname(PyObject* self, void*) { return Py_NewRef(as_method(self)->qualname); }

PyObject* method_repr(PyObject* self) { return PyUnicode_FromFormat("<method %U>", as_method(self)->qualname); }

int method_traverse(PyObject* self, visitproc visit, void* arg) {
    Py_VISIT(as_method(self)->function);
    return 0;
}

int method_clear(PyObject* self) {
    Py_CLEAR(as_method(self)->function);
    Py_CLEAR(as_method(self)->qualname);
    return 0;
}

void method_dealloc(PyObject* self) {
    PyObject_GC_UnTrack(self);
    method_clear(self);
    PyObject_GC_Del(self);
}

PyMemberDef method_members[] = {
    {"__func__", T_OBJECT, offsetof(NativeMethod, function), READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

PyGetSetDef method_getset[] = {
    {"__doc__", method_doc, nullptr, nullptr, nullptr},
    {"__qualname__", method_qualname, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

}  // namespace

PyTypeObject* native_method_type() {
    static PyTypeObject type = [] {
        PyTypeObject t{PyVarObject_HEAD_INIT(nullptr, 0)};
        t.tp_name = "native_method";
        t.tp_basicsize = sizeof(NativeMethod);
        t.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_HAVE_VECTORCALL |
                     Py_TPFLAGS_METHOD_DESCRIPTOR;
        t.tp_vectorcall_offset = offsetof(NativeMethod, vectorcall);
        t.tp_call = PyVectorcall_Call;
        t.tp_descr_get = method_get;
        t.tp_getattro = method_getattro;
        t.tp_repr = method_repr;
        t.tp_traverse = method_traverse;
        t.tp_clear = method_clear;
        t.tp_dealloc = method_dealloc;
        t.tp_members = method_members;
        t.tp_getset = method_getset;
        return t;
    }();
    if (!(type.tp_flags & Py_TPFLAGS_READY) && PyType_Ready(&type) < 0) throw PyError();
    return &type;
}

Object wrap_method(Object function, const char* qualname) {
    Object name = own(PyUnicode_FromString(qualname));
    NativeMethod* m = PyObject_GC_New(NativeMethod, native_method_type());
    if (!m) throw PyError();
    m->function = function.release();
    m->qualname = name.release();
    m->vectorcall = method_vectorcall;
    PyObject_GC_Track(m);
    return own(reinterpret_cast<PyObject*>(m));
}

}  // namespace detail

Object make_class(const char* name, Handle bases_handle, const ModuleFrame& frame, const char* doc,
                  const std::vector<Member>& members) {
    PyObject* bases = bases_handle.ptr();
    // The most derived metaclass among the bases, as a class statement picks it.
    PyTypeObject* winner = &PyType_Type;
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(bases); ++i) {
        PyTypeObject* t = Py_TYPE(PyTuple_GET_ITEM(bases, i));
        if (PyType_IsSubtype(winner, t)) continue;
        if (PyType_IsSubtype(t, winner)) {
            winner = t;
            continue;
        }
        raise(PyExc_TypeError,
              "metaclass conflict: the metaclass of a derived class must be a (non-strict) subclass "
              "of the metaclasses of all its bases");
    }
    Object ns = own(PyDict_New());
    Object qualname = own(PyUnicode_FromString(name));
    check(PyDict_SetItem(ns.ptr(), PYU_STR("__module__"), frame.name().ptr()));
    check(PyDict_SetItem(ns.ptr(), PYU_STR("__qualname__"), qualname.ptr()));
    Object doc_obj = doc ? own(PyUnicode_FromString(doc)) : borrow(Py_None);
    check(PyDict_SetItem(ns.ptr(), PYU_STR("__doc__"), doc_obj.ptr()));
    for (const auto& m : members) check(PyDict_SetItemString(ns.ptr(), m.first, m.second.ptr()));
    return own(PyObject_CallFunctionObjArgs(reinterpret_cast<PyObject*>(winner), qualname.ptr(), bases,
                                            ns.ptr(), nullptr));
}

}  // namespace pyutil
