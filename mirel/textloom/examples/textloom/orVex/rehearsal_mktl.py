"""Registrations for the demonstration scripts and examples.

Importing this module registers, through the package, the interface command
and its 32 value tags for pellam and brume devices (one marked-up block per
system), and the ARP table command for both.
"""
from mirel import textloom

# One marked-up block per system.  pellam interface names hold slashes
# ("MgmtEth0/0/CPU0/0"): an interface-name marker there, a word marker for
# brume's "mgmt0".
interface_block = r"""
OS: {os}
CMD: show_interface_<WORD>
SHOWCMD: show interface {{ifname}}
PREFIX: show.intf
MARKUP:

{name_marker} is XR<line_protocol>Xup
admin state is XR<admin_state>Xup
  Hardware: XW<hardware>XEthernet, address: XM<mac_address>X5254.0070.0dff (bia XM<bia_address>X5254.0070.0dff)
  Internet Address is XXX<[0-9\.]+><ip_address>XXX10.10.10.5/24
  MTU XN<mtu>X{mtu} bytes, BW XN<bw>X0 Kbit, DLY XN<dly>X10 usec
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
"""
marked_up_interfaces = (interface_block.format(os="PELLAM", name_marker="XI<if_name>XMgmtEth0/0/CPU0/0", mtu=1514)
                        + interface_block.format(os="BRUME", name_marker="XW<if_name>Xmgmt0", mtu=1500))

textloom.extend_markup(marked_up_interfaces)
textloom.extend(show_cmds={"pellam": {"SHOW_ARP": "show arp"}, "brume": {"SHOW_ARP": "show arp"}})
