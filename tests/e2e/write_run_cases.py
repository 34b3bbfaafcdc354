import os, sys
OUT = sys.argv[1]
NET = r"HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Network\{4D36E972-E325-11CE-BFC1-08002BE10318}"
CLS = r"HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Class\{4D36E972-E325-11CE-BFC1-08002bE10318}"
K = "A port GUID that is known to Tarnwick 2.0.0 driver has been found: "
U = "An unrecognized port GUID has been found: "
RERUN = ".\nIn case a different driver version is installed, re-run the utility with \"-f\".\n"
NOTHING = ".\nNothing to fix.\n"
ADDED = ".\nA predefined GUID mask 0x%02x has been added to the registry.\n"
FAILED = ".\nA predefined GUID mask 0x%02x is available, but adding it to the registry has failed.\n"
NOWA = ".\nThere is no predefined GUID mask to work-around the problem. Re-run the utility with \"-f\" to obtain a mask.\n"
PROMPT = (".\nThere is no predefined GUID mask to fix the problem.\n\n"
 "A GUID mask is an 8-bit number that indicates which byte of a port GUID\n"
 "should be used in MAC address generation. Since a MAC address has a fixed 6-byte length,\n"
 "the mask must contain exactly 6 non-zero bits. A good choice is to throw the 2 constant\n"
 "bytes in the GUIDs series (usually the middle bytes which are 0xFFFF) and set the mask to 0xe7.\n"
 "Enter your GUID mask (in hex format):\n")
INVALID = "Invalid GUID mask 0x%02x. GUID mask must contain exactly 6 non-zero bits.\n"
ADDED_TYPED = "Added GUID mask 0x%02x to the registry.\n"
FAILED_TYPED = "Failed to add GUID mask 0x%02x to the registry.\n"
NOTNUM = "The reply is not a hexadecimal number. Nothing has been written.\n"
EOI = "No GUID mask has been entered (end of input). Nothing has been written.\n"
MISSING = "No IPoIB device with NetCfgInstanceId %s has been found in Network instances.\n"
NONE = "No IPoIB devices have been found. Please check your installation.\n"
REMIND = "For the changes to take affect, please disable and re-enable IPoIB devices via \"Device Manager\".\n"

def esc(s): return s.replace("\\", "\\\\").replace('"', '\\"')

def instance(iid, pnp, name="Ethernet"):
    return (f"[{NET}\\{iid}]\n\n[{NET}\\{iid}\\Connection]\n\"Name\"=\"{esc(name)}\"\n"
            f"\"PnpInstanceID\"=\"{esc(pnp)}\"\n\"MediaSubType\"=dword:00000001\n\n")

def adapter(sub, comp, iid, desc="Adapter", extra=""):
    s = f"[{CLS}\\{sub}]\n\"DriverDesc\"=\"{esc(desc)}\"\n"
    if comp is not None: s += f"\"ComponentId\"=\"{esc(comp)}\"\n"
    if iid is not None: s += f"\"NetCfgInstanceId\"=\"{esc(iid)}\"\n"
    return s + extra + "\n"

HEAD = "Windows Registry Editor Version 5.00\n\n"
def store(*parts, net=True, cls=True):
    s = HEAD
    if net: s += f"[{NET}]\n\n"
    if cls: s += f"[{CLS}]\n\"Class\"=\"Net\"\n\n"
    return s + "".join(parts)

def crlf(s): return s.replace("\n", "\r\n")

def case(name, args, store_text, stdout, status=0, after=None, input=None, options=None, raw=False):
    d = os.path.join(OUT, name); os.makedirs(d, exist_ok=True)
    def w(f, data):
        with open(os.path.join(d, f), "wb") as h: h.write(data if isinstance(data, bytes) else data.encode("utf-8"))
    if args: w("args", "".join(a + "\n" for a in args))
    if store_text is not None: w("store.reg", store_text if raw else crlf(store_text))
    if after is not None: w("store-after.reg", after if raw else crlf(after))
    if input is not None: w("input", input)
    if options: w("options", "".join(o + "\n" for o in options))
    w("expected-stdout", stdout); w("expected-status", f"{status}\n")

# GUIDs: the identifier's digits, the number printed.
G_MLX = ("5EA7030003C90200", "0x0002c9030003a75e")      # 00-02-C9 known, no mask
G_SM = ("563412FFFF483000", "0x003048ffff123456")       # 00-30-48 known, E7
G_UNK = ("0123456789ABCD00", "0x00cdab8967452301")      # 00-CD-AB unrecognized
G_UNK2 = ("1111FFFF22334400", "0x00443322ffff1111")     # 00-44-33 unrecognized
I1, I2, I3, I4, I5 = ("{%dA1B2C3D-0E0F-4A1B-9C2D-3E4F5A6B7C8D}" % i for i in range(1, 6))
ETH = ("PCI\\VEN_8086&DEV_1533&SUBSYS_15338086&REV_03\\3&11583659&0&C8")

def ipoib(g): return "IBA\\IPOIB\\" + g[0]
GM = lambda m: f"\"GUIDMask\"=\"{m}\"\n"

# The mixed store: a non-IPoIB adapter, a known GUID needing nothing, one needing 0xE7,
# an unrecognized one, an adapter whose instance is missing, and a key that is no adapter.
def mixed(gm2="", gm3=""):
    return store(instance(I1, ETH), instance(I2, ipoib(G_MLX), "Ethernet 2"),
                 instance(I3, ipoib(G_SM), "Ethernet 3"), instance(I4, ipoib(G_UNK), "Ethernet 4"),
                 adapter("0000", "pci\\ven_8086&dev_1533", I1, "Intel(R) Ethernet"),
                 adapter("0001", "iba\\ipoib", I2, "IPoIB Adapter"),
                 adapter("0002", "iba\\ipoib", I3, "IPoIB Adapter #2", gm2),
                 adapter("0003", "iba\\ipoib", I4, "IPoIB Adapter #3", gm3),
                 adapter("0004", "iba\\ipoib", I5, "IPoIB Adapter #4"),
                 f"[{CLS}\\Properties]\n\n")

case("run-check-interactive", [], mixed(),
     K + G_MLX[1] + RERUN + "\n" + K + G_SM[1] + RERUN + "\n" + U + G_UNK[1] + NOWA + "\n" + MISSING % I5)
case("run-check-silent", ["-s"], mixed(), "\n\n\n")
case("run-check-read-only-store", [], mixed(),
     K + G_MLX[1] + RERUN + "\n" + K + G_SM[1] + RERUN + "\n" + U + G_UNK[1] + NOWA + "\n" + MISSING % I5,
     options=["read-only-store", "posix-only: a read-only store file has no Windows counterpart"])
# Fix, interactive: the prompt adapter gets e7 typed.
case("run-fix-interactive", ["-f"], mixed(),
     K + G_MLX[1] + NOTHING + "\n" + K + G_SM[1] + ADDED % 0xE7 + "\n" + U + G_UNK[1] + PROMPT
     + ADDED_TYPED % 0xE7 + "\n" + MISSING % I5 + REMIND,
     after=mixed(GM(231), GM(231)), input="e7\n")
case("run-fix-silent", ["-f", "-s"], mixed(), "\n\n\n", after=mixed(GM(231), GM(231)))
case("run-fix-silent-given-mask", ["-s", "-d", "3f", "-f"], mixed(), "\n\n\n", after=mixed(GM(231), GM(63)))
case("run-fix-replaces-stored-mask", ["-f", "-s", "-d", "0xfc"], mixed(GM(63), GM(99)), "\n\n\n",
     after=mixed(GM(231), GM(252)))
case("run-fix-read-only-store", ["-f"], mixed(),
     K + G_MLX[1] + NOTHING + "\n" + K + G_SM[1] + FAILED % 0xE7 + "\n" + U + G_UNK[1] + PROMPT
     + FAILED_TYPED % 0x3F + "\n" + MISSING % I5, status=-1, input="3f\n",
     options=["read-only-store", "posix-only: a read-only store file has no Windows counterpart"])
case("run-fix-silent-read-only-store", ["-f", "-s"], mixed(), "\n\n\n", status=-1,
     options=["read-only-store", "posix-only: a read-only store file has no Windows counterpart"])

# Only the 00-02-C9 adapter: a fix has nothing to do, so no reminder.
only_mlx = store(instance(I2, ipoib(G_MLX)), adapter("0001", "iba\\ipoib", I2))
case("run-fix-nothing-to-fix", ["-f"], only_mlx, K + G_MLX[1] + NOTHING + "\n")
case("run-fix-silent-nothing-to-fix", ["-f", "-s"], only_mlx, "\n")

# Two adapters that need a typed mask.
two = lambda gm1="", gm2="": store(instance(I1, ipoib(G_UNK)), instance(I2, ipoib(G_UNK2)),
                                   adapter("0000", "iba\\ipoib", I1, extra=gm1),
                                   adapter("0001", "iba\\ipoib", I2, extra=gm2))
P1 = U + G_UNK[1] + PROMPT
P2 = U + G_UNK2[1] + PROMPT
case("prompt-two-valid-replies", ["-f"], two(), P1 + ADDED_TYPED % 0x7E + "\n" + P2 + ADDED_TYPED % 0x3F + "\n" + REMIND,
     after=two(GM(126), GM(63)), input="7e\n0x3F\n")
case("prompt-replies-on-one-line", ["-f"], two(), P1 + ADDED_TYPED % 0xFC + "\n" + P2 + ADDED_TYPED % 0xE7 + "\n" + REMIND,
     after=two(GM(252), GM(231)), input="  fc e7")
case("prompt-invalid-mask", ["-f"], two(), P1 + INVALID % 0xFF + "\n" + P2 + ADDED_TYPED % 0xE7 + "\n" + REMIND,
     after=two("", GM(231)), input="ff\n1e7\n")
case("prompt-not-a-number", ["-f"], two(), P1 + NOTNUM + "\n" + P2 + ADDED_TYPED % 0x3F + "\n" + REMIND,
     after=two("", GM(63)), input="zz 7e\n3fzz\n")
case("prompt-bare-prefix", ["-f"], two(), P1 + NOTNUM + "\n" + P2 + INVALID % 0x00 + "\n",
     input="0x\n0\n")
case("prompt-end-of-input", ["-f"], two(), P1 + EOI + "\n" + P2 + EOI + "\n", input="")
case("prompt-end-of-input-after-one", ["-f"], two(), P1 + ADDED_TYPED % 0x77 + "\n" + P2 + EOI + "\n" + REMIND,
     after=two(GM(119), ""), input="\n\n 77")
case("prompt-silent-mode-never-asks", ["-f", "-s"], two(), "\n\n", after=two(GM(231), GM(231)), input="3f\n3f\n")

# No IPoIB adapter, while the class key has subkeys.
no_ipoib = store(instance(I1, ETH), adapter("0000", "pci\\ven_8086&dev_1533", I1),
                 adapter("0001", "IBA\\IPOIB", I2, "upper-case component id is not IPoIB"),
                 adapter("0002", "iba\\ipoi", I3, "too short"))
case("run-no-ipoib-adapter", [], no_ipoib, NONE)
case("run-no-ipoib-adapter-silent", ["-s"], no_ipoib, "")
case("run-no-ipoib-adapter-fix", ["-f"], no_ipoib, NONE)
# The class key is missing, or has no subkeys: nothing at all.
case("run-no-adapter-class-key", [], store(instance(I1, ipoib(G_SM)), cls=False), "")
case("run-adapter-class-key-empty", ["-f"], store(instance(I1, ipoib(G_SM))), "")
case("run-empty-registry", [], HEAD, "")
# The network instances key is missing: every IPoIB adapter is reported missing, and counted.
no_net = store(adapter("0000", "iba\\ipoib", I1), adapter("0001", "iba\\ipoib", I2), net=False)
case("run-no-network-instances-key", ["-f"], no_net, MISSING % I1 + MISSING % I2)
case("run-no-network-instances-key-silent", ["-f", "-s"], no_net, "")
# Instances: one without Connection, one without PnpInstanceID, lower-case prefix, GUID text that
# converts nothing, more than 16 digits, white space and a sign.
odd = store(f"[{NET}\\{I1}]\n\n",
            f"[{NET}\\{I2}\\Connection]\n\"Name\"=\"no identifier\"\n\n",
            instance(I3, "iba\\ipoib\\" + G_SM[0]),
            instance(I4, "IBA\\IPOIB\\ZZ" + G_SM[0]),
            instance(I5, "IBA\\IPOIB\\" + G_SM[0] + "77"),
            instance("{6}", "IBA\\IPOIB\\  -1"),
            instance("{7}", "IBA\\IPOIB\\00000000000000000000000000003048"),
            adapter("0000", "iba\\ipoib", I1), adapter("0001", "iba\\ipoib", I2),
            adapter("0002", "iba\\ipoib", I3), adapter("0003", "iba\\ipoib\\ex", I4),
            adapter("0004", "iba\\ipoib", I5), adapter("0005", "iba\\ipoib", "{6}"),
            adapter("0006", "iba\\ipoib", "{7}"), adapter("0007", "iba\\ipoib", "{5A1B2C3D-0E0F-4A1B-9C2D-3E4F5A6B7C8}"),
            adapter("0008", "iba\\ipoib", I5.lower()), adapter("0009", "iba\\ipoib", None))
case("run-odd-instance-identifiers", [], odd,
     MISSING % I1 + MISSING % I2 + MISSING % I3 + U + "0x0000000000000000" + NOWA + "\n"
     + K + G_SM[1] + RERUN + "\n" + U + "0xffffffffffffffff" + NOWA + "\n"
     + U + "0x0000000000000000" + NOWA + "\n"
     + MISSING % "{5A1B2C3D-0E0F-4A1B-9C2D-3E4F5A6B7C8}" + MISSING % I5.lower())
# Two instances with one GUID, and two adapters naming one instance.
dup = store(instance(I1, ipoib(G_SM)), instance(I2, ipoib(G_SM)),
            adapter("0000", "iba\\ipoib", I1), adapter("0001", "iba\\ipoib", I2),
            adapter("0002", "iba\\ipoib", I2))
case("run-fix-shared-guid-and-instance", ["-f"], dup,
     (K + G_SM[1] + ADDED % 0xE7 + "\n") * 3 + REMIND,
     after=store(instance(I1, ipoib(G_SM)), instance(I2, ipoib(G_SM)),
                 adapter("0000", "iba\\ipoib", I1, extra=GM(231)), adapter("0001", "iba\\ipoib", I2, extra=GM(231)),
                 adapter("0002", "iba\\ipoib", I2, extra=GM(231))))
# Names and values at the contract's limits. Subkey names of 254 characters come back whole, 255
# fail; string data of 508 bytes read whole, 510 fail. A string stored with its terminating zero
# thus holds at most 253 characters; one stored without it (hex(1)) may hold 254.
def hex1(name, text, zero=False):
    data = text.encode("utf-16-le") + (b"\0\0" if zero else b"")
    items = ["%02x" % b for b in data]
    lines, line = [], '"%s"=hex(1):' % name
    for item in items:
        if len(line) + 3 > 77:
            lines.append(line + "\\")
            line = "  "
        line += item + ","
    lines.append(line.rstrip(","))
    return "\n".join(lines) + "\n"
n253 = "{" + "C" * 251 + "}"
n254 = "{" + "A" * 252 + "}"
n255 = "{" + "B" * 253 + "}"
# Shared by both registries: plain strings, so 253 characters is the longest identifier that
# reads; the 254-character one (510 bytes with its zero) is counted and skipped silently, and the
# instance whose key name has 255 characters never enters the table.
limits = store(instance(n254, ipoib(G_SM)), instance(n253, ipoib(G_MLX)), instance(n255, ipoib(G_UNK)),
               adapter("0000", "iba\\ipoib", n253),
               adapter("0001", "iba\\ipoib", n254),
               adapter("0002", "iba\\ipoib", n253[:-1] + "D"))
case("run-identifier-length-limits", [], limits,
     K + G_MLX[1] + RERUN + "\n" + MISSING % (n253[:-1] + "D"))
# Stored without a terminating zero, 254 characters take 508 bytes and read whole.
unended = store(instance(n254, ipoib(G_SM)), instance(n255, ipoib(G_UNK)),
                adapter("0000", "iba\\ipoib", None, extra=hex1("NetCfgInstanceId", n254)),
                adapter("0001", "iba\\ipoib", None, extra=hex1("NetCfgInstanceId", n255[:254])))
case("run-unterminated-identifier", [], unended,
     K + G_SM[1] + RERUN + "\n" + MISSING % n255[:254],
     options=["posix-only: Wine's reg import ends hex(1) string data that lack a terminating "
              "zero with one, so a 508-byte value without one cannot be set up there"])
# Adapters are visited in the registry's order, whatever the order in the file.
order = store(instance(I1, ipoib(G_UNK)), instance(I2, ipoib(G_SM)),
              adapter("0010", "iba\\ipoib", I1), adapter("0002", "iba\\ipoib", I2))
case("run-adapter-order", [], order, K + G_SM[1] + RERUN + "\n" + U + G_UNK[1] + NOWA + "\n")
# Registry store problems (POSIX store only).
po = ["posix-only: the .reg store's own errors"]
case("store-not-named", ["-f"], None, "", status=-1, options=po)
case("store-broken", ["-f", "-s"], "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SYSTEM\n", "", status=-1, options=po)
case("store-not-needed-for-help", ["-h", "-f"], "not a registry file\n", 
     "Usage: ipoib-guidmask.exe [-h] [-f] [-s] [-d <mask>]\n\t-h: Print this help message and exit.\n\t-f: This is a fix operation. Default operation is check.\n\t-s: Silent mode. Default mode is interactive.\n\t-d <mask>: Change the GUID mask used in silent mode. Default mask is 0xe7.\n",
     options=po)
# A store as regedit writes it: UTF-16LE with a byte order mark and CRLF line ends.
u16 = lambda s: b"\xff\xfe" + crlf(s).encode("utf-16-le")
case("run-fix-utf16-store", ["-f", "-s"], u16(mixed()), "\n\n\n",
     after=u16(mixed(GM(231), GM(231))), raw=True)

if len(sys.argv) > 2:
    with open(sys.argv[2], "wb") as h:
        h.write(crlf(mixed()).encode())
