// Functions, methods and classes that behave like those written in Python.
//
// A function is described by a FunctionSpec (name, parameters with their
// defaults, the C++ body).  Arguments are bound by Python's rules (positional,
// keyword, defaults, the interpreter's TypeError texts), so the body receives
// one borrowed object per parameter, and the frame of the module the function
// belongs to.  Methods take `self` as their first parameter and are wrapped so
// they bind to instances like Python functions.
//
//   static pyutil::FunctionSpec extend_spec{"extend", "extend",
//       {{"regex_ext", None}, {"show_cmds", None}, {"regex_tags", None}}, extend_body};
//   Object f = pyutil::make_function<extend_spec>(frame);
#pragma once
#include <Python.h>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>
#include "pyutil/errors.hpp"
#include "pyutil/module.hpp"
#include "pyutil/ops.hpp"

namespace pyutil {

// The default of a parameter, as a def statement gives it: None, False or
// True, an int, a str, or an object made when the function is made (as a
// def evaluates its defaults then).
struct NoneDefault {};
inline constexpr NoneDefault None{};

struct Default {
    enum Kind { required, none, boolean, integer, text, computed };
    Kind kind = required;
    long long number = 0;
    const char* chars = nullptr;
    Object (*make)() = nullptr;

    constexpr Default() = default;
    constexpr Default(NoneDefault) : kind(none) {}
    constexpr Default(bool b) : kind(boolean), number(b) {}
    constexpr Default(int n) : kind(integer), number(n) {}
    constexpr Default(const char* s) : kind(text), chars(s) {}
    constexpr Default(Object (*f)()) : kind(computed), make(f) {}
    // The default object; a null Object for a required parameter.
    Object value() const;
};

struct Param {
    enum Kind { positional_or_keyword, var_positional, var_keyword };
    const char* name;
    Default default_value = {};
    // *name collects the further positional arguments in a tuple, **name the
    // further keyword arguments in a dict; both stand after the named
    // parameters, in that order.
    Kind kind = positional_or_keyword;
};

// `*name` and `**name` entries of a parameter list.
inline Param var_positional(const char* name) { return Param{name, {}, Param::var_positional}; }
inline Param var_keyword(const char* name) { return Param{name, {}, Param::var_keyword}; }

// What a body receives: the bound arguments in parameter order (borrowed) and
// the module its function belongs to.
class Args {
public:
    Args(PyObject* const* items, PyObject* module) : items_(items), module_(module) {}
    PyObject* operator[](size_t i) const { return items_[i]; }
    PyObject* const* items() const { return items_; }
    Handle module() const { return module_; }
    // The frame of that module, for the module-level names the body reads.
    ModuleFrame frame() const { return ModuleFrame(module_); }

private:
    PyObject* const* items_;
    PyObject* module_;
};

// The body of a function; returns a new object.
using Body = Object (*)(const Args& args);

struct FunctionSpec {
    const char* name;      // __name__
    const char* qualname;  // used in argument errors, e.g. "_textloom_t._parser"
    std::vector<Param> params;
    Body body;
    const char* doc = nullptr;
    // filled in when the first function object is made, and kept for the process
    bool prepared = false;
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
          PyObject** out, Object (&extra)[2]);
void prepare(FunctionSpec& fn, bool is_method, PyCFunction trampoline);
Object new_function(FunctionSpec& fn, const ModuleFrame& frame);
Object wrap_method(Object function, const char* qualname);
// The type of what make_method makes.
PyTypeObject* native_method_type();

constexpr size_t max_params = 24;

// `module` is the function's __self__: the module it was made for.
template <FunctionSpec& S>
PyObject* trampoline(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return boundary([&] {
        PyObject* bound[max_params];
        Object extra[2];
        bind(S, args, PyVectorcall_NARGS(nargs), kwnames, bound, extra);
        return S.body(Args(bound, module));
    });
}
}  // namespace detail

// A module-level function of the frame's module: __module__ is its name, __self__ the module.
template <FunctionSpec& S>
Object make_function(const ModuleFrame& frame) {
    detail::prepare(S, false, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&detail::trampoline<S>)));
    return detail::new_function(S, frame);
}

// A method for a class namespace of the frame's module: binds to instances;
// its first parameter is self.
template <FunctionSpec& S>
Object make_method(const ModuleFrame& frame) {
    detail::prepare(S, true, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&detail::trampoline<S>)));
    return detail::wrap_method(detail::new_function(S, frame), S.qualname);
}


using Member = std::pair<const char*, Object>;

// Creates a class of the frame's module by calling the winning metaclass of
// `bases` with a namespace holding __module__, __qualname__, __doc__ and then
// `members` in order.
Object make_class(const char* name, Handle bases, const ModuleFrame& frame, const char* doc,
                  const std::vector<Member>& members);

}  // namespace pyutil
