"""The stop rule: the alternations of the consumed patterns answer as trying each in turn."""
import gc
import itertools
import logging
import random
import re
import sys

import pytest
from hypothesis import HealthCheck, given, settings, strategies as st

import _regex_probe as probe

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


FRESH = itertools.count()


def fresh_set():
    """Two patterns no other test compiled (a set whose alternation is not built
    yet), the mark they hold, a line that neither matches and one the second matches."""
    mark = "m%d_" % next(FRESH)
    return [re.compile(r"(\S+) is " + mark), re.compile(r"\s+a%s (\S+)" % mark)], mark, " zz", " a%s x" % mark


def alternations(mark):
    """The alternations in re's cache of patterns that hold `mark`, such as those of fresh_set()."""
    return [text for _, text, _ in re._cache if type(text) is str and "|" in text and mark in text]


# --- the characters \s takes ----------------------------------------------------------------------

BLANKS = [chr(c) for c in range(sys.maxunicode + 1) if re.match(r"\s", chr(c))]
ASCII_BLANKS = [c for c in BLANKS if re.match(r"\s", c, re.A)]
NON_SPACE_ITEMS = [re.escape(chr(c)) for c in range(0x21, 0x7f)] + [r"\S", r"\d", r"\w", "[!-~]"]


@pytest.mark.parametrize("flags", [0, re.I, re.A, re.I | re.A])
def test_what_is_taken_as_non_space_takes_no_blank(flags):
    """The items the regex reader counts as taking a non-space character (printable
    ASCII but the blank, as literal or class, and \\S, \\d, \\w), in any of their
    cases, take none of the characters that \\s takes under the same flags."""
    blanks = ASCII_BLANKS if flags & re.A else BLANKS
    for item in NON_SPACE_ITEMS:
        taken = [b for b in blanks if re.match(item, b, flags)]
        assert not taken, (item, taken)


# --- generated patterns ---------------------------------------------------------------------------

LINE_BLANKS = " \t\xa0\u2003\u3000\x1c\x85\n\r\x0b"
RUNS = [r"\s+", r"\s*", r"^\s+", r"^\s*", r"\s+?", r"\s*+", r"\s++", r"\s+(?#c)?", r"\s*(?#c)+", r"\s+(?#c)",
        r"\s{1,}", r"\s+\s*", r"\s", ""]
LITERALS = ["a", "b", "-", "1", "_", ":", " ", "\t", "\xa0", "\u2003", "#", "}", "]"]
ESCAPES = [r"\s", r"\S", r"\d", r"\w", r"\W", r"\D", r"\t", r"\x41", r"\xa0", r"\.", r"\-", r"\ ", r"\#",
           r"\N{NO-BREAK SPACE}", r"\u2003", r"\0"]
CLASSES = ["[ab]", "[a-z]", "[!-~]", "[ -~]", "[^a]", r"[\s]", r"[\S]", r"[\d-]", "[]a]", r"[\-a]", r"[\xa0]",
           r"[a\]]", "[-a]", "[a-]", r"[\w.]", "[\t-a]", r"[\d\s]", r"[!-\]]", "[!-\xa0]", "[0-\u3000]", "[[a]",
           "[a--b]"]
ZERO_WIDTH = ["^", "$", r"\b", r"\B", r"\A", r"\Z", r"(?=\S)", r"(?!a)", r"(?<=\s)", r"(?<!a)", "(?=a)", r"(?!\S)"]
GROUPS = ["(|a)", "(a|)", r"(?:a|\s)", "(?:)", "(a?)", r"(\S+)", r"(?:\d|b)", r"(?>a|\s)", "(a|b)"]
OTHERS = [".", r"\S+", r"\d+", r"\1", r"(?P=n)", "(?(1)a|b)", "(?i)", "(?a)", "(?x)", "(?i:a)", "(?-i:a)",
          "(?x: a )", "(?s:.)"]
POOLS = [LITERALS, LITERALS, ESCAPES, ESCAPES, CLASSES, ZERO_WIDTH, GROUPS, OTHERS]
COMMENTS = ["(?#c)", r"(?#\))", "(?#?)", "(?#[)"]
QUANTIFIERS = ["", "", "", "", "*", "+", "?", "{2}", "{0,2}", "{,2}", "{1,}", "{0}", "{01}", "{}", "{x}", "{,}",
               "{1,3}"]
SUFFIXES = ["", "", "", "?", "+"]  # lazy, possessive
OPENS = ["(", "(?:", "(?>", "(?=", "(?!", "(?<=", "(?<!", "(?P<n>"]
FLAGS = [0, 0, 0, re.I, re.A, re.M, re.S, re.X, re.I | re.A, re.M | re.S]
LINE_TAILS = ["a", "b", "A", "1", "-", "_", ":", "ab", "a1", " ", "\t", "\xa0", "\u2003", "\n", "\r", "#", "}", "]",
              "x"]


class Generated:
    """Seeded patterns, pattern sets and lines: items with comments between them
    and their quantifiers, counted, lazy and possessive quantifiers, escapes,
    classes, lookarounds, atomic groups, references, inline and scoped flags;
    sets whose patterns start with one run of white space; lines that start
    with blanks of every kind."""

    def __init__(self, seed):
        self.r = random.Random(seed)

    def atom(self, depth):
        if depth < 2 and self.r.random() < 0.2:
            inner = self.sequence(depth + 1)
            if self.r.random() < 0.3:
                inner += "|" + self.sequence(depth + 1)
            return self.r.choice(OPENS) + inner + ")"
        return self.r.choice(self.r.choice(POOLS))

    def element(self, depth=0):
        comments = "".join(self.r.choice(COMMENTS) for _ in range(self.r.choice([0, 0, 1, 2])))
        return self.atom(depth) + comments + self.r.choice(QUANTIFIERS) + self.r.choice(SUFFIXES)

    def sequence(self, depth=0):
        text = "".join(self.element(depth) for _ in range(self.r.choice([0, 1, 1, 2, 3])))
        if depth == 0 and self.r.random() < 0.1:
            text += "|" + self.sequence(depth + 1)
        return text

    def pattern_set(self):
        """One to four patterns compiled alone with the same flags."""
        flags = self.r.choice(FLAGS)
        shared = self.r.choice(RUNS) if self.r.random() < 0.7 else None
        patterns = []
        for _ in range(self.r.randint(1, 4)):
            run = shared if shared is not None else self.r.choice(RUNS)
            compiled = valid(run + self.sequence(), flags)
            if compiled:
                patterns.append(compiled)
        return patterns

    def line(self, blanks=LINE_BLANKS):
        run = "".join(self.r.choice(blanks) for _ in range(self.r.choice([0, 1, 1, 2, 3])))
        return run + "".join(self.r.choice(LINE_TAILS) for _ in range(self.r.choice([0, 1, 2, 3])))


def valid(text, flags):
    try:
        return re.compile(text, flags)
    except (re.error, OverflowError, ValueError, FutureWarning, DeprecationWarning):
        return None


# lines on which a pattern meets its neighbours' groups, flags and shared runs
PROBES = ["", "a", "aa", "ab", "b", "ba", "A", "1", "c", "a\r", "a\n", " a", "1 ", "  b", "\tb ", " ", " \r", "  1",
          " \t a", " \tX", "\xa0a", " \xa0b", "\u2003 1", "\x1c_", "\x85\x85-", "\n\n:", "  \n", "\t\t\t"]


@pytest.mark.parametrize("seed", range(8))
def test_alternation_matches_where_one_of_its_patterns_does(seed):
    """Built directly for generated sets: wherever the reader gives one, the
    alternation compiles quietly and matches exactly where one of the patterns
    matches alone."""
    g = Generated(seed)
    combined = shared_whole = 0
    for _ in range(2500):
        done = g.pattern_set()
        if not done:
            continue
        source = probe.alternation([p.pattern for p in done], done[0].flags)
        if source is None:
            continue
        combined += 1
        shared_whole += r"\s++(" in source or r"\s*+(" in source
        alternation = re.compile(source, done[0].flags)  # warnings are errors here
        for line in [g.line() for _ in range(40)] + PROBES:
            assert (alternation.match(line) is not None) == any(p.match(line) for p in done), (
                [p.pattern for p in done], done[0].flags, line, source)
    # the sets reach both ways of sharing a run
    assert combined > 1000 and shared_whole > 50


@pytest.mark.parametrize("seed", range(4))
def test_what_takes_non_space_first_never_starts_on_a_blank(seed):
    """Generated patterns the reader says take a non-space character first match
    nowhere a character that \\s takes (under the same flags) starts, whatever
    stands before it."""
    g = Generated(seed)
    claimed = 0
    for _ in range(10000):
        text = g.sequence()
        if not probe.takes_non_space_first(text):
            continue
        flags = g.r.choice([f for f in FLAGS if not f & re.X])
        pattern = valid(text, flags)
        if pattern is None:
            continue
        claimed += 1
        blanks = ASCII_BLANKS if flags & re.A else LINE_BLANKS
        for _ in range(20):
            before = g.line()
            line = before + g.r.choice(blanks) + g.line()
            assert pattern.match(line, len(before)) is None, (text, flags, line, len(before))
    assert claimed > 1000


@pytest.mark.parametrize("text, takes", [
    (r"b(?#c)?\s", False),          # the quantifier after the comment is b's
    (r"b(?#c)(?#d)*", False),
    (r"b(?#c)+", True),
    (r"(\S+)(?#c){0,1}", False),
    (r"\d{1,3}", True),
    (r"\d{0,3}", False),
    (r"\d{,3}", False),
    (r"\d{0}", False),
    (r"a{x}", True),                # no quantifier: a literal '{'
    ("a{}", True),
    ("(?:a|\\s)", False),
    ("(|a)", False),
    ("(?>a|b)c", True),
    ("[!-~]", True),
    ("[ -~]", False),               # the blank is in the range
    ("[!-\xa0]", False),             # and here a no-break space
    ("[^a]", False),
    (r"[\s]", False),
    (r"[\S\d-]", True),
    (r"\W", False),
    (r"\xa0", False),
    ("\xa0", False),
    ("\u2003", False),
    (".", False),
    (r"(?=\S).", False),
    (r"(?=\S)\S", True),
    (r"(?<=\s)\ba", True),
    (r"\Z", False),
    ("(?i:a)", False),              # scoped flags are not read
    ("", False),
])
def test_takes_non_space_first(text, takes):
    assert probe.takes_non_space_first(text) is takes


@pytest.mark.parametrize("texts, flags", [
    ([r"(b)", r"(a)\1"], 0),                    # a backreference would name another group
    ([r"(x)", r"(a)?(?(1)b|c)"], 0),            # so would a conditional
    ([r"a", r"(?i)b"], 0),                      # one pattern's flags would reach the others
    ([r"a", r"(?i:b)"], 0),
    ([r"(?P<n>a)", r"b"], 0),
    ([r"a #x", r"b"], re.X),                    # read otherwise in verbose mode
    ([r"a", r"b"], re.DEBUG),                   # compiling it would print
    ([r"[[a]", r"b"], 0),                       # compiling it would warn again
    ([r"[a--b]", r"b"], 0),
    ([r"[a||b]", r"b"], 0),
    (["a", b"b"], 0),
    ([], 0),                                    # nothing to match
])
def test_sets_a_branch_would_change_get_no_alternation(texts, flags):
    assert probe.alternation(texts, flags) is None


# --- through the stop rule ---------------------------------------------------------------------------

ATOM = st.sampled_from([
    "a", "b", " ", "1", r"\s", r"\S+", r"\d+", ".", ".*", "\r", r"\r", "[a\r]", "(?:a )", "(?#c)", "|",
    "$", r"\Z", "^", r"\A", r"\b", "(?=a)", "(?!b)", "(?<=a)", "(?<!b)", "(?i:a)", "(?i)", "(?>a|b)", "\xa0",
]) | st.sampled_from(["(a|b)", "(b)", r"\1", r"(a)\1", r"(?P<n>b)", r"(?P=n)", r"(a)?(?(1)b|c)", "(?(1)a|b)"])
QUANTIFIER = st.sampled_from(["", "", "", "*", "+", "?", "{2}", "(?#c)?", "{0,1}", "*?", "++"])


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
                             r"\s+a?\s", r"\s+\S*", r"\s+\d+", r"\s*\w", r"\s+b(?#c)?\s(\S+)", r"\s+a(?#c)*\s",
                             r"\s+(\d)(?#c){0,1}\s", r"\s+a{0,2}\s"]
                            ).map(re.compile)
PATTERN = st.builds(compiled, st.lists(st.tuples(ATOM, QUANTIFIER).map("".join), min_size=1, max_size=4),
                    st.sampled_from([0, 0, 0, re.I, re.M, re.A])).filter(lambda p: p is not None) | ENTANGLED
LINE = st.lists(st.sampled_from(["a", "b", "A", " ", "1", "\r", "\n", "c", "\t", "\xa0"]), max_size=6).map("".join)


@settings(max_examples=200, deadline=None, derandomize=True, database=None,
          suppress_health_check=[HealthCheck.function_scoped_fixture, HealthCheck.too_slow])
@given(st.lists(PATTERN, min_size=1, max_size=5), st.lists(LINE, min_size=1, max_size=4))
def test_the_stop_rule_answers_as_each_pattern_in_turn(rule, done, lines):
    assert warmed(rule, done, lines[0]) is one_by_one(done, lines[0])
    for line in lines[1:] + PROBES:
        assert rule(done, line) is one_by_one(done, line), line


@pytest.mark.parametrize("texts, flags, line, stops", [
    ([r"(b)", r"(a)\1"], [0, 0], "aa", True),
    ([r"a", r"b"], [0, re.I], "A", False),      # flags that differ
    ([r"a", r"b"], [re.A, 0], "b", True),
    ([r"(?P<n>a)(?P=n)", r"b"], [0, 0], "aa", True),
])
def test_sets_a_branch_would_change_are_tested_one_by_one(rule, texts, flags, line, stops):
    done = [re.compile(text, f) for text, f in zip(texts, flags)]
    assert warmed(rule, done, line) is (not stops)
    assert not built(done)


def test_a_pattern_that_warns_warns_once(rule, recwarn):
    """Compiling the patterns warned; testing them, with or without an alternation, does not."""
    with pytest.warns(FutureWarning):
        done = [re.compile("[[a]x"), re.compile(r"\s+b"), re.compile(r"\s+c")]
    recwarn.clear()
    assert warmed(rule, done, "ax") is False
    assert not recwarn.list


LINES = ["", "a", " a", "c", "x", "y", "y\r", " ", " \r", "  MTU 1", "  MTU x", "MTU 1", "\tBW 9", " full-duplex",
         " full-duplex\r", " a mode", "A", "b", "\xa0\xa0BW 1", " \t1 x"]


@pytest.mark.parametrize("texts, flags", [
    ([r"\s+MTU (\d+)", r"^\s+(\S+)-duplex$", r"(?<!x)y\Z", r"(?=a)(a|b)(?#c)"], 0),
    ([r"\s+MTU (\d+)", r"^\s+(\S+)-duplex$", r"\s+BW (\d+)", r"^\s+(\S+) mode", r"\s+|x"], 0),
    ([r"\s+MTU (\d+)", r"\s+BW (\d+)", r"\s+$", r"^\s*(a)"], 0),
    ([r"\s+MTU (\d+)", r"\s+BW (\d+)", r"\s+(\d)(?#c)?\s(\S+)"], 0),
    ([r"\s+MTU (\d+)", r"\s+BW (\d+)"], re.A),
    ([r"a", r"b"], re.I | re.M),
])
def test_plain_sets_get_their_alternation(rule, texts, flags):
    done = [re.compile(text, flags) for text in texts]
    warmed(rule, done, "zzz")
    assert built(done)
    answers = [rule(done, line) for line in LINES]
    assert answers == [one_by_one(done, line) for line in LINES]
    assert True in answers and False in answers


# str patterns enough for the first ones to be tested with an alternation, the others one by one
MANY = [re.compile(r"\s+k%d (\S+)" % i) for i in range(20)]


@pytest.mark.parametrize("done", [[re.compile(b"a"), re.compile(b"b")], MANY + [re.compile(b"a")]],
                         ids=["bytes only", "after str patterns"])
def test_bytes_patterns_fail_as_before(rule, done):
    for _ in range(WARM):
        with pytest.raises(TypeError, match="cannot use a bytes pattern on a string-like object"):
            rule(done, "a")
    # a str pattern before it matches first
    if len(done) > 2:
        assert rule(done, " k19 x") is False


# --- long sets: the alternations of their blocks, and the patterns after them ----------------------

def keyed_patterns(seed, size):
    """`size` generated patterns, the i-th starting with "k" and i in two digits
    (no key starts another) after its run of white space, compiled alone with the
    same flags, each of which the reader accepts as a branch (so that their
    prefixes get alternations); and lines starting with such keys, so that the
    first pattern to match one may stand anywhere."""
    g = Generated(seed)
    flags = g.r.choice([0, re.I, re.A, re.M | re.S])
    patterns = []
    while len(patterns) < size:
        text = "%sk%02d(?:%s)" % (g.r.choice(RUNS), len(patterns), g.sequence())
        pattern = valid(text, flags)
        if pattern is not None and probe.alternation([text], flags) is not None:
            patterns.append(pattern)
    lines = [g.line(" \t")[:2] + "k%02d" % g.r.randrange(size) + g.line(" ") for _ in range(150)]
    return patterns, lines + PROBES


@pytest.mark.parametrize("seed", range(3))
def test_long_sets_answer_and_log_as_each_pattern_in_turn(rule, caplog, seed):
    """Every prefix of 40 patterns, warmed so that those of 2 to 16 patterns and
    the blocks of the longer ones have their alternations: the answer and the
    debug log line are those of the pattern-by-pattern test, wherever the first
    pattern that matches stands."""
    done, lines = keyed_patterns(seed, 40)
    caplog.set_level(logging.DEBUG, logger="mirel.textloom.core")
    for size in range(1, len(done) + 1):
        warmed(rule, done[:size], lines[0])
    for size in range(1, len(done) + 1):
        for line in lines:
            caplog.clear()
            answer = rule(done[:size], line)
            assert answer is one_by_one(done[:size], line), (size, line)
            assert caplog.messages == ([] if answer else [HIERARCHY % line])
    # first hits below 16, between 16 and 32, and above
    firsts = {next((i for i, p in enumerate(done) if p.match(line)), len(done)) // 16 for line in lines}
    assert firsts == {0, 1, 2}


def python_rule(self, regex_done, line):
    return one_by_one(regex_done, line)


def test_a_parse_builds_what_its_own_calls_pay_for_a_later_parse_the_rest(core, caplog):
    """Two sets of one section are each tested on fewer lines per parse than it
    takes to build an alternation, so that both get there in the second parse:
    it builds the first set's alone, as its separate match calls pay for no
    more, the third parse the second's; every parse answers and logs as the
    pattern-by-pattern test."""
    [first, second], mark, line, hit = fresh_set()
    core.extend({"IF": first.pattern, "A": second.pattern, "B": r"\s+b%s (\S+)" % mark, "Z": r"\s+never"})
    stop = " a%s again" % mark
    core.text_to_parse["two"] = ("eth0 is %s\n%s\n" % (mark, hit) + (line + "\n") * 150 + " b%s y\n" % mark
                                 + (line + "\n") * 150 + stop + "\n")

    def parse(cls=core._textloom_t):
        caplog.clear()
        obj = cls("ketch", ["IF", "A", "B", "Z"], ["eth0", None, None, None], True, "two")
        return obj._parser_validate(), dict(core.ext_dictio["two"]), caplog.messages

    caplog.set_level(logging.DEBUG, logger="mirel.textloom.core")
    outcome, values, _ = parse(type("python_t", (core._textloom_t,), {"_parser_check_scope": python_rule}))
    assert outcome[0] is False and values == {"IF": "eth0", "A": "x", "B": "y"}
    expected = (outcome, values, [HIERARCHY % stop])
    built = []
    for _ in range(4):
        re.purge()
        assert parse() == expected
        built.append(["b" + mark in text for text in alternations(mark)])
    assert built == [[], [False], [True], []]


NEVER = re.compile(r"\s+never")


def filler(i):
    """65536 patterns, the first its own, the others one: kept, the runs that
    hold the first (one of each length) weigh about an eighth of what the stop
    rule keeps."""
    return [re.compile(r"\s+never%d" % i)] + [NEVER] * 65535


def test_the_sets_used_least_recently_are_let_go_of(rule):
    """Other sets fill what is kept while one set is used between them: the set
    not used is let go of, answers as before, and is built again once tested on
    enough lines; the set used is kept."""
    (used, used_mark, used_line, _), (idle, idle_mark, idle_line, idle_hit) = fresh_set(), fresh_set()
    lines = LINES + [idle_line, idle_hit]
    expected = [one_by_one(idle, each) for each in lines]
    warmed(rule, used, used_line)
    warmed(rule, idle, idle_line)
    assert alternations(idle_mark) and [rule(idle, each) for each in lines] == expected
    for i in range(12):
        assert rule(filler(i), " zz") is True
        assert rule(used, used_line) is True
    assert [rule(idle, each) for each in lines] == expected
    warmed(rule, idle, idle_line)
    assert alternations(idle_mark) and [rule(idle, each) for each in lines] == expected
    warmed(rule, used, used_line)
    assert not alternations(used_mark)


# --- what the stop rule's caches watch ----------------------------------------------------------------

def test_a_list_changed_between_lines_is_read_again(rule):
    done = [re.compile("a"), re.compile("b")]
    assert warmed(rule, done, "c") is True
    done.append(re.compile("c"))
    assert rule(done, "c") is False
    del done[1:]
    assert rule(done, "b") is True and rule(done, "a") is False


def test_a_list_changed_while_its_alternation_is_built(rule):
    """User code run by the build itself (a collection in re's compiler) adds a
    pattern: that very test answers for the list as it stands."""
    done, mark, line, _ = fresh_set()
    added = re.compile(r"\s+zz")
    for _ in range(255):
        assert rule(done, line) is True
    inside_re = []

    def collect(phase, info):
        frame = sys._getframe(1)
        while frame and not frame.f_globals.get("__name__", "").startswith("re."):
            frame = frame.f_back
        if phase == "start" and frame and not inside_re:
            inside_re.append(True)
            done.append(added)

    threshold = gc.get_threshold()
    gc.callbacks.append(collect)
    gc.set_threshold(1)
    try:
        answer = rule(done, line)
    finally:
        gc.set_threshold(*threshold)
        gc.callbacks.remove(collect)
    assert inside_re and alternations(mark)
    assert answer is False
    assert rule(done, line) is False and rule(done[:2], line) is True


def test_a_list_changed_by_the_log_of_its_own_test(core, rule):
    """The pattern-by-pattern test logs a hit; the handler changes the list: the
    next test reads it as it stands."""
    done, mark, line, hit = fresh_set()
    warmed(rule, done, line)
    assert alternations(mark)

    class Meddle(logging.Handler):
        def emit(self, record):
            done[:] = [re.compile("zz")]

    log = logging.getLogger("mirel.textloom.core")
    handler, level = Meddle(), log.level
    log.addHandler(handler)
    log.setLevel(logging.DEBUG)
    try:
        assert rule(done, hit) is False
    finally:
        log.removeHandler(handler)
        log.setLevel(level)
    assert rule(done, hit) is True and rule(done, "zz") is False


# a section whose lines after the first two are all tested against the same two consumed patterns
def long_section(core):
    [first, second], mark, line, hit = fresh_set()
    core.extend({"IF": first.pattern, "A": second.pattern, "Z": r"\s+never"})
    core.text_to_parse["long"] = "eth0 is %s\n%s\n" % (mark, hit) + (line + "\n") * 600

    def parse():
        obj = core._textloom_t("ketch", ["IF", "A", "Z"], [None, None, None], False, "long")
        return obj._parser_validate(), dict(core.ext_dictio["long"])
    return parse, mark


def plain_match(*args, **kwargs):
    return re.match(*args, **kwargs)


def plain_compile(*args, **kwargs):
    return re.compile(*args, **kwargs)


def match_rebound_mid_parse(core):
    calls = []
    get_regex = core._get_regex

    def counting(*args):
        calls.append(True)
        if len(calls) == 100:
            core.match = plain_match
        return get_regex(*args)
    core._get_regex = counting


def compile_rebound_by_the_lookup(core):
    """A key of core's dict that collides with "match": the stop rule's lookup of
    "match", after it read "compile", runs its __eq__, which rebinds compile."""
    armed = []

    class Colliding(str):
        def __hash__(self):
            return hash("match")

        def __eq__(self, other):
            if armed and core.compile is re.compile:
                core.compile = plain_compile
            return False
        __ne__ = str.__ne__

    names = vars(core)
    match = names.pop("match")
    names[Colliding("colliding")] = None
    names["match"] = match
    armed.append(True)
    return Colliding


@pytest.mark.parametrize("change, built_after", [
    ("nothing", True),
    ("match rebound before the parse", False),
    ("match rebound mid-parse", False),
    ("compile rebound by the lookup", False),
])
def test_the_alternation_is_used_while_compile_and_match_are_res(core, change, built_after):
    parse, mark = long_section(core)
    names_before = dict(vars(core))
    colliding = None
    if change == "match rebound before the parse":
        core.match = plain_match
    elif change == "match rebound mid-parse":
        match_rebound_mid_parse(core)
    elif change == "compile rebound by the lookup":
        colliding = compile_rebound_by_the_lookup(core)
    try:
        answer = parse()
    finally:
        for key in [k for k in vars(core) if type(k) is colliding]:
            del vars(core)[key]
    assert bool(alternations(mark)) is built_after
    assert answer == ((True, {"IF": True, "A": True, "Z": True}, ""), {"IF": "eth0", "A": "x"})
    # once compile and match are re's again, the same parse builds it
    vars(core).update(names_before)
    assert parse() == answer and alternations(mark)


# --- whole parses ------------------------------------------------------------------------------------

FOUR_LINES = "eth0 is up\n a 1\n b 2\n %sX"


@pytest.mark.parametrize("b_regex, blank", [
    (r"\s+b(?#c)?\s(\S+)", "\t"),          # the quantifier after a comment makes b optional
    (r"\s+b(?#c)(?#d)*\s(\S+)", "\t"),
    (r"\s+b(?#c){0,1}\s(\S+)", " "),
    (r"\s+b?\s(\S+)", "\xa0"),
    (r"\s+[b]{0,2}\s(\S+)", "\u2003"),
])
def test_the_answer_does_not_depend_on_earlier_parses(core, b_regex, blank):
    """Line 3 is matched by the consumed pattern of B, so the section ends before
    C is found: the same answer on every parse, before and after the consumed
    patterns are tested as one."""
    core.extend({"IF": r"(\S+) is up", "A": r"\s+a (\S+)", "B": b_regex, "C": r"\s+(X)"})
    core.text_to_parse["k"] = FOUR_LINES % blank

    def parse():
        obj = core._textloom_t("ketch", ["IF", "A", "B", "C"], [None] * 4, False, "k")
        return obj._parser_validate(), dict(core.ext_dictio["k"])
    answers = [parse() for _ in range(WARM)]
    assert answers == [((False, {"IF": True, "A": True, "B": True, "C": True}, ""),
                        {"IF": "eth0", "A": "1", "B": "2"})] * WARM


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
