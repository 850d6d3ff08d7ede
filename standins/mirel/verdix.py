"""Stand-in for the predicate library ``mirel.verdix``: only its base class
``Predicate``, which textloom's check operations derive from.

A predicate is an object whose ``test()`` tells whether a condition holds
and whose ``dump()`` describes it.  The metaclass is a real one (ABCMeta), so
a class that derives from ``Predicate`` must be created through it, and one
that lacks ``test`` or ``dump`` cannot be instantiated.
"""

import abc


class Predicate(metaclass=abc.ABCMeta):
    @abc.abstractmethod
    def test(self):
        """True when the condition holds."""

    @abc.abstractmethod
    def dump(self):
        """A text describing the predicate and its last outcome."""
