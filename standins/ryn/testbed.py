"""Testbeds of fake devices that answer commands from canned outputs.

A testbed is described by a dict, or a JSON file holding one::

    {"name": "lab",
     "devices": {
         "R1": {"os": "brume",
                "outputs": {"show clock": "10:00:00 UTC\\n",
                            "show interface mgmt0": {"file": "interface.txt"},
                            "show bogus": null}}}}

Per device: ``os`` (optional; the device's ``os`` attribute), ``tcl_os``
(optional; what its Tcl handle answers to ``get_os_type``, by default ``os``),
``handle`` (optional, default true: give connections a Tcl handle when the Tcl
bridge can be loaded) and ``outputs``: command text to output text, to
``{"file": path}`` (a path relative to the description file, or to
``base_dir``) or to null (the command answers None).  A command that is not
listed answers the empty text.
"""

import json
import os
import pathlib

_DEVICE_KEYS = {"os", "tcl_os", "handle", "outputs"}
_configured = None


class Testbed:
    def __init__(self, name="testbed", devices=None):
        self.name = name
        self.devices = dict(devices or {})

    def __repr__(self):
        return "Testbed(%r, devices=%r)" % (self.name, sorted(self.devices))


class ConnectionManager:
    """Connections of one device, reachable as attributes named by alias."""

    def __init__(self):
        self.connections = {}

    def __getattr__(self, alias):
        try:
            return self.__dict__["connections"][alias]
        except KeyError:
            raise AttributeError("no connection %r" % alias) from None


class Connection:
    def __init__(self, device, alias):
        self.device = device
        self.alias = alias
        # commands sent, oldest first, so that callers can see which connection ran what
        self.history = []
        if device.wants_handle:
            tcl = _tcl_bridge()
            if tcl is not None:
                self.handle = tcl.create_handle(self.execute, device.tcl_os)

    def execute(self, command):
        self.history.append(command)
        return self.device.outputs.get(command, "")

    def __repr__(self):
        return "Connection(%s, %r)" % (self.device.name, self.alias)


class Device:
    def __init__(self, name, outputs=None, os=None, tcl_os=None, handle=True):
        self.name = name
        if os is not None:
            self.os = os
        self.tcl_os = os if tcl_os is None else tcl_os
        self.wants_handle = handle
        self.outputs = dict(outputs or {})
        self.connectionmgr = ConnectionManager()

    def connect(self, alias="default"):
        """Open the connection ``alias`` (once; later calls return it) and make
        it reachable as ``self.<alias>`` and ``self.connectionmgr.<alias>``."""
        alias = alias or "default"
        connections = self.connectionmgr.connections
        if alias in connections:
            return connections[alias]
        if not alias.isidentifier() or alias in dir(self):
            raise ValueError("%s: %r cannot name a connection" % (self.name, alias))
        connection = connections[alias] = Connection(self, alias)
        setattr(self, alias, connection)
        return connection

    def is_connected(self, alias=None):
        return (alias or "default") in self.connectionmgr.connections

    # Reading these before the default connection exists fails as a missing
    # attribute, so attribute tests tell whether the device can run commands.
    @property
    def execute(self):
        return self._default().execute

    @property
    def handle(self):
        return self._default().handle

    def _default(self):
        try:
            return self.connectionmgr.connections["default"]
        except KeyError:
            raise AttributeError("%s is not connected" % self.name) from None

    def __str__(self):
        return self.name

    def __repr__(self):
        return "Device(%r)" % self.name


def load(source, base_dir=None):
    """A Testbed from a Testbed (returned as it is), a description dict, or
    the path of a JSON file holding one."""
    if isinstance(source, Testbed):
        return source
    if isinstance(source, dict):
        description = source
        base = pathlib.Path(base_dir or ".")
    else:
        path = pathlib.Path(source)
        with open(path, encoding="utf-8") as stream:
            description = json.load(stream)
        base = path.parent if base_dir is None else pathlib.Path(base_dir)
    devices = {name: _device(name, entry, base)
               for name, entry in description.get("devices", {}).items()}
    return Testbed(description.get("name", "testbed"), devices)


def _device(name, entry, base):
    unknown = set(entry) - _DEVICE_KEYS
    if unknown:
        raise ValueError("device %s: unknown keys %s" % (name, sorted(unknown)))
    outputs = {command: _output(value, base)
               for command, value in entry.get("outputs", {}).items()}
    return Device(name, outputs, os=entry.get("os"), tcl_os=entry.get("tcl_os"),
                  handle=entry.get("handle", True))


def _output(value, base):
    if isinstance(value, dict):
        # newline="" keeps the line ends exactly as the device printed them
        with open(base / value["file"], encoding="utf-8", newline="") as stream:
            return stream.read()
    return value


def configure(source):
    """Set the testbed that runs without a ``testbed`` keyword use (a path, a
    description dict or a Testbed); None clears it."""
    global _configured
    _configured = None if source is None else load(source)


def configured():
    """The configured testbed, else the one named by $RYN_TESTBED, else None."""
    if _configured is not None:
        return _configured
    path = os.environ.get("RYN_TESTBED")
    return load(path) if path else None


def _tcl_bridge():
    try:
        from ryn import tcl
    except Exception:
        return None
    return tcl
