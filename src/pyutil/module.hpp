// Module frames: a module's object, its dict and its name, as the module's
// own functions see them.
#pragma once
#include <Python.h>
#include "pyutil/errors.hpp"

namespace pyutil {

// globals[name], else the builtins' entry, owned; the interpreter's NameError
// when it is in neither.
Object lookup_global(Handle globals, Handle name);

class ModuleFrame {
public:
    ModuleFrame() = default;
    // The frame of `module`: its dict, and its __name__ as it is now.
    explicit ModuleFrame(Handle module);

    Handle module() const { return module_; }
    Handle globals() const { return globals_; }
    Handle name() const { return name_; }
    explicit operator bool() const { return bool(module_); }

    // The current binding of a module-level name (the module's dict, then the
    // builtins), owned for as long as the caller uses it; NameError when unbound.
    Object global(Handle name) const { return lookup_global(globals_, name); }
    // `name = value` at module level.
    void bind(const char* name, Handle value) const;
    // The statement `import name` of a top-level module, run in this module: binds and returns it.
    Object import_module(const char* name) const;
    // The statement `from package import name` run in this module, with the
    // interpreter's errors: binds and returns the value.
    Object from_import(const char* package, const char* name) const;

private:
    Object module_;
    Handle globals_;  // the module's own dict, alive as long as the module
    Object name_;
};

// Single-phase init for modules whose state must survive a second
// initialisation: the module is built once per process, a later PyInit call
// (after its sys.modules entry was removed) returns the module already built.
// `load` binds the module's names (throwing PyError on failure); a failed
// load leaves nothing behind, so the next import starts afresh.  Returns a
// new reference, or nullptr with the error set.
PyObject* init_once(PyModuleDef& def, ModuleFrame& frame, void (*load)());

// For a module of multi-phase init, called from its exec slot: forgets the
// state block that marks it as executed, so that a reload runs its exec slots
// again, as a reload runs a module's body again.  Only for a def whose
// m_size is 0 (the block holds nothing).
void run_again_at_reload(Handle module);

}  // namespace pyutil
