"""The help texts of a module and the run of their >>> examples, used by
test_docstrings.py here and in the fresh interpreters it starts."""
import doctest


def help_texts(module, members=True):
    """(name, help text) of the module and, with members, of the functions,
    classes and methods it defines."""
    yield module.__name__, module.__doc__
    if not members:
        return
    for name, obj in vars(module).items():
        if getattr(obj, "__module__", None) != module.__name__:
            continue
        qualified = module.__name__ + "." + name
        if isinstance(obj, type):
            yield qualified, obj.__doc__
            for member, value in vars(obj).items():
                if callable(value):
                    yield qualified + "." + member, value.__doc__
        elif callable(obj):
            yield qualified, obj.__doc__


def failures(name, text):
    """The doctest report of the examples in text, run in fresh globals; empty
    when they all pass."""
    test = doctest.DocTestParser().get_doctest(text, {"__name__": "__main__"}, name, None, 0)
    report = []
    runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS)
    runner.run(test, out=report.append, clear_globs=True)
    return "".join(report)
