"""Keys and tables that run Python code while a dict lookup reads them, for
tests of what a lookup's answer is kept for."""


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
