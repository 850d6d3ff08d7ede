"""Keys, tables and modules that run Python code while a lookup reads them,
for tests of what a lookup's answer is kept for."""
import types


class Once:
    """act(), run the first time the object is called while armed; later calls,
    and calls before arming, do nothing.  A call answers whether it acted."""
    def __init__(self, act):
        self.act, self.armed, self.done = act, False, False

    def __call__(self):
        if not self.armed or self.done:
            return False
        self.done = True
        self.act()
        return True


def colliding(name, act):
    """A str-subclass key with the hash of `name` that equals nothing; comparing
    it with anything runs act()."""
    class Colliding(str):
        def __hash__(self):
            return hash(name)

        def __eq__(self, other):
            act()
            return False
        __ne__ = str.__ne__
    return Colliding("colliding with " + name)


def collide_first(table, name, act):
    """Puts into `table` a key colliding with `name` that a lookup of `name`
    meets before `name`'s own entry: its __eq__ takes itself out of the table,
    then runs act() (an Once)."""
    def leave():
        if act.armed and not act.done:
            table.pop(key, None)
        act()
    key = colliding(name, leave)
    value = table.pop(name, None)
    table[key] = None
    if value is not None:
        table[name] = value
    return key


def answering(answer):
    """A module without Iterable whose __getattr__ answers for it with answer[0]
    as it stands (an exception class is raised): the list, also kept as the
    function's `answer`, changes the answer and leaves the module's dict as it is."""
    module = types.ModuleType("stand_in")

    def __getattr__(name):
        if name != "Iterable":
            raise AttributeError(name)
        if isinstance(answer[0], type) and issubclass(answer[0], BaseException):
            raise answer[0](name)
        return answer[0]
    __getattr__.answer = answer
    module.__getattr__ = __getattr__
    return module
