"""get_os_type: the device's os, the Tcl query on a handle, older device objects."""
import pytest

from ryn import testbed

NO_OS = "'R1' doesn't have 'os'"


class Dev:
    """A device of the current form: is_connected takes the keyword alias."""

    def __init__(self, connected=True, **attributes):
        self.asked = []
        self.connected = connected
        vars(self).update(attributes)

    def is_connected(self, alias=None):
        self.asked.append(alias)
        return self.connected

    def __str__(self):
        return "R1"


class Conn:
    def __init__(self, **attributes):
        vars(self).update(attributes)


class FakeTcl:
    def __init__(self, answer="BRUME"):
        self.answer = answer
        self.queries = []

    def eval(self, text):
        self.queries.append(text)
        if isinstance(self.answer, BaseException):
            raise self.answer
        return self.answer


@pytest.fixture
def tcl(tl, monkeypatch):
    fake = FakeTcl()
    monkeypatch.setattr(tl, "tcl", fake)
    return fake


@pytest.mark.parametrize("device, expected, queries", [
    (Dev(os="BRUME"), "BRUME", []),                        # unchanged, unchecked
    (Dev(os=None), None, []),
    (Dev(connected=False, os="brume"), "unknown", []),     # not connected wins over os
    (Dev(connected=0, handle="h1"), "unknown", []),
    (Dev(handle="h1"), "brume", ["h1 get_os_type"]),       # the Tcl answer, lower-cased
    (Dev(os="x", handle="h1"), "x", []),
    (Dev(), "unknown", []),                                # neither os nor handle
])
def test_sources(tl, tcl, device, expected, queries):
    assert tl.get_os_type(device) == expected
    assert device.asked == [None]
    assert tcl.queries == queries


def test_reads_that_fail_count_as_absence(tl, tcl):
    class Flaky(Dev):
        @property
        def os(self):
            raise RuntimeError("no os today")

        @property
        def handle(self):
            raise KeyError("no handle")
    assert tl.get_os_type(Flaky()) == "unknown"


@pytest.mark.parametrize("answer", [
    NameError("tcl"),            # stands for the framework failing to import
    RuntimeError("bridge down"),
    KeyboardInterrupt(),         # whatever class: interrupts too
    5,                           # an answer without lower()
])
def test_failed_query_raises_exception_itself(tl, tcl, answer):
    tcl.answer = answer
    with pytest.raises(Exception) as info:
        tl.get_os_type(Dev(handle="h1"))
    assert type(info.value) is Exception
    assert str(info.value) == NO_OS
    # the cause stays visible to whoever reads the traceback
    cause = info.value.__context__
    assert isinstance(cause, AttributeError if answer == 5 else type(answer))


def test_query_without_the_framework(tl, monkeypatch):
    monkeypatch.delattr(tl, "tcl")
    with pytest.raises(Exception) as info:
        tl.get_os_type(Dev(handle="h1"))
    assert type(info.value) is Exception and str(info.value) == NO_OS
    assert isinstance(info.value.__context__, NameError)


def test_alias_reads_os_from_device_and_handle_from_connection(tl, tcl):
    device = Dev(handle="device-handle", myuut=Conn(handle="conn-handle", os="conn-os"))
    assert tl.get_os_type(device, "myuut") == "brume"
    assert tcl.queries == ["conn-handle get_os_type"]
    assert device.asked == ["myuut"]
    device.os = "device-os"
    assert tl.get_os_type(device=device, alias="myuut") == "device-os"


def test_connection_without_handle(tl, tcl):
    assert tl.get_os_type(Dev(handle="h1", c=Conn()), "c") == "unknown"


def test_dotted_alias_walks_from_the_device(tl, tcl):
    device = Dev(mgr=Conn(vty=Conn(handle="h9")))
    assert tl.get_os_type(device, "mgr.vty") == "brume"
    assert tcl.queries == ["h9 get_os_type"]


@pytest.mark.parametrize("alias", ["", None, 0])
def test_false_alias_means_the_device(tl, tcl, alias):
    device = Dev(handle="h1")
    assert tl.get_os_type(device, alias) == "brume"
    assert device.asked == [alias]


@pytest.mark.parametrize("alias, error, text", [
    ("nowhere", AttributeError, "'Dev' object has no attribute 'nowhere'"),
    ("mgr.nowhere", AttributeError, "'Conn' object has no attribute 'nowhere'"),
    ("bad alias", ValueError, "connection alias 'bad alias' is not a name or names joined by dots"),
    ("a..b", ValueError, "connection alias 'a..b' is not a name or names joined by dots"),
    ("x()", ValueError, "connection alias 'x()' is not a name or names joined by dots"),
    (["mgr"], ValueError, "connection alias ['mgr'] is not a name or names joined by dots"),
])
def test_bad_alias_fails_before_is_connected(tl, tcl, alias, error, text):
    device = Dev(mgr=Conn())
    with pytest.raises(error) as info:
        tl.get_os_type(device, alias)
    assert str(info.value) == text
    assert device.asked == []


class Old:
    """An older device object: is_connected is a plain attribute, the name may be a hostname."""

    def __init__(self, **attributes):
        vars(self).update(attributes)

    def __str__(self):
        return "R1"


@pytest.mark.parametrize("device, expected", [
    (Old(is_connected=True, hostname="r1"), "unknown"),
    (Old(is_connected=True, hostname="r1", os="morrow"), "morrow"),
    (Old(is_connected=False, hostname="r1", os="morrow"), "unknown"),
    (Old(is_connected=1, hostname="r1", handle="h1"), "brume"),
])
def test_older_devices_take_their_name_from_hostname(tl, tcl, device, expected):
    assert tl.get_os_type(device) == expected
    assert device.name == "r1"


def test_older_device_keeps_its_name(tl, tcl):
    device = Old(is_connected=True, hostname="r1", name="R1")
    tl.get_os_type(device)
    assert device.name == "R1"


def test_method_without_alias_counts_as_true(tl, tcl):
    class Legacy(Old):
        def is_connected(self):
            raise AssertionError("never called without alias")
    device = Legacy(name="R1", os="gorse")
    assert tl.get_os_type(device) == "gorse"


def test_type_error_of_a_connected_answer_takes_the_older_path(tl, tcl):
    class Answer:
        def __bool__(self):
            raise TypeError("no truth")
    device = Dev(hostname="r1", os="wend")
    device.is_connected = lambda alias=None: Answer()
    # the plain attribute is the bound lambda: true
    assert tl.get_os_type(device) == "wend"
    assert device.name == "r1"


@pytest.mark.parametrize("device, error", [
    (Conn(os="x"), AttributeError),                       # no is_connected at all
    (Old(is_connected=True), AttributeError),             # neither name nor hostname
])
def test_errors_that_leave(tl, tcl, device, error):
    with pytest.raises(error):
        tl.get_os_type(device)


def test_exceptions_of_is_connected_propagate(tl, tcl):
    class Failing(Dev):
        def is_connected(self, alias=None):
            raise ValueError("link down")
    with pytest.raises(ValueError, match="^link down$"):
        tl.get_os_type(Failing(os="x"))


def test_older_path_errors_show_the_type_error_as_context(tl, tcl):
    with pytest.raises(AttributeError) as info:
        tl.get_os_type(Old(is_connected=True))
    assert isinstance(info.value.__context__, TypeError)


def test_older_device_whose_query_fails_chains_both_errors(tl, tcl):
    # as the except clauses of Python code chain them: the query's failure
    # while the TypeError is handled, then the Exception while the failure is
    tcl.answer = RuntimeError("bridge down")
    with pytest.raises(Exception) as info:
        tl.get_os_type(Old(is_connected=True, name="R1", handle="h1"))
    assert type(info.value) is Exception and str(info.value) == NO_OS
    failure = info.value.__context__
    assert isinstance(failure, RuntimeError) and str(failure) == "bridge down"
    assert isinstance(failure.__context__, TypeError)
    assert failure.__context__.__context__ is None


def test_framework_device_through_the_tcl_bridge(tl):
    device = testbed.Device("R1", tcl_os="BRUME")
    assert tl.get_os_type(device) == "unknown"        # not connected yet
    device.connect()
    assert tl.get_os_type(device) == "brume"
    device.connect("myuut")
    assert tl.get_os_type(device, "myuut") == "brume"
    assert tl.get_os_type(testbed.Device("R2", os="BRUME").connect().device) == "BRUME"
