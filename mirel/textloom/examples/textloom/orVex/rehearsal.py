"""Demonstration test script for the framework's harness (ryn.vettle).

Its common setup connects the device uut_name of the testbed and runs "show
clock". Its testcase fills every registered show.intf value of the interface
if_name with oper_fill and compares them with the parse of the Tcl package
vorq, checks four values with oper_check (the second time with an empty
interface name, which fails on purpose and logs its diagnosis as an error),
and parses the ARP table with oper_fill_tabular. Everything goes to its log.

Script parameters: testbed, uut_name, stdby_name (not used), if_name, mtu,
show_arp_header_fields, show_arp_table_title_pattern and
show_arp_table_parse_index. The jobs errand and courier run it with the values
of one device; it also runs as the main program, the parameters given on the
command line (values that read as JSON are taken as such), as in

    python rehearsal.py --testbed samples/testbeds/vm4.json --uut_name VM-4
        --stdby_name none --if_name mgmt0 --mtu 1500
        --show_arp_header_fields '["Address", "Age", "MAC Address", "Interface"]'
        --show_arp_table_title_pattern null --show_arp_table_parse_index '[0, 3]'

(one line). Importing it registers the commands and tags of rehearsal_mktl and
runs no section.
"""
# This file is the script's frame; the section bodies are C++ (_orvex_sections),
# shared with understudy, and each gets this module's globals and the connection
# alias (None: the default connection).
try:
    from ryn import tcl
    from ryn.tcl import KeyedList
except Exception:
    pass

from ryn import vettle
from ryn.log.utils import banner

import pprint
import re
import logging

from mirel import textloom as tl
from mirel.textloom.examples.textloom.orVex import rehearsal_mktl
from mirel.textloom.examples.textloom.orVex import _orvex_sections

log = logging.getLogger(__name__)
log.setLevel(logging.DEBUG)

parameters = {}


class DictDiffer(object):
    """
  Calculate the difference between two dictionaries as:
  (1) items added
  (2) items removed
  (3) keys same in both but changed values
  (4) keys same in both and unchanged values
  """
    __init__ = _orvex_sections.differ_init
    added = _orvex_sections.differ_added
    removed = _orvex_sections.differ_removed
    changed = _orvex_sections.differ_changed
    unchanged = _orvex_sections.differ_unchanged


class common_setup(vettle.CommonSetup):
    """ Common Setup for Sample Test """

    @vettle.subsection
    def connect(self, testbed, uut_name, stdby_name):
        """ common setup subsection: connecting devices """
        _orvex_sections.connect(globals(), None, self, testbed, uut_name)

    @vettle.subsection
    def show_exec(self, uut):
        """ common setup subsection: exec show command """
        _orvex_sections.show_exec(globals(), None, self, uut)


class tc_one(vettle.Testcase):
    """This test case parses the same output with TCL/vorq and textloom"""

    @vettle.setup
    def tc_one_setup(self):
        """ test setup """
        _orvex_sections.tc_one_setup(globals())

    @vettle.test
    def tclPythonNonTabularParsingComparison(self, uut, if_name, mtu):
        """ Comparison between TCL and Native Python Parsing """
        _orvex_sections.tclPythonNonTabularParsingComparison(globals(), None, uut, if_name, mtu)

    @vettle.test
    def pythonTabularParsing(self, uut, show_arp_header_fields, show_arp_table_title_pattern,
                             show_arp_table_parse_index):
        """ Native Python Parsing of tabular CLI output"""
        _orvex_sections.pythonTabularParsing(globals(), None, uut, show_arp_header_fields,
                                             show_arp_table_title_pattern, show_arp_table_parse_index)

    @vettle.cleanup
    def do_some_cleaning(self):
        """ testcase clean up """
        _orvex_sections.do_some_cleaning(globals())


class common_cleanup(vettle.CommonCleanup):
    """ Common Cleanup for Sample Test """


if __name__ == "__main__":
    vettle.main()
