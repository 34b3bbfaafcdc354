"""Reads registry export files (.reg) into plain dictionaries, for the Windows leg's checks.

A registry state is a dict: lower-cased key path -> {lower-cased value name: (type, data bytes)}.
Names are matched without regard to case, as the registry does; data are the bytes the
registry holds (REG_SZ text as UTF-16LE with its terminating zero).

Two dialects are read:
  - the case stores: regedit's format as our store reads it, where a string knows the
    escapes \\\\ and \\" only;
  - the exports of Wine's reg.exe, which also writes \\n, \\r and \\0 inside strings.
"""
import re

REG_SZ = 1
REG_DWORD = 4

UTF16_BOM = b"\xff\xfe"
UTF8_BOM = b"\xef\xbb\xbf"

HEADERS = ("Windows Registry Editor Version 5.00", "REGEDIT4")

# A value line whose data are hex bytes, the only data that go on over several lines.
HEX_VALUE_LINE = re.compile(r'\s*(@|"(?:[^"\\]|\\.)*")\s*=\s*hex(\([0-9a-fA-F]+\))?:',
                            re.IGNORECASE)


class RegFileError(Exception):
    pass


def decode_reg_bytes(data):
    """The file's text: UTF-16LE after FF FE, otherwise UTF-8 (a BOM is dropped)."""
    if data.startswith(UTF16_BOM):
        return data[2:].decode("utf-16-le")
    if data.startswith(UTF8_BOM):
        data = data[3:]
    return data.decode("utf-8")


def header_of(text):
    first = re.split(r"\r\n|\r|\n", text, maxsplit=1)[0].lstrip(" \t")
    return first if first in HEADERS else None


def logical_lines(text):
    """Lines with hex continuations joined: a line ending in a backslash goes on with the next
    line, whose leading blanks are dropped."""
    lines = re.split(r"\r\n|\r|\n", text)
    joined = []
    pending = None
    for line in lines:
        if pending is not None:
            # Blank and comment lines inside continued data are skipped, as Windows does.
            if line.strip(" \t") == "" or line.lstrip(" \t").startswith(";"):
                continue
            line = pending + line.lstrip(" \t")
            pending = None
        stripped = re.sub(r"\\[ \t]*;.*$", "\\\\", line).rstrip(" \t")
        if stripped.endswith("\\") and HEX_VALUE_LINE.match(stripped):
            pending = stripped[:-1]
            continue
        joined.append(line)
    if pending is not None:
        joined.append(pending)
    return joined


def read_quoted(text, start, wine_escapes):
    """The string that opens with the quote at text[start]; returns (string, index behind it)."""
    assert text[start] == '"'
    out = []
    index = start + 1
    while index < len(text):
        char = text[index]
        if char == '"':
            return "".join(out), index + 1
        if char == "\\" and index + 1 < len(text):
            following = text[index + 1]
            if following in '\\"':
                out.append(following)
                index += 2
                continue
            if wine_escapes and following in "nr0":
                out.append({"n": "\n", "r": "\r", "0": "\0"}[following])
                index += 2
                continue
            raise RegFileError(f"unknown escape \\{following}")
        out.append(char)
        index += 1
    raise RegFileError("unterminated string")


def strip_comment(text):
    position = text.find(";")
    return (text if position < 0 else text[:position]).strip(" \t")


def parse_data(text, wine_escapes):
    """(type, bytes) of a value's data, or None for a deletion."""
    text = text.lstrip(" \t")
    if text.startswith('"'):
        string, end = read_quoted(text, 0, wine_escapes)
        if strip_comment(text[end:]):
            raise RegFileError("text behind a string")
        return REG_SZ, (string + "\0").encode("utf-16-le", "surrogatepass")
    body = strip_comment(text)
    if body == "-":
        return None
    lowered = body.lower()
    if lowered.startswith("dword:"):
        digits = body[6:].strip()
        if not re.fullmatch(r"[0-9a-fA-F]{1,8}", digits):
            raise RegFileError(f"bad dword {digits!r}")
        return REG_DWORD, int(digits, 16).to_bytes(4, "little")
    match = re.fullmatch(r"hex(?:\(([0-9a-fA-F]+)\))?:(.*)", body, re.IGNORECASE | re.DOTALL)
    if match:
        value_type = int(match.group(1), 16) if match.group(1) is not None else 3
        items = [item.strip() for item in match.group(2).split(",")]
        if items and items[-1] == "":
            items.pop()
        if not all(re.fullmatch(r"[0-9a-fA-F]{1,2}", item) for item in items):
            raise RegFileError(f"bad hex data {match.group(2)!r}")
        data = bytes(int(item, 16) for item in items)
        # Text data without a final zero character get one on import.
        if value_type in (1, 2, 7) and len(data) >= 2 and len(data) % 2 == 0 and data[-2:] != b"\0\0":
            data += b"\0\0"
        return value_type, data
    raise RegFileError(f"unknown data {body!r}")


def ensure_key(state, path):
    parts = path.split("\\")
    for count in range(1, len(parts) + 1):
        state.setdefault("\\".join(parts[:count]).lower(), {})


def delete_key(state, path):
    lowered = path.lower()
    for key in [key for key in state if key == lowered or key.startswith(lowered + "\\")]:
        del state[key]


def parse_reg_text(text, wine_escapes=False):
    if header_of(text) is None:
        raise RegFileError("no registry file header")
    state = {}
    current = None
    for number, line in enumerate(logical_lines(text)[1:], start=2):
        stripped = line.strip(" \t")
        if not stripped or stripped[0] in ";#":
            continue
        try:
            if stripped.startswith("["):
                name = stripped[1:stripped.rindex("]")]
                if name.startswith("-"):
                    delete_key(state, name[1:])
                    current = None
                else:
                    ensure_key(state, name)
                    current = name.lower()
                continue
            if current is None:
                continue
            if stripped.startswith("@"):
                value_name, rest = "", stripped[1:]
            elif stripped.startswith('"'):
                value_name, end = read_quoted(stripped, 0, wine_escapes)
                rest = stripped[end:]
            else:
                raise RegFileError("a line that is neither a key nor a value")
            rest = rest.lstrip(" \t")
            if not rest.startswith("="):
                raise RegFileError("no '=' behind the value name")
            data = parse_data(rest[1:], wine_escapes)
            if data is None:
                state[current].pop(value_name.lower(), None)
            else:
                state[current][value_name.lower()] = data
        except (RegFileError, ValueError) as error:
            raise RegFileError(f"line {number}: {error}") from None
    return state


def parse_reg_bytes(data, wine_escapes=False):
    return parse_reg_text(decode_reg_bytes(data), wine_escapes)


def within(state, areas):
    """The part of a state at or below any of the given key paths."""
    lowered = [area.lower() for area in areas]
    return {key: dict(values) for key, values in state.items()
            if any(key == area or key.startswith(area + "\\") for area in lowered)}


def apply_changes(base, before, after):
    """base changed as before -> after changes: keys added or removed, values set or removed."""
    result = {key: dict(values) for key, values in base.items()}
    for key in before:
        if key not in after:
            delete_key(result, key)
    for key, values in after.items():
        if key not in before:
            result[key] = dict(values)
            continue
        target = result.setdefault(key, {})
        for name in set(before[key]) | set(values):
            if name not in values:
                target.pop(name, None)
            elif before[key].get(name) != values[name]:
                target[name] = values[name]
    return result


def describe_data(data):
    if data is None:
        return "nothing"
    value_type, raw = data
    if value_type == REG_SZ and len(raw) % 2 == 0:
        return f"REG_SZ {raw.decode('utf-16-le', 'replace')!r}"
    return f"type {value_type} bytes {raw.hex(',')}"


def state_differences(expected, actual):
    """One line per key or value where the two states differ."""
    lines = []
    for key in sorted(set(expected) | set(actual)):
        if key not in actual:
            lines.append(f"key missing: {key}")
            continue
        if key not in expected:
            lines.append(f"key not expected: {key}")
            continue
        for name in sorted(set(expected[key]) | set(actual[key])):
            want = expected[key].get(name)
            have = actual[key].get(name)
            if want != have:
                shown = name if name else "@"
                lines.append(f"{key} {shown!r}: expected {describe_data(want)}, "
                             f"found {describe_data(have)}")
    return lines
