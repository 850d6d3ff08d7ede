// sketchpad: registers one marked-up sample output of "show interface" for
// brume devices at import; it prints and logs nothing itself.
#include "examples/example.hpp"

namespace {

using namespace example;

const char* const marked_up_output = R"text(OS: BRUME

CMD: show_interface_<WORD>

SHOWCMD: show interface {ifname}

PREFIX: show.intf

ACTUAL:
mgmt0 is up
admin state is up
  Hardware: Ethernet, address: 5254.0070.0dff (bia 5254.0070.0dff)
  Internet Address is 10.10.10.5/24
  MTU 1500 bytes, BW 0 Kbit, DLY 10 usec
  reliability 255/255, txload 1/255, rxload 1/255
  Encapsulation ARPA, medium is broadcast
  Port mode is routed
  auto-duplex, auto-speed
  Auto-Negotiation is turned on
  Auto-mdix is turned off
  EtherType is 0x0000
  1 minute input rate 112 bits/sec, 0 packets/sec
  1 minute output rate 24 bits/sec, 0 packets/sec
  Rx
    71 input packets 2 unicast packets 68 multicast packets
    1 broadcast packets 22451 bytes
  Tx
    33 output packets 1 unicast packets 29 multicast packets
    3 broadcast packets 6527 bytes


MARKUP:

XW<if_name>Xmgmt0 is XR<line_protocol>Xup
admin state is XR<admin_state>Xup
  Hardware: XW<hardware>XEthernet, address: XM<mac_address>X5254.0070.0dff (bia XM<bia_address>X5254.0070.0dff)
  Internet Address is XXX<[0-9\.]+><ip_address>XXX10.10.10.5/24
  MTU XN<mtu>X1500 bytes, BW XN<bw>X0 Kbit, DLY XN<dly>X10 usec
  reliability XXX<[0-9/]+><reliability>XXX255/255, txload XXX<[0-9/]+><txload>XXX1/255, rxload XXX<[0-9/]+><rxload>XXX1/255
  Encapsulation XW<encapsulation>XARPA, medium is broadcast
  Port mode is XR<port_mode>Xrouted
  XW<duplex>Xauto-duplex, XW<speed>Xauto-speed
  Auto-Negotiation is turned XR<auto_negotiation>Xon
  Auto-mdix is turned XR<auto_mdix>Xoff
  EtherType is XH<ether_type>X0x0000
  1 minute input rate XN<input_bits_sec_60>X112 bits/sec, XN<input_packets_sec_60>X0 packets/sec
  1 minute output rate XN<output_bits_sec_60>X24 bits/sec, XN<output_packets_sec_60>X0 packets/sec
  Rx
    XN<input_packets>X71 input packets XN<rx.unicast>X2 unicast packets XN<rx.multicast>X68 multicast packets
    XN<rx.broadcast>X1 broadcast packets XN<rx.bytes>X22451 bytes
  Tx
    XN<output_packets>X33 output packets XN<tx.unicast>X1 unicast packets XN<tx.multicast>X29 multicast packets

)text";

void script(const ModuleFrame& m) {
    m.from_import("mirel.textloom", "extend_markup");
    m.bind("marked_up_output", pyutil::str(marked_up_output));
    pyutil::call(m.global(PYU_STR("extend_markup")), {m.global(PYU_STR("marked_up_output"))});
}

const char* const doc = R"doc(Example: the registration of one marked-up sample output.

At import, marked_up_output (a "show interface" sample for brume, its values
marked) goes to extend_markup, which registers the command tag
"show_interface_<WORD>" with the template "show interface {ifname}" and 32
regex tags "show.intf.<key>" for brume; the module prints nothing. Import it
once, before the operations that use these tags:

    >>> import mirel.textloom.examples.textloom.demo.sketchpad
    >>> from mirel.textloom import core
    >>> core._get_show_command('brume', ('show_interface_<WORD>', [], {'ifname': 'mgmt0'}))
    'show interface mgmt0'
    >>> core._glb_regex_tags['brume'][:3]
    ['show.intf.if_name', 'show.intf.line_protocol', 'show.intf.admin_state'])doc";

}  // namespace

extern "C" PyMODINIT_FUNC PyInit_sketchpad() { return example::init_script_module<script>("sketchpad", doc); }
