"""Stand-in for the test framework ``ryn``: the small part of it that
textloom's demonstration scripts and jobs use (see standins/README.md)."""
