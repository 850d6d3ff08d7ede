// Functions, methods and classes that behave like those written in Python.
//
// A function is described by a FunctionSpec (name, parameters with their
// defaults, the C++ body).  Arguments are bound by Python's rules (positional,
// keyword, defaults, the interpreter's TypeError texts), so the body receives
// one borrowed object per parameter.  Methods take `self` as their first
// parameter and are wrapped so they bind to instances like Python functions.
//
//   static pyutil::FunctionSpec extend_spec{"extend", "extend",
//       {{"regex_ext", "None"}, {"show_cmds", "None"}, {"regex_tags", "None"}}, extend_body};
//   py::object f = pyutil::make_function<extend_spec>(module, module_name);
#pragma once
#include <Python.h>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>
#include "pyutil/errors.hpp"

namespace pyutil {

struct Param {
    enum Kind { positional_or_keyword, var_positional, var_keyword };
    const char* name;
    // Python literal of the default (None, False, True, an integer, or a
    // text in single quotes); nullptr for a required parameter.
    const char* default_literal = nullptr;
    // *name collects the further positional arguments in a tuple, **name the
    // further keyword arguments in a dict; both stand after the named
    // parameters, in that order.
    Kind kind = positional_or_keyword;
};

// `*name` and `**name` entries of a parameter list.
inline Param var_positional(const char* name) { return Param{name, nullptr, Param::var_positional}; }
inline Param var_keyword(const char* name) { return Param{name, nullptr, Param::var_keyword}; }

// The body: bound arguments in parameter order (borrowed); returns a new object.
using Body = py::object (*)(PyObject* const* args);

struct FunctionSpec {
    const char* name;      // __name__
    const char* qualname;  // used in argument errors, e.g. "_textloom_t._parser"
    std::vector<Param> params;
    Body body;
    const char* doc = nullptr;
    // filled in when the function object is made
    std::vector<PyObject*> defaults;  // one per parameter, nullptr when required
    std::string doc_with_signature;
    PyMethodDef def{};
    std::vector<PyObject*> interned_names;  // one per parameter: keywords are matched by identity first
};

namespace detail {
// Binds the call's arguments into `out` (fn.params.size() entries, borrowed).
void bind(const FunctionSpec& fn, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
          PyObject** out);
// As above; the tuple of *args and the dict of **kwargs are kept alive in `extra`.
void bind(const FunctionSpec& fn, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
          PyObject** out, py::object (&extra)[2]);
void prepare(FunctionSpec& fn, bool is_method, PyCFunction trampoline);
py::object new_function(FunctionSpec& fn, PyObject* self, PyObject* module_name);
py::object wrap_method(py::object function);

constexpr size_t max_params = 24;

template <FunctionSpec& S>
PyObject* trampoline(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return boundary([&] {
        PyObject* bound[max_params];
        py::object extra[2];
        bind(S, args, PyVectorcall_NARGS(nargs), kwnames, bound, extra);
        return S.body(bound);
    });
}
}  // namespace detail

// A module-level function: __module__ is `module_name`, __self__ the module.
template <FunctionSpec& S>
py::object make_function(PyObject* module, PyObject* module_name) {
    detail::prepare(S, false, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&detail::trampoline<S>)));
    return detail::new_function(S, module, module_name);
}

// A method for a class namespace: binds to instances; its first parameter is self.
template <FunctionSpec& S>
py::object make_method(PyObject* module_name) {
    detail::prepare(S, true, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&detail::trampoline<S>)));
    return detail::wrap_method(detail::new_function(S, nullptr, module_name));
}

// The plain function object behind a method made by make_method: what the
// class attribute reads as, and what a bound method's __func__ is.
PyObject* method_function(PyObject* method);

using Member = std::pair<const char*, py::object>;

// Creates a class by calling the winning metaclass of `bases` with a namespace
// holding __module__, __qualname__, __doc__ and then `members` in order.
py::object make_class(const char* name, PyObject* bases, PyObject* module_name, const char* doc,
                      const std::vector<Member>& members);

// Looks `name` up in a module's globals, then among the builtins; raises the
// interpreter's NameError when it is in neither.  Returns a borrowed reference.
PyObject* lookup_global(PyObject* globals, PyObject* name);

// A module-level binding, held: user code that rebinds the name while the
// object is in use (a key's __hash__, a hook) cannot free it.  A temporary
// holds it to the end of its full expression.
class Held {
public:
    explicit Held(PyObject* o) : ref_(borrow(o)) {}
    operator PyObject*() const { return ref_.ptr(); }

private:
    py::object ref_;
};

// Imports a module by its dotted name.
py::object import(const char* name);

// Calls `callable` with positional arguments (borrowed).
py::object call(PyObject* callable, std::initializer_list<PyObject*> args);
// Calls `obj.<name>(args...)`, looking the method up on the object.
py::object call_method(PyObject* obj, PyObject* name, std::initializer_list<PyObject*> args);

// super(cls, self).<name>(args...)
py::object super_call(PyObject* cls, PyObject* self, PyObject* name, std::initializer_list<PyObject*> args);

// getattr(obj, name) as a new reference.
inline py::object getattr(PyObject* obj, PyObject* name) { return own(PyObject_GetAttr(obj, name)); }
inline void setattr(PyObject* obj, PyObject* name, PyObject* value) {
    check(PyObject_SetAttr(obj, name, value));
}

}  // namespace pyutil
