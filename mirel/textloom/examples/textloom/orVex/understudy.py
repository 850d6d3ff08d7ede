"""Demonstration test script for the framework's harness (ryn.vettle): the
script rehearsal working only through the device's connection that it opens
under the alias "myuut" instead of the default one.

Every command and the Tcl parse go through that connection; the results are
still read under the device's name. Its script parameters, and how it runs as
the main program, are those of rehearsal. Importing it registers the commands
and tags of rehearsal_mktl and runs no section.
"""
# This file is the script's frame; the section bodies are C++ (_orvex_sections),
# shared with rehearsal, and each gets this module's globals and the alias.
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
        _orvex_sections.connect(globals(), "myuut", self, testbed, uut_name)

    @vettle.subsection
    def show_exec(self, uut):
        """ common setup subsection: exec show command """
        _orvex_sections.show_exec(globals(), "myuut", self, uut)


class tc_one(vettle.Testcase):
    """This test case parses the same output with TCL/vorq and textloom"""

    @vettle.setup
    def tc_one_setup(self):
        """ test setup """
        _orvex_sections.tc_one_setup(globals())

    @vettle.test
    def tclPythonNonTabularParsingComparison(self, uut, if_name, mtu):
        """ Comparison between TCL and Native Python Parsing """
        _orvex_sections.tclPythonNonTabularParsingComparison(globals(), "myuut", uut, if_name, mtu)

    @vettle.test
    def pythonTabularParsing(self, uut, show_arp_header_fields, show_arp_table_title_pattern,
                             show_arp_table_parse_index):
        """ Native Python Parsing of tabular CLI output"""
        _orvex_sections.pythonTabularParsing(globals(), "myuut", uut, show_arp_header_fields,
                                             show_arp_table_title_pattern, show_arp_table_parse_index)

    @vettle.cleanup
    def do_some_cleaning(self):
        """ testcase clean up """
        _orvex_sections.do_some_cleaning(globals())


class common_cleanup(vettle.CommonCleanup):
    """ Common Cleanup for Sample Test """


if __name__ == "__main__":
    vettle.main()
