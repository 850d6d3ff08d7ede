"""Demonstration of textloom on the sample output bundled in samples/."""
import json
import os
import pprint
import re
import subprocess
import sys

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


def parsers():
    heading("Non-tabular parser: fill, then a failing check, on samples/interface.txt")
    core.text_to_parse["demo"] = sample("interface.txt")
    tags = ["intf.if_name", "intf.ip_address", "intf.mtu"]
    parser = core._textloom_t("brume", tags, ["mgmt0", None, None], fill=True, parse_key="demo")
    print("fill :", parser._parser_validate()[0], core.ext_dictio["demo"])
    parser = core._textloom_t("brume", tags, ["mgmt0", ("10.10.10.5", "10.10.10.6"), "9000"], parse_key="demo")
    print("check:", parser._parser_validate())

    heading("Tabular parser: samples/vrf_arp_tables.txt, one table per VRF")
    core.text_to_parse[""] = sample("vrf_arp_tables.txt")
    table = core.column_table_result_core_t(["Address", "Age", "MAC Address", "Interface"],
                                            table_terminal_pattern="^Total entries",
                                            table_title_pattern=r"^VRF: (\S+)", index=0)
    pprint.pprint({vrf: sorted(rows) for vrf, rows in table.entries.items()})
    print("red 10.1.1.1:", table.entries["red"]["10.1.1.1"])

    heading("Tabular parser: samples/port_table.txt, drawn with '|'")
    core.text_to_parse[""] = sample("port_table.txt")
    table = core.column_table_result_core_t(["Port", "Admin", "Oper", "Description"], delimiter="|")
    pprint.pprint(table.entries)


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


def device_operations():
    from mirel.textloom import ext_dictio, extend_markup, oper_check, oper_fill, oper_fill_tabular
    from ryn import testbed

    if "show.intf.mtu" not in core._glb_regex_tags.get("brume", []):
        extend_markup(sample("interface.markup"))
    text = sample("interface.txt")

    heading("Device operations: oper_fill on samples/interface.txt (given as text)")
    pairs = [("show.intf.if_name", "mgmt0")]
    fill = oper_fill(attrvalpairs=pairs, regex_tag_fill_pattern=r"show\.intf\.(mtu|ip_address|admin_state)$",
                     device_output=text, device_os="brume")
    print("pairs after the fill pattern:", pairs)
    print("parse():", fill.parse())
    pprint.pprint(ext_dictio["device_name"])

    heading("oper_check: a passing check, then one that fails on purpose, with its diagnosis")
    passing = oper_check(attrvalpairs=[("show.intf.if_name", "mgmt0"), ("show.intf.mtu", "1500")],
                         device_output=text, device_os="brume")
    print("parse():", passing.parse())
    print(passing)
    failing = oper_check(attrvalpairs=[("show.intf.if_name", "mgmt0"), ("show.intf.mtu", "9000"),
                                       ("show.intf.admin_state", ("up", "testing"))],
                         device_output=text, device_os="brume")
    print("parse():", failing.parse(), "(expected: the MTU is 1500, not 9000)")
    print(failing)

    heading("oper_fill on a device: the command is rendered, run once and cached")
    device = testbed.Device("R1", os="brume", handle=False, outputs={"show interface mgmt0": text})
    device.connect()
    command = ("show_interface_<WORD>", [], {"ifname": "mgmt0"})
    print("Expected next: the warning \"refresh_cache = False but no output found for R1 => collect output\":\n"
          "nothing is cached for R1 yet, so the first fill runs the command; the second parses the cached output.")
    sys.stdout.flush()  # the warning goes to stderr: keep this note before it
    for _ in range(2):
        on_device = oper_fill(device, command, [("show.intf.if_name", "mgmt0"), ("show.intf.mtu", None)])
        print("parse():", on_device.parse(), ext_dictio["R1"])
    print("commands run:", device.connectionmgr.connections["default"].history)

    heading("oper_fill_tabular on samples/arp.txt, indexed by interface, then address")
    table = oper_fill_tabular(device_output=sample("arp.txt"), index=[3, 0],
                              header_fields=["Address", "Age", "MAC Address", "Interface"])
    pprint.pprint(table.entries)


EXAMPLES = "mirel.textloom.examples.textloom."


def examples():
    # each example does its work at import, so each runs in a fresh interpreter
    sketchpad_registry = (
        "import mirel.textloom.core as core\n"
        "print('commands for brume:', core._glb_show_commands['brume'])\n"
        "tags = core._glb_regex_tags['brume']\n"
        "print(len(tags), 'tags for brume:', tags[0], '...', tags[-1])\n"
        "print('regex of show.intf.mtu:', core._glb_regex['brume']['show.intf.mtu'])\n")
    for module, afterwards in [
        ("orVexStandaloneUt.specimen", ""),
        ("orVexStandaloneUt.phrasebook", ""),
        ("demo.sketchpad", sketchpad_registry),
    ]:
        heading("Example: import " + EXAMPLES + module + (" (prints nothing; the registry after it)"
                                                          if afterwards else ""))
        run = subprocess.run([sys.executable, "-c", "import " + EXAMPLES + module + "\n" + afterwards],
                             capture_output=True, text=True)
        print(run.stdout, end="")
        if run.returncode:
            print(run.stderr, end="")


# A launcher's view of a job: a fresh interpreter whose registry holds only
# what the job's script registers, the testbed configured, then main().
LAUNCH_JOB = """
import logging, sys
from ryn import testbed
from mirel.textloom.examples.textloom.orVex import {job}
logging.basicConfig(stream=sys.stdout, level=logging.INFO, format="%(levelname)s %(name)s: %(message)s")
testbed.configure(sys.argv[1])
{job}.main()
"""


def jobs():
    for job, testbed_file, kind in [("errand", "vm2.json", "VM-2, pellam"), ("courier", "vm4.json", "VM-4, brume")]:
        heading("Job %s: rehearsal on the stand-in testbed samples/testbeds/%s (%s);\n"
                "the script's log, then the harness's report. Expected: the second oper_check\n"
                "(an empty interface name) fails on purpose and logs its diagnosis as ERROR."
                % (job, testbed_file, kind))
        sys.stdout.flush()
        subprocess.run([sys.executable, "-c", LAUNCH_JOB.format(job=job),
                        os.path.join(SAMPLES, "testbeds", testbed_file)], check=True)


if __name__ == "__main__":
    registry()
    parsers()
    markup()
    device_operations()
    examples()
    jobs()
