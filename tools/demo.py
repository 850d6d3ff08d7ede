"""Demonstration of textloom on the sample output bundled in samples/."""
import json
import os
import pprint
import re

import mirel.textloom.core as core

SAMPLES = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "samples")


def sample(name):
    with open(os.path.join(SAMPLES, name), encoding="utf-8") as f:
        return f.read()


def heading(text):
    print()
    print("=" * 72)
    print(text)
    print("=" * 72)


def registry():
    heading("Registry: extend() with samples/registry.json")
    registration = json.loads(sample("registry.json"))
    core.extend(registration["regex"], registration["show_cmds"], registration["regex_tags"])
    print("tags for brume:", core._glb_regex_tags["brume"])
    print("regex of intf.mtu on brume:", core._get_regex("brume", "intf.mtu"))
    print("generic regex found from any OS:", core._get_regex("pellam", "show.clock"))

    heading("Show commands: _get_show_command()")
    for os_name, arg in [
        ("brume", ("SHOW_INTF", [], {"ifname": "mgmt0"})),
        ("brume", ("SHOW_IP_INTF", [None, "mgmt0"])),
        ("pellam", ("SHOW_IP_INTF", [None, "mgmt0"])),
        ("pellam", ("SHOW_IP_INTF", ["ipv6", "mgmt0"])),
        ("ketch", "SHOW_ARP"),
        ("ketch", ("show interface {} brief", "eth1")),
    ]:
        print("%-7s %-45r -> %r" % (os_name, arg, core._get_show_command(os_name, arg)))

    heading("The registered regexes on samples/interface.txt (re.match per line)")
    values = {}
    for line in sample("interface.txt").splitlines():
        for tag in core._glb_regex_tags["brume"]:
            regex = core._get_regex("brume", tag)
            for alternative in regex if isinstance(regex, list) else [regex]:
                m = re.match(alternative, line)
                if m and tag not in values:
                    values[tag] = m.group(1)
    pprint.pprint(values)


def markup():
    heading("Markup: samples/interface.markup compiled into a registration text")
    text = sample("interface.markup")
    compiler = core._mk_textloom_t()
    compiler.process_marked_up_input(iter(text.splitlines()))
    registration = compiler.generate_output(generate_regex_tags=True)
    lines = registration.splitlines()
    print("\n".join(lines[:12] + ["    ... (%d lines in all)" % len(lines)] + lines[-3:]))

    heading("Markup: extend_markup() registers it; each regex on its raw line")
    core.extend_markup(text)
    print("command:", core._glb_show_commands["brume"]["show_interface_<WORD>"])
    raw = sample("interface.txt").splitlines()
    for tag in core._glb_regex_tags["brume"]:
        if not tag.startswith("show.intf."):
            continue
        regex = core._glb_regex["brume"][tag]
        value = next(m.group(1) for m in (re.match(regex, line) for line in raw) if m)
        print("%-32s %-14r %s" % (tag, value, regex))


if __name__ == "__main__":
    registry()
    markup()
