"""The stop rule: one alternation of the consumed patterns answers as trying each in turn."""
import logging
import re

import pytest
from hypothesis import HealthCheck, given, settings, strategies as st

# more lines than a set of patterns is tested one by one before its alternation is built
WARM = 300
HIERARCHY = ("Regular expression hierarchy violated at line '%s' (hint: overlapping regular expression "
             "in the same predicate and on different line ?")


@pytest.fixture
def rule(core):
    """_parser_check_scope of an object made by a one-line parse."""
    core.extend({"ONE": r"(\S+)"})
    core.text_to_parse["stop"] = "x"
    return core._textloom_t("ketch", ["ONE"], [None], False, "stop")._parser_check_scope


def warmed(rule, done, line):
    re.purge()  # so that re's cache holds only what this warming compiles
    for _ in range(WARM):
        rule(done, line)
    return rule(done, line)


def one_by_one(done, line):
    return not any(p.match(line) is not None for p in done)


def built(patterns):
    """Whether a pattern was compiled for the set since warmed() emptied re's cache."""
    texts = {p.pattern for p in patterns}
    return any(type(text) is str and flags == patterns[0].flags and text not in texts for _, text, flags in re._cache)


# --- generated sets -------------------------------------------------------------------------------

ATOM = st.sampled_from([
    "a", "b", " ", "1", r"\s", r"\S+", r"\d+", ".", ".*", "\r", r"\r", "[a\r]", "(?:a )", "(?#c)", "|",
    "$", r"\Z", "^", r"\A", r"\b", "(?=a)", "(?!b)", "(?<=a)", "(?<!b)", "(?i:a)", "(?i)",
]) | st.sampled_from(["(a|b)", "(b)", r"\1", r"(a)\1", r"(?P<n>b)", r"(?P=n)", r"(a)?(?(1)b|c)", "(?(1)a|b)"])
QUANTIFIER = st.sampled_from(["", "", "", "*", "+", "?", "{2}"])


def compiled(parts, flags):
    try:
        return re.compile("".join(parts), flags)
    except re.error:
        return None


# whole patterns whose groups or flags an alternation would let reach the others
ENTANGLED = st.sampled_from(["(b)", "(a)", r"(a)\1", r"(b)\1", r"(?P<n>a)", r"(?P<n>a)(?P=n)", r"(a)?(?(1)b|c)",
                             r"(x)?(?(1)a|b)", "(?i)a", "(?i:a)b", "(?m)a$",
                             # runs of white space that branches may share
                             r"\s+a|b", r"\s+b", r"^\s+a", r"\s*a", r"\s+?b", r"\s+(a)\1", r"\s+$", r"^\s+",
                             r"\s+\s*a", r"\s+ a", r"\s+(\s)", r"\s+.a", r"\s+(\S+)", r"\s+1", r"\s+(\S+)? a",
                             r"\s+a?\s", r"\s+\S*", r"\s+\d+", r"\s*\w"]
                            ).map(re.compile)
PATTERN = st.builds(compiled, st.lists(st.tuples(ATOM, QUANTIFIER).map("".join), min_size=1, max_size=4),
                    st.sampled_from([0, 0, 0, re.I, re.M])).filter(lambda p: p is not None) | ENTANGLED
LINE = st.lists(st.sampled_from(["a", "b", "A", " ", "1", "\r", "\n", "c"]), max_size=6).map("".join)
# lines on which a pattern meets its neighbours' groups and flags
PROBES = ["", "a", "aa", "ab", "abb", "b", "bb", "ba", "A", "B", "Ab", "c", "ac", "a\r", "a\n", " a", "1 ", "  b",
          " aa", "\tb ", " ", " \r", "  1", "   a", " \t a", "  ab"]


@settings(max_examples=200, deadline=None, suppress_health_check=[HealthCheck.function_scoped_fixture,
                                                                   HealthCheck.too_slow])
@given(st.lists(PATTERN, min_size=1, max_size=5), st.lists(LINE, min_size=1, max_size=4))
def test_alternation_answers_as_each_pattern_in_turn(rule, done, lines):
    assert warmed(rule, done, lines[0]) is one_by_one(done, lines[0])
    for line in lines[1:] + PROBES:
        assert rule(done, line) is one_by_one(done, line), line


# --- what a branch would change --------------------------------------------------------------------

@pytest.mark.parametrize("texts, flags, line, stops", [
    # a backreference names another group once behind an earlier branch's
    ([r"(b)", r"(a)\1"], [0, 0], "aa", True),
    # so does a conditional
    ([r"(x)", r"(a)?(?(1)b|c)"], [0, 0], "ab", True),
    # one pattern's flags would reach the others
    ([r"a", r"(?i)b"], [0, 0], "A", False),
    ([r"a", r"b"], [0, re.I], "A", False),
    ([r"a #x", r"b"], [re.X, re.X], "b", True),
    ([r"(?P<n>a)", r"(?P<n>b)"], [0, 0], "b", True),
    ([r"(?P<n>a)(?P=n)", r"b"], [0, 0], "aa", True),
])
def test_sets_a_branch_would_change_are_tested_one_by_one(rule, texts, flags, line, stops):
    done = [re.compile(text, f) for text, f in zip(texts, flags)]
    assert warmed(rule, done, line) is (not stops)
    assert not built(done)


LINES = ["", "a", " a", "c", "x", "y", "y\r", " ", " \r", "  MTU 1", "  MTU x", "MTU 1", "\tBW 9", " full-duplex",
         " full-duplex\r", " a mode", "A", "b"]


@pytest.mark.parametrize("texts, flags", [
    ([r"\s+MTU (\d+)", r"^\s+(\S+)-duplex$", r"(?<!x)y\Z", r"(?=a)(a|b)(?#c)"], 0),
    ([r"\s+MTU (\d+)", r"^\s+(\S+)-duplex$", r"\s+BW (\d+)", r"^\s+(\S+) mode", r"\s+|x"], 0),
    ([r"\s+MTU (\d+)", r"\s+BW (\d+)", r"\s+$", r"^\s*(a)"], 0),
    ([r"a", r"b"], re.I | re.M),
])
def test_plain_sets_get_their_alternation(rule, texts, flags):
    done = [re.compile(text, flags) for text in texts]
    warmed(rule, done, "zzz")
    assert built(done)
    answers = [rule(done, line) for line in LINES]
    assert answers == [one_by_one(done, line) for line in LINES]
    assert True in answers and False in answers


def test_bytes_patterns_fail_as_before(rule):
    done = [re.compile(b"a"), re.compile(b"b")]
    for _ in range(WARM):
        with pytest.raises(TypeError, match="cannot use a bytes pattern on a string-like object"):
            rule(done, "a")


def test_a_list_changed_between_lines_is_read_again(rule):
    done = [re.compile("a"), re.compile("b")]
    assert warmed(rule, done, "c") is True
    done.append(re.compile("c"))
    assert rule(done, "c") is False
    del done[1:]
    assert rule(done, "b") is True and rule(done, "a") is False


# --- whole parses ------------------------------------------------------------------------------------

RECORD = "eth0 is up\r\n  mtu 1500\r\n  speed 10\r\neth1 is up\r\n  mtu 9000\r\n"
PARSES = {
    # name: (regexes, tags, values, fill)
    "a consumed pattern stops the section": (
        {"IF": r"(\S+) is up", "MTU": r"\s+mtu (\d+)$", "SP": r"^\s+speed (\d+)\Z"}, ["IF", "MTU", "SP"],
        ["eth0", "9000", "10"], False),
    "fill mode": (
        {"IF": r"(\S+) is up", "MTU": r"^\s+mtu (\d+)", "SP": r"^\s+speed (\d+)"}, ["IF", "MTU", "SP"],
        ["eth0", None, None], True),
    "lookarounds and a backreference": (
        {"IF": r"(?=e)(\S+) is (up)\2?", "MTU": r"\s+(?<!x)mtu (\d+)", "SP": r"\s+speed (\d+)(?!\d)"},
        ["IF", "MTU", "SP"], ["eth0", "1500", "99"], False),
    "the walk ends before a stop": (
        {"IF": r"(\S+) is up", "MTU": r"\s+mtu (\d+)"}, ["IF", "MTU"], ["eth0", "1500"], False),
}


def pass_through(self, regex_done, line):
    return super(type(self), self)._parser_check_scope(regex_done, line)


def plain_match(*args, **kwargs):
    return re.match(*args, **kwargs)


def plain_compile(*args, **kwargs):
    return re.compile(*args, **kwargs)


@pytest.mark.parametrize("case", PARSES.values(), ids=list(PARSES))
@pytest.mark.parametrize("variant", ["pass-through override", "match rebound", "compile rebound"])
def test_parses_agree_with_the_pattern_by_pattern_rule(core, caplog, case, variant):
    regexes, tags, values, fill = case
    core.extend(regexes)
    core.text_to_parse["k"] = RECORD

    def run(cls=core._textloom_t):
        caplog.clear()
        obj = cls("ketch", tags, values, fill, "k")
        return obj._parser_validate(), dict(core.ext_dictio["k"]), caplog.messages

    caplog.set_level(logging.DEBUG, logger="mirel.textloom.core")
    for _ in range(WARM):
        run()
    combined = run()
    if variant == "pass-through override":
        other = run(type("sub_t", (core._textloom_t,), {"_parser_check_scope": pass_through}))
    else:
        setattr(core, variant.split()[0], plain_match if variant == "match rebound" else plain_compile)
        other = run()
    assert other == combined
    assert combined[2] in ([], [HIERARCHY % "eth1 is up"])


@pytest.mark.parametrize("answer, ok, dictio", [(None, True, {"IF": True, "MTU": True}), (0, False, {})])
def test_an_override_is_still_honoured(core, answer, ok, dictio):
    core.extend({"IF": r"(\S+) is up", "MTU": r"\s+mtu (\d+)"})
    core.text_to_parse["k"] = RECORD
    for _ in range(WARM):
        core._textloom_t("ketch", ["IF", "MTU"], ["eth0", "1500"], False, "k")
    stop_t = type("stop_t", (core._textloom_t,), {"_parser_check_scope": lambda self, done, line: answer})
    obj = stop_t("ketch", ["IF", "MTU"], ["eth0", "1500"], False, "k")
    assert obj._validate is ok and obj._dictio == dictio


@pytest.mark.parametrize("meddle", [
    lambda done: done.append(re.compile(r"\s+speed")),
    lambda done: done.append("not a pattern"),
    lambda done: done.clear(),
])
def test_a_consumed_list_changed_by_a_hook_is_read_again(core, caplog, meddle):
    core.extend({"IF": r"(\S+) is up", "MTU": r"\s+mtu (\d+)$", "SP": r"\s+speed (\d+)"})
    core.text_to_parse["k"] = RECORD

    class meddling_t(core._textloom_t):
        def _parser_future_matching(self, regex, regex_done, line):
            meddle(regex_done)
            return super()._parser_future_matching(regex, regex_done, line)

    def run():
        caplog.clear()
        try:
            obj = meddling_t("ketch", ["IF", "MTU", "SP"], ["eth0", "9000", "10"], False, "k")
        except AttributeError as error:  # a text has no match method
            return str(error)
        return obj._parser_validate(), dict(core.ext_dictio["k"]), caplog.messages

    caplog.set_level(logging.DEBUG, logger="mirel.textloom.core")
    for _ in range(WARM):
        run()
    combined = run()
    core.match = plain_match
    assert run() == combined
