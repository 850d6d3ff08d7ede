"""oper_fill_tabular: device or given output, index check, text acquisition and
normalisation, and the call of core's tabular parser."""
import logging

import pytest

from ryn import testbed

ARP = ("Address         Age       MAC Address     Interface\r\n"
       "10.0.0.1        0:01:02   0050.56aa.0001  mgmt0\r\n"
       "10.0.0.2        0:03:04   0050.56aa.0002  mgmt0\r\n")


class Recorder:
    """Stands in for core.column_table_result_core_t to see what the
    constructor hands on; it is looked up in core at each construction."""
    calls = []

    def __init__(self, *args):
        import mirel.textloom.core as core
        Recorder.calls.append((args, core.text_to_parse[args[8]]))
        self.entries = {"parsed": True}


@pytest.fixture
def recorder(core, monkeypatch):
    Recorder.calls = []
    monkeypatch.setattr(core, "column_table_result_core_t", Recorder)
    return Recorder


@pytest.fixture
def device():
    dev = testbed.Device("R1", os="brume", handle=False, outputs={"show arp": ARP, "show clock": "10:00\n"})
    dev.connect()
    return dev


def history(dev):
    return dev.connectionmgr.connections["default"].history


def test_given_output_is_normalised_and_handed_on(tl, core, recorder):
    table = tl.oper_fill_tabular(device_output=ARP, header_fields=["Address", "Age"], index=[0, 2],
                                 table_terminal_pattern="^$", skip_header=1, table_title_pattern="t",
                                 right_justified=True, label_fields=["a", "b"], skip_line="x", delimiter="|")
    normal = ARP.replace("\r\n", "\n") + "\n"
    assert recorder.calls == [((["Address", "Age"], "^$", [0, 2], 1, "t", True, ["a", "b"], "x", "device_name", "|"),
                               normal)]
    assert core.text_to_parse["device_name"] == normal
    assert table.entries == {"parsed": True}
    assert list(vars(table)) == ["entries", "_refresh_cache", "_refresh_cache_init", "_show_command", "_device",
                                 "_device_conn_alias", "_device_os", "index"]
    assert (table._device.name, table._device_conn_alias, table._device_os, table._refresh_cache) == \
        ("device_name", "any", None, True)


@pytest.mark.parametrize("text, stored", [
    ("a\r\nb", "a\nb\n"),
    ("a\rb\n", "a\rb\n\n"),          # a lone carriage return stays; a final line feed gets another
    ("a\r\r\n", "a\r\n\n"),
    ("\xe9\r\n\u65e5\u672c\r", "\xe9\n\u65e5\u672c\r\n"),   # wider characters
    ("\U0001f600\r\nx\r\n\r\n", "\U0001f600\nx\n\n\n"),
    (type("Text", (str,), {})("a\r\nb"), "a\nb\n"),          # a str subclass
])
def test_line_ends(tl, core, recorder, text, stored):
    tl.oper_fill_tabular(device_output=text, header_fields=["a"])
    assert core.text_to_parse["device_name"] == stored


@pytest.mark.parametrize("index, stored", [(0, [0]), (3, [3]), (True, [True]), ([0, 3], [0, 3])])
def test_index_values(tl, recorder, index, stored):
    table = tl.oper_fill_tabular(device_output=ARP, header_fields=["a"], index=index)
    assert table.index == stored and type(table.index[0]) is type(stored[0])
    assert recorder.calls[0][0][2] is index   # handed on as given
    if isinstance(index, list):
        assert table.index is index


@pytest.mark.parametrize("index, text", [
    ((0, 3), "(0, 3) is not an int or list of ints"),
    (None, "None is not an int or list of ints"),
    ("0", "0 is not an int or list of ints"),
])
def test_bad_index_fails_before_any_command(tl, recorder, device, index, text):
    with pytest.raises(ValueError) as info:
        tl.oper_fill_tabular(device, "show arp", header_fields=["a"], index=index)
    assert str(info.value) == text
    assert history(device) == [] and recorder.calls == []


@pytest.mark.parametrize("device, output", [(None, None), (None, ""), (0, "")])
def test_neither_device_nor_output(tl, core, recorder, device, output):
    obj = tl.oper_fill_tabular.__new__(tl.oper_fill_tabular)
    with pytest.raises(AttributeError) as info:
        obj.__init__(device, "show arp", device_output=output)
    assert str(info.value) == ("Neither 'device' nor 'device_output' (device output might be empty) has been "
                               "passed when calling '%s'" % obj)
    assert list(vars(obj)) == ["entries", "_refresh_cache", "_refresh_cache_init", "_show_command"]
    assert "device_name" not in core.text_to_parse


def test_refresh_runs_every_construction(tl, core, recorder, device):
    for _ in range(2):
        table = tl.oper_fill_tabular(device, "show arp", header_fields=["a"], is_run_command=True)
    assert history(device) == ["show arp", "show arp"]
    assert (table._device, table._device_os, table._device_conn_alias) == (device, "brume", None)
    assert core.text_to_parse["R1"] == ARP.replace("\r\n", "\n") + "\n"
    assert tl.showCmdCache.cache["R1"] is ARP      # the cache keeps the output as the device gave it
    assert recorder.calls[-1][0][8] == "R1"


def test_cached_output_is_used_whatever_its_command(tl, core, recorder, device, caplog):
    caplog.set_level(logging.WARNING, logger="mirel.textloom._textloom")
    tl.oper_fill_tabular(device, "show clock", refresh_cache=False, header_fields=["a"])
    assert [r.getMessage() for r in caplog.records] == \
        ["refresh_cache = False but no output found for R1 => collect output"]
    tl.oper_fill_tabular(device, "show arp", refresh_cache=False, header_fields=["a"])
    assert history(device) == ["show clock"]
    assert core.text_to_parse["R1"] == "10:00\n\n"


def test_device_with_output_runs_nothing(tl, core, recorder, device):
    tl.oper_fill_tabular(device, "show arp", device_output="x\r\n", header_fields=["a"], device_os="ketch")
    assert history(device) == [] and core.text_to_parse["R1"] == "x\n\n"
    tl.oper_fill_tabular(device, "show arp", device_output="", header_fields=["a"])
    assert history(device) == ["show arp"]


def test_each_normalising_step_stores_through_the_table(tl, core, recorder, monkeypatch):
    class Marking(dict):
        # what is stored is seen by the next step, as Python's own statements would see it
        def __setitem__(self, key, value):
            dict.__setitem__(self, key, value + "!")
    monkeypatch.setattr(core, "text_to_parse", Marking())
    tl.oper_fill_tabular(device_output="a\r\nb", header_fields=["a"])
    assert core.text_to_parse["device_name"] == "a\nb!!\n!"


@pytest.mark.parametrize("read", ["name", "_device"])
def test_normalising_steps_are_two_where_reads_run_user_code(tl, core, recorder, read):
    # what a device's name property, or the operation's own _device property,
    # sees of the stored text at each read: the line feed comes in a step of its own
    seen = []

    class Named:
        os = "brume"

        def is_connected(self, alias=None):
            return True

        @property
        def name(self):
            if read == "name":
                seen.append(core.text_to_parse.get("R7"))
            return "R7"

    class Watching(tl.oper_fill_tabular):
        @property
        def _device(self):
            if read == "_device":
                seen.append(core.text_to_parse.get("R7"))
            return self.__dict__["_device"]

        @_device.setter
        def _device(self, device):
            self.__dict__["_device"] = device
    Watching(Named(), device_output="a\r\nb", header_fields=["a"])
    assert "a\nb" in seen and seen[-1] == "a\nb\n"
    assert core.text_to_parse["R7"] == "a\nb\n"


def test_alias_connection(tl, core, recorder, device):
    device.connect("myuut")
    table = tl.oper_fill_tabular(device, "show arp", header_fields=["a"], device_conn_alias="myuut")
    assert device.connectionmgr.connections["myuut"].history == ["show arp"] and history(device) == []
    assert table._device_conn_alias == "myuut"


def test_output_that_is_not_text(tl, recorder):
    class Silent:
        name, os = "R5", "brume"

        def is_connected(self, alias=None):
            return True

        def execute(self, command):
            return None
    with pytest.raises(AttributeError, match="replace"):
        tl.oper_fill_tabular(Silent(), "show arp", header_fields=["a"])
    assert tl.showCmdCache.cache["R5"] is None



def test_all_sixteen_by_position(tl, recorder):
    table = tl.oper_fill_tabular(None, "cmd", False, ["a"], "end", [1], 2, "title", True, ["A"], True, "skip",
                                 "alias", "x\r\n", "ketch", ";")
    assert recorder.calls[0][0] == (["a"], "end", [1], 2, "title", True, ["A"], "skip", "device_name", ";")
    assert (table._show_command, table._refresh_cache, table._device_os, table._device_conn_alias) == \
        ("cmd", False, "ketch", "any")


def test_subclass_with_fixed_settings(tl, recorder, device):
    class arp_table(tl.oper_fill_tabular):
        def __init__(self, device):
            super().__init__(device, "show arp", header_fields=["Address", "Age"], index=[0],
                             table_terminal_pattern="^$")
    table = arp_table(device)
    assert isinstance(table, tl.oper_fill_tabular) and history(device) == ["show arp"]
    assert recorder.calls[0][0][:3] == (["Address", "Age"], "^$", [0])


# End to end, on core's real parser.

def test_crlf_output_parses_as_lf_output(tl):
    crlf = tl.oper_fill_tabular(device_output=ARP, header_fields=["Address", "Age", "MAC Address", "Interface"])
    lf = tl.oper_fill_tabular(device_output=ARP.replace("\r\n", "\n"),
                              header_fields=["Address", "Age", "MAC Address", "Interface"])
    assert crlf.entries == lf.entries
    assert crlf.entries["10.0.0.2"] == {"Address": "10.0.0.2", "Age": "0:03:04", "MAC Address": "0050.56aa.0002",
                                        "Interface": "mgmt0"}


def test_two_index_columns_on_a_device(tl, device):
    table = tl.oper_fill_tabular(device, "show arp", header_fields=["Address", "Age", "MAC Address", "Interface"],
                                 index=[3, 0])
    assert list(table.entries) == ["mgmt0"]
    assert sorted(table.entries["mgmt0"]) == ["10.0.0.1", "10.0.0.2"]
    assert table.entries["mgmt0"]["10.0.0.1"]["MAC Address"] == "0050.56aa.0001"
    assert history(device) == ["show arp"]


def test_subclass_converts_and_cleans_fields(tl, device):
    class arp_table(tl.oper_fill_tabular):
        field_mapping = {"Age": [lambda age, unit: (age.count(":"), unit), "colons"]}

        def __init__(self, device):
            super().__init__(device, "show arp", header_fields=["Address", "Age", "MAC Address", "Interface"])

        def cleanup_entry_field(self, header, field):
            return field.upper() if header == "MAC Address" else field

    table = arp_table(device)
    assert table.entries["10.0.0.1"] == {"Address": "10.0.0.1", "Age": (2, "colons"),
                                         "MAC Address": "0050.56AA.0001", "Interface": "mgmt0"}
