"""Logging helpers of the ``ryn`` stand-in."""
