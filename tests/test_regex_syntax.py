"""The regex syntax readers of pyutil (through the test module _regex_probe)
against re's own parser, on generated patterns: classes, escapes, groups,
comments, flags, lookarounds, backreferences and conditionals."""
import re
import warnings
from re import _parser as sre

import pytest
from hypothesis import HealthCheck, assume, given, settings, strategies as st

import _regex_probe as probe

READERS = settings(max_examples=150, deadline=None, derandomize=True, database=None,
                   suppress_health_check=[HealthCheck.filter_too_much, HealthCheck.too_slow])

# ---- generated patterns ------------------------------------------------------------------------

LITERAL = st.sampled_from(list("ab1x ,<>=:#-}") + ["\n", "\u00e9", "\u03a9", "\U0001f600"])
ESCAPE = st.sampled_from([r"\d", r"\b", r"\B", r"\A", r"\Z", r"\1", r"\2", r"\12", r"\012", r"\(", r"\)", r"\[",
                          r"\]", r"\\", r"\#", r"\ ", r"\n", r"\x41", r"\^"])
MEMBER = st.sampled_from(["a", "b", "(", ")", "#", " ", "^", "[", "|", "?", "{", "\n", "a-c", r"\]", r"\\",
                          r"\d", r"\b", r"\)", "\u00e9"])
COMMENT_TEXT = st.lists(st.sampled_from(["a", "[", "]", "(", r"\)", "#", "^", r"\1", "(?i)", " ", "\n"]),
                        max_size=4).map("".join)
GLOBAL_FLAGS = st.sampled_from(["(?i)", "(?x)", "(?ms)", "(?a)", "(?u)", "(?ix)", "(?s)"])
SCOPED = st.sampled_from(["(?i:", "(?x:", "(?-x:", "(?s-x:", "(?x-i:", "(?-i:"])
QUANTIFIER = st.sampled_from(["", "", "", "*", "+", "?", "{2}", "{1,3}", "*?", "+?", "{,2}"])


@st.composite
def char_class(draw):
    members = draw(st.lists(MEMBER, max_size=4))
    return "[" + draw(st.sampled_from(["", "^"])) + draw(st.sampled_from(["", "]"])) + "".join(members) + "]"


def sequence(items):
    return st.lists(items, max_size=4).map("".join)


def extend(inner):
    body = sequence(inner)
    return st.one_of(
        st.tuples(st.sampled_from(["(", "(?:", "(?P<n1>", "(?=", "(?!", "(?<=", "(?<!", "(?>"]), body).map(
            lambda t: t[0] + t[1] + ")"),
        st.tuples(SCOPED, body).map(lambda t: t[0] + t[1] + ")"),
        st.tuples(st.sampled_from(["(?(1)", "(?(n1)"]), body, body).map(lambda t: t[0] + t[1] + "|" + t[2] + ")"),
        st.tuples(body, body).map("|".join),
        st.tuples(inner, QUANTIFIER).map("".join),
    )


ATOM = st.one_of(LITERAL, ESCAPE, char_class(), GLOBAL_FLAGS, COMMENT_TEXT.map(lambda c: "(?#" + c + ")"),
                 st.sampled_from(["^", "$", ".", "(?P=n1)", "#", " "]))
PATTERN = sequence(st.recursive(ATOM, extend, max_leaves=8))


# ---- what re's parser says ---------------------------------------------------------------------

def parse(pattern, flags=0, state=None):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        return sre.parse(pattern, flags, state)


def letters_flags(letters):
    flags = 0
    for letter in letters:
        flags |= sre.FLAGS[letter]
    return flags


def older_reading(pattern, new_state=lambda: None):
    """The parse tree of `pattern` as the older series read it: every global
    flag group applies to the whole pattern, and one that turns on verbose
    mode has the whole pattern read again in that mode."""
    verbose = 0
    while True:
        text, flags = pattern, verbose
        try:
            while True:
                try:
                    return parse(text, flags, new_state())
                except re.error as e:
                    if e.msg != "global flags not at the start of the expression":
                        raise
                    end = text.index(")", e.pos) + 1
                    added = letters_flags(text[e.pos + 2:end - 1])
                    if added & re.X and not verbose:
                        raise RestartVerbose
                    text, flags = text[:e.pos] + text[end:], flags | added
        except RestartVerbose:
            verbose = re.X


class RestartVerbose(Exception):
    pass


def items(tree):
    """Every (op, av) of a parse tree, nested ones included."""
    for op, av in tree:
        yield op, av
        if isinstance(av, sre.SubPattern):
            yield from items(av)
        for part in av if isinstance(av, (tuple, list)) else ():
            if isinstance(part, sre.SubPattern):
                yield from items(part)
            elif isinstance(part, list) and part and isinstance(part[0], sre.SubPattern):
                for branch in part:
                    yield from items(branch)


def references(tree):
    return [av if op is sre.GROUPREF else av[0] for op, av in items(tree)
            if op in (sre.GROUPREF, sre.GROUPREF_EXISTS)]


def reading_or_skip(pattern):
    try:
        return older_reading(pattern)
    except (re.error, ValueError, OverflowError):
        assume(False)


def shape(tree):
    return repr(tree), tree.state.flags, tree.state.groupdict


# ---- the code-point view -----------------------------------------------------------------------

@given(st.text(max_size=20))
def test_code_points_read_the_str(s):
    widest = max(map(ord, s), default=0)
    kind = 1 if widest < 256 else 2 if widest < 65536 else 4
    # past the end the view reads 0
    assert probe.code_points(s) == ([ord(c) for c in s], 0, 0, kind)


# ---- character classes and flag groups ----------------------------------------------------------

def class_end_by_re(s, i):
    """The index of the ']' at which re's parser ends the class opened at s[i]."""
    for j in range(i + 1, len(s)):
        if s[j] == "]":
            try:
                parse(s[i:j + 1])
                return j
            except re.error as e:
                if not e.msg.startswith("unterminated character set"):
                    raise
    return len(s)


@READERS
@given(st.sampled_from(["", "ab", "\u03a9"]), char_class(), sequence(st.one_of(MEMBER, st.just("]"))))
def test_class_end_is_where_re_ends_the_class(lead, cls, tail):
    s = lead + cls + tail
    assert probe.class_end(s, len(lead)) == class_end_by_re(s, len(lead))


@pytest.mark.parametrize("s", ["[", "[^", "[]", "[^]", "[a\\", "[a\\]"])
def test_unclosed_class_ends_at_the_size(s):
    assert probe.class_end(s, 0) == len(s) == class_end_by_re(s, 0)


@READERS
@given(st.lists(st.sampled_from(list("imsxau") + ["-", ":", "#", "P", "t", ")"]), max_size=4).map("".join),
       st.sampled_from(["", ")", ")a", ":a)"]))
def test_flag_group_is_what_re_takes_for_global_flags(letters, tail):
    group = "(?" + letters + tail
    try:
        parse("z" + group)
        is_global = False
    except re.error as e:
        assume(not e.msg.startswith("bad inline flags"))
        is_global = e.msg == "global flags not at the start of the expression"
    if "t" in letters:
        assume(not is_global)  # re's template flag is no flag of the older series' global groups
    end = probe.flag_group_end("z" + group, 1)
    assert end != 1 if is_global else end == 1
    if is_global:
        assert end == 1 + group.index(")") + 1


# ---- global flag hoisting ----------------------------------------------------------------------

@READERS
@given(PATTERN)
def test_hoisted_pattern_reads_as_the_older_series_read_it(pattern):
    expected = reading_or_skip(pattern)
    assert shape(parse(probe.hoist_global_flags(pattern))) == shape(expected)


@pytest.mark.parametrize("pattern, hoisted", [
    ("a(?i)b(?m)", "(?im)ab"),
    ("(?s)(?x)a(?i)", "(?i)(?s)(?x)a"),          # the run at the front stays as it is
    (r"[(?i)]\(?i)(?#(?i))", None),               # in a class, escaped, in a comment: no group
    ("(?x)a #(?i)\nb", None),                    # in a verbose comment
    ("(?x)a # [\n(?i)b", "(?i)(?x)a # [\nb"),    # a '[' in a verbose comment opens no class
    ("a # (?x)", "(?x)a # (?x)"),                # read in verbose mode the group is comment, the mode stays
    ("(?-x:a #(?i)\n)(?x)", "(?ix)(?-x:a #\n)"),  # not verbose inside
])
def test_hoisting(pattern, hoisted):
    out = probe.hoist_global_flags(pattern)
    if hoisted is None:
        assert out is pattern
    else:
        assert out == hoisted


def test_hoisting_leaves_other_objects():
    b = b"a(?i)"
    assert probe.hoist_global_flags(b) is b


# ---- traits of a future-match regex ------------------------------------------------------------

def refers_by_number(pattern):
    """Whether a reference of the pattern names its group by number: with one
    group put before the pattern's own, a reference by name follows its group,
    one by number stays."""
    def one_group_before():
        state = sre.State()
        state.closegroup(state.opengroup(), sre.SubPattern(state))
        return state

    plain = references(reading_or_skip(pattern))
    shifted = references(older_reading(pattern, one_group_before))
    return any(a == b for a, b in zip(plain, shifted))


LOOKS_BEFORE = {sre.AT_BEGINNING, sre.AT_BEGINNING_STRING, sre.AT_BOUNDARY, sre.AT_NON_BOUNDARY}


def looks_before_start(pattern):
    return any((op is sre.AT and av in LOOKS_BEFORE) or (op in (sre.ASSERT, sre.ASSERT_NOT) and av[0] < 0)
               for op, av in items(reading_or_skip(pattern)))


@READERS
@given(PATTERN)
def test_traits_claim_nothing_re_contradicts(pattern):
    lazy_ok, from_offset = probe.pattern_traits(pattern)
    if lazy_ok:
        assert not refers_by_number(pattern)
    if from_offset:
        assert not looks_before_start(pattern)


@pytest.mark.parametrize("pattern, traits", [
    (r"(a)\1", (False, True)),
    ("(a)?(?(1)b|c)", (False, True)),
    ("(?i)*a", (False, True)),                   # a quantifier first, after the global flags
    ("(?P<n>a)(?P=n)", (True, True)),
    ("[\\1^\\b(?<]", (True, True)),              # in a class: characters
    (r"(?#\1^)a", (True, True)),                 # in a comment: nothing
    ("(?#[)^a]", (True, False)),
    ("(?x)#[\n^a]", (True, False)),
    ("(?x)a # \\1\n", (True, True)),
    (r"(?<=a)b", (True, False)),
    (r"\Aa", (True, False)),
    (r"a\b", (True, False)),
])
def test_traits(pattern, traits):
    assert probe.pattern_traits(pattern) == traits


# ---- the heading texts ---------------------------------------------------------------------------

def balance_by_re(text):
    try:
        older_reading(text)
        return True
    except re.error as e:
        if e.msg in ("unbalanced parenthesis", "missing ), unterminated subpattern",
                     "missing ), unterminated comment"):
            return False
        assume(False)
    except (ValueError, OverflowError):  # incompatible flags or a huge repeat: not about groups
        assume(False)


NOISY = sequence(st.one_of(st.recursive(ATOM, extend, max_leaves=6), st.sampled_from(["(", ")", "(?#("])))


@READERS
@given(NOISY)
def test_groups_balance_as_re_reads_them(text):
    assert probe.groups_balance(text) is balance_by_re(text)


@READERS
@given(NOISY)
def test_no_inline_flags_means_re_sees_none(text):
    assume(not probe.has_inline_flags(text))
    tree = reading_or_skip(text)
    assert tree.state.flags == parse("").state.flags
    assert not any(op is sre.SUBPATTERN and (av[1] or av[2]) for op, av in items(tree))


@READERS
@given(PATTERN)
def test_literal_prefix_starts_every_match(text):
    assume(not probe.has_inline_flags(text))
    n = probe.literal_prefix_length(text)
    assume(n > 0)
    assert list(reading_or_skip(text))[:n] == [(sre.LITERAL, ord(c)) for c in text[:n]]


# ---- the optimisations that rely on the readers -----------------------------------------------

def outcome(call):
    try:
        return call()
    except Exception as e:  # the same failure either way
        return type(e)


@pytest.fixture
def future(core):
    """_parser_future_matching(regex, [Interface (\\S+)], line) over `text`,
    through re's own compile (the bounded evaluation) or another one."""
    core.extend({"IF": r"Interface (\S+)"})
    core.text_to_parse["k"] = "x"
    obj = core._textloom_t("ketch", ["IF"], [None], False, "k", False)
    done = [re.compile(r"Interface (\S+)")]

    def ask(text, line, regex, plain):
        obj._text_to_parse = text
        core.compile = (lambda p: re.compile(p)) if plain else re.compile
        return outcome(lambda: obj._parser_future_matching(regex, done, line))
    return ask


@pytest.mark.parametrize("regex, text", [
    ("(?#[)^a]", "qa]\n"),                # an anchor after a '[' in a comment
    ("(?x)#[\n^a]", "qa]\n"),             # the same in a verbose comment
    (r"(?#[)(a)\1]", "q\naa]\n"),          # a backreference after a '[' in a comment
    ("a(?#(?i)b", "q\nab\n"),             # a flag group in a comment
])
def test_future_match_reads_comments_as_re_does(future, regex, text):
    assert future(text, "q", regex, plain=False) == future(text, "q", regex, plain=True)


@settings(max_examples=100, deadline=None, derandomize=True, database=None,
          suppress_health_check=[HealthCheck.function_scoped_fixture, HealthCheck.too_slow])
@given(PATTERN, st.lists(st.sampled_from(["a", "b1", "x a", "", "ab\u00e9", "Interface e", "#", "]"]),
                         min_size=1, max_size=5))
def test_future_match_bounded_evaluation_agrees(future, regex, lines):
    text = "q\n" + "\n".join(lines)
    assert future(text, "q", regex, plain=False) == future(text, "q", regex, plain=True)


@pytest.mark.parametrize("headings", [
    ["Port", "(?#[)])|(?#[)((])"],   # read as a class, the comment hides a ')' that ends the column early
    ["Port", "(?#(a)x"],
])
def test_heading_search_reads_comments_as_re_does(core, headings):
    def entries(compile):
        core.compile = compile
        core.text_to_parse[""] = "]\nPort   x\n1   2\n"
        return outcome(lambda: core.column_table_result_core_t(headings).entries)
    assert entries(re.compile) == entries(lambda p: re.compile(p))
