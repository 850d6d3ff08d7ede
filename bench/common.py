"""What the benchmarks share: the tree on the path, the interface record's
fields, and a best-of timer."""
import os
import sys
import timeit

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path[:0] = [ROOT, os.path.join(ROOT, "standins")]

# tag, regex, TextFSM rule (a None rule: the value is captured by the rule before it)
FIELDS = [
    ("NAME", r"(\S+) is (?:up|down)", r"^${NAME} is (?:up|down)"),
    ("ADMIN", r"admin state is (\S+)", r"^admin state is ${ADMIN}"),
    ("HW", r"\s+Hardware: (\S+),", r"^\s+Hardware: ${HW}, address: ${MAC}"),
    ("MAC", r"\s+Hardware: .*address: (\S+)", None),
    ("IP", r"\s+Internet Address is (\S+)", r"^\s+Internet Address is ${IP}"),
    ("MTU", r"\s+MTU (\d+) bytes", r"^\s+MTU ${MTU} bytes, BW ${BW} Kbit, DLY ${DLY} usec"),
    ("BW", r"\s+MTU .*BW (\d+) Kbit", None),
    ("DLY", r"\s+MTU .*DLY (\d+) usec", None),
    ("RELY", r"\s+reliability (\S+),", r"^\s+reliability ${RELY},"),
    ("ENCAP", r"\s+Encapsulation (\S+),", r"^\s+Encapsulation ${ENCAP},"),
    ("MODE", r"\s+Port mode is (\S+)", r"^\s+Port mode is ${MODE}"),
    ("DUPLEX", r"\s+(\S+)-duplex", r"^\s+${DUPLEX}-duplex"),
    ("IN_RATE", r"\s+1 minute input rate (\d+) bits/sec", r"^\s+1 minute input rate ${IN_RATE} bits/sec"),
    ("IN_PKTS", r"\s+(\d+) input packets", r"^\s+${IN_PKTS} input packets"),
]
TAGS = [tag for tag, _, _ in FIELDS]
EXPECTED = ["mgmt0", "up", "Ethernet", "5254.0070.0dff", "10.10.10.5/24", "1500", "1000000", "10",
            "255/255", "ARPA", "routed", "full", "112", "71"]
TEXTFSM_TEMPLATE = "".join("Value %s (\\S+)\n" % tag for tag in TAGS) + "\nStart\n" + "".join(
    "  %s\n" % rule for _, _, rule in FIELDS if rule)



def sample(name):
    with open(os.path.join(ROOT, "samples", name), encoding="utf-8") as f:
        return f.read()


def best(fn, number, repeat=7):
    """Seconds per call: the best of `repeat` runs of `number` calls."""
    return min(timeit.repeat(fn, number=number, repeat=repeat)) / number
