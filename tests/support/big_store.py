"""The big generated .reg stores of the tests and the benchmark.

StoreModel: a generated .reg store of IPoIB adapters among ordinary keys, and the exact bytes it holds
after any set of "GUIDMask" writes: what the crash and concurrency tests compare the store
with.

The store is UTF-16LE with its byte-order mark and CRLF line ends, as regedit writes it. Each
adapter's class section ends with its "NetCfgInstanceId" line, so the program adds a written
"GUIDMask" as the section's next line, and the model puts it there too. The model is checked
against the program itself: a fix run to the end must leave exactly the model's bytes.
"""
import random
import re

NET = (r"HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Network"
       r"\{4D36E972-E325-11CE-BFC1-08002BE10318}")
CLS = (r"HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Class"
       r"\{4D36E972-E325-11CE-BFC1-08002bE10318}")
TEMPORARY = ".store.reg.ipoib-guidmask-new"

# Port GUID kinds: known with mask 0xe7 (00-30-48), known with nothing to write (00-02-C9),
# unrecognized (00-CD-AB).
NEEDS_E7, NOTHING, UNRECOGNIZED = "needs-e7", "nothing", "unrecognized"
PREFIXES = {NEEDS_E7: (0x00, 0x30, 0x48), NOTHING: (0x00, 0x02, 0xC9),
            UNRECOGNIZED: (0x00, 0xCD, 0xAB)}


def instance_id(index):
    return "{%08X-0E0F-4A1B-9C2D-3E4F5A6B7C8D}" % index


def port_guid_digits(index, kind):
    # 16 digits, byte 0 last.
    b0, b1, b2 = PREFIXES[kind]
    return "%04XFFFF%02X%02X%02X%02X" % (index, index & 0xFF, b2, b1, b0)


def _ordinary(index):
    return ["[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Service%05d\\Entry%d]"
            % (index // 5, index % 5),
            '"DisplayName"="@%%SystemRoot%%\\\\system32\\\\drivers\\\\svc%05d.sys,-%d"'
            % (index, index % 997),
            '"Start"=dword:%08x' % (index % 5),
            '"Blob"=hex:' + ",".join("%02x" % ((index * 7 + k) % 256) for k in range(20)),
            ""]


class StoreModel:
    """kinds: the port GUID kind of each adapter, in adapter order (the class subkeys are
    0000, 0001, ..., which is also the order a run visits them in)."""

    def __init__(self, kinds, ordinary_keys):
        self.kinds = list(kinds)
        self.ordinary_keys = ordinary_keys
        self._before = []  # the text before each adapter's class section, and after the last
        spread = max(1, ordinary_keys // (len(self.kinds) + 1))
        lines = ["Windows Registry Editor Version 5.00", ""]
        for index, kind in enumerate(self.kinds):
            lines += ["[%s\\%s\\Connection]" % (NET, instance_id(index)),
                      '"PnpInstanceID"="IBA\\\\IPOIB\\\\%s"' % port_guid_digits(index, kind), ""]
        ordinary = 0
        for index in range(len(self.kinds)):
            for _ in range(spread):
                if ordinary < ordinary_keys:
                    lines += _ordinary(ordinary)
                    ordinary += 1
            self._before.append(self._encode(lines))
            lines = [""]
        while ordinary < ordinary_keys:
            lines += _ordinary(ordinary)
            ordinary += 1
        self._before.append(self._encode(lines[1:]))
        self._bom = b"\xff\xfe"

    @staticmethod
    def _encode(lines):
        return "\r\n".join(lines).encode("utf-16-le")

    def _adapter(self, index, mask):
        lines = ["[%s\\%04d]" % (CLS, index), '"DriverDesc"="IPoIB Adapter #%d"' % index,
                 '"ComponentId"="iba\\\\ipoib"',
                 '"NetCfgInstanceId"="%s"' % instance_id(index)]
        if mask is not None:
            lines.append('"GUIDMask"="%d"' % mask)
        return ("\r\n" + "\r\n".join(lines) + "\r\n").encode("utf-16-le")

    def store_bytes(self, masks):
        """The store with masks[i] (a number, or None for no value) written for adapter i."""
        parts = [b"\xff\xfe"]
        for index in range(len(self.kinds)):
            parts.append(self._before[index])
            parts.append(self._adapter(index, masks[index]))
        parts.append(self._before[-1])
        return b"".join(parts)

    def silent_fix_states(self, unrecognized_mask):
        """The masks after each write of a silent fix run, in order: the first is before any
        write, the last after all."""
        masks = [None] * len(self.kinds)
        states = [list(masks)]
        for index, kind in enumerate(self.kinds):
            if kind != NOTHING:
                masks[index] = 0xE7 if kind == NEEDS_E7 else unrecognized_mask
                states.append(list(masks))
        return states


ADAPTER_MASK = re.compile(r'\[' + re.escape(CLS) + r'\\(\d{4})\]\r\n(?:"[^\r\n]*\r\n)*?'
                          r'"NetCfgInstanceId"="[^"]*"\r\n(?:"GUIDMask"="(\d+)"\r\n)?')


def masks_in(data, count):
    """Each adapter's "GUIDMask" as the store's bytes hold it (None where it has none)."""
    masks = [None] * count
    for match in ADAPTER_MASK.finditer(data.decode("utf-16-le", "replace")):
        if match.group(2) is not None:
            masks[int(match.group(1))] = int(match.group(2))
    return masks


# The benchmark's store, the size of a full exported SYSTEM hive: UTF-16LE with CRLF, KEYS keys
# of strings, dwords and wrapped hex data, with ADAPTERS IPoIB adapters among them.
ADAPTERS = 64
KEYS = 110_000


def hex_lines(rng, prefix, count):
    data = ",".join("%02x" % rng.randrange(256) for _ in range(count))
    # Wrap as regedit does: about 80 characters a line, a backslash after the comma.
    out, line = [], prefix
    for item in data.split(","):
        if len(line) + 3 > 77:
            out.append(line + "\\")
            line = "  "
        line += item + ","
    out.append(line.rstrip(","))
    return out


def ordinary_key(rng, index):
    lines = ["[HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001\\Services\\Service%05d\\Parameters\\Entry%d]"
             % (index // 7, index % 7)]
    lines.append('"DisplayName"="@%%SystemRoot%%\\\\system32\\\\drivers\\\\svc%05d.sys,-%d"'
                 % (index, rng.randrange(1000)))
    lines.append('"Start"=dword:%08x' % rng.randrange(5))
    pass
    lines.extend(hex_lines(rng, '"Blob"=hex:', rng.randrange(4, 24)))
    lines.append("")
    return lines


def adapter_keys(index):
    instance = "{%08X-0E0F-4A1B-9C2D-3E4F5A6B7C8D}" % index
    # 16 digits, byte 0 last: 00-30-48 (known, mask 0xe7), 00-02-C9 (known, nothing to write)
    # and 00-CD-AB (unrecognized) in turn.
    guid = "%04XFFFF%02X%02X%02X00" % (index, index, [0x48, 0xC9, 0xAB][index % 3],
                                       [0x30, 0x02, 0xCD][index % 3])
    return [
        "[%s\\%s\\Connection]" % (NET, instance),
        '"Name"="Ethernet %d"' % index,
        '"PnpInstanceID"="IBA\\\\IPOIB\\\\%s"' % guid,
        "",
        "[%s\\%04d]" % (CLS, index),
        '"DriverDesc"="IPoIB Adapter #%d"' % index,
        '"ComponentId"="iba\\\\ipoib"',
        '"NetCfgInstanceId"="%s"' % instance,
        "",
    ]


def generate(path):
    rng = random.Random(1)
    lines = ["Windows Registry Editor Version 5.00", ""]
    for index in range(KEYS - 2 * ADAPTERS):
        lines.extend(ordinary_key(rng, index))
        if index % (KEYS // ADAPTERS) == 0 and index // (KEYS // ADAPTERS) < ADAPTERS:
            lines.extend(adapter_keys(index // (KEYS // ADAPTERS)))
    with open(path, "wb") as handle:
        handle.write(b"\xff\xfe")
        handle.write("\r\n".join(lines).encode("utf-16-le"))
