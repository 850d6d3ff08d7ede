# vorq: a small reference parser for interface output, written in Tcl so that
# its results can be set against those of textloom's own regexes.

package require Tcl 8.5
package provide vorq 1.0

namespace eval ::vorq {
    namespace export abstract

    # Each entry: a regex searched on every line of the record, then the field
    # names of its capture groups.  Bandwidth is left out, and the medium and
    # transmit broadcast/byte counters are in, so that this reference covers
    # other fields than the package registers.
    variable patterns {
        {{^admin state is (.*)$}                              admin_state}
        {{Hardware: ([^,]+), address: (\S+) \(bia (\S+)\)}  hardware mac_address bia_address}
        {{Internet Address is ([0-9.]+)/}                    ip_address}
        {{MTU (\d+) bytes}                                    mtu}
        {{DLY (\d+) usec}                                     dly}
        {{reliability (\S+), txload (\S+), rxload (\S+)}     reliability txload rxload}
        {{Encapsulation ([^,]+), medium is (\S+)}             encapsulation medium}
        {{Port mode is (.*)$}                                 port_mode}
        {{(\S+)-duplex}                                       duplex}
        {{(\S+)-speed}                                        speed}
        {{Auto-Negotiation is turned (\S+)}                   auto_negotiation}
        {{Auto-mdix is turned (\S+)}                          auto_mdix}
        {{EtherType is (\S+)}                                 ether_type}
        {{1 minute input rate (\d+) bits/sec, (\d+) packets/sec}
            input_bits_sec_60 input_packets_sec_60}
        {{1 minute output rate (\d+) bits/sec, (\d+) packets/sec}
            output_bits_sec_60 output_packets_sec_60}
        {{(\d+) input packets (\d+) unicast packets (\d+) multicast packets}
            input_packets rx.unicast rx.multicast}
        {{(\d+) output packets (\d+) unicast packets (\d+) multicast packets}
            output_packets tx.unicast tx.multicast}
    }
}

# abstract -device HANDLE -exec COMMAND
#
# Runs COMMAND through the device handle and parses the first interface of its
# output.  Returns {1 KEYEDLIST} with one {field value} pair per field found,
# or {0 KEYEDLIST} with the pair {reason text} when the command fails or its
# output holds no interface.  Wrong options are Tcl errors.
proc ::vorq::abstract {args} {
    set usage "abstract -device handle -exec command"
    if {[llength $args] % 2} {
        return -code error "wrong # args: should be \"$usage\""
    }
    foreach {option value} $args {
        switch -- $option {
            -device - -exec {set opt($option) $value}
            default {
                return -code error "bad option \"$option\": must be -device or -exec"
            }
        }
    }
    foreach option {-device -exec} {
        if {![info exists opt($option)]} {
            return -code error "missing option $option: should be \"$usage\""
        }
    }
    if {[catch {$opt(-device) exec $opt(-exec)} output]} {
        return [list 0 [list [list reason $output]]]
    }
    set fields [interface $output]
    if {[dict size $fields] == 0} {
        return [list 0 [list [list reason "no interface in the output of \"$opt(-exec)\""]]]
    }
    set keyed {}
    dict for {field value} $fields {
        lappend keyed [list $field $value]
    }
    return [list 1 $keyed]
}

# Fields of the first interface record: from its "NAME is STATE" line up to
# the next such line.  The first match of a field wins.
proc ::vorq::interface {output} {
    variable patterns
    set fields [dict create]
    set direction ""
    foreach line [split [string map {"\r\n" "\n"} $output] "\n"] {
        if {[regexp {^(\S+) is (.*)$} $line -> name state]} {
            if {[dict size $fields]} {
                break
            }
            dict set fields if_name $name
            dict set fields line_protocol $state
            continue
        }
        if {[dict size $fields] == 0} {
            continue
        }
        if {[regexp {^\s*(Rx|Tx)\s*$} $line -> section]} {
            set direction [string tolower $section]
            continue
        }
        # The broadcast and byte counters read the same for both directions;
        # the Rx/Tx heading above them tells which they are.
        if {$direction ne ""
                && [regexp {(\d+) broadcast packets (\d+) bytes} $line -> broadcast bytes]} {
            set fields [keep $fields $direction.broadcast $broadcast]
            set fields [keep $fields $direction.bytes $bytes]
            continue
        }
        foreach entry $patterns {
            set names [lassign $entry pattern]
            set match [regexp -inline -- $pattern $line]
            if {[llength $match]} {
                foreach field $names value [lrange $match 1 end] {
                    set fields [keep $fields $field $value]
                }
            }
        }
    }
    return $fields
}

proc ::vorq::keep {fields field value} {
    if {![dict exists $fields $field]} {
        dict set fields $field $value
    }
    return $fields
}

namespace eval :: {
    namespace import ::vorq::abstract
}
