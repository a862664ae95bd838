#!/usr/bin/env python3
"""Repairs widl's -Oif proxy format strings: [out, string] LPWSTR* parameters, and
[in] parameters whose server-side copy Wine's stub never frees.

widl (7.0 and 8.0) writes, for a parameter such as `[out, string] LPWSTR *pp`,
the type offset of the pointee (an FC_UP/FC_OP/FC_FP entry) into the procedure
format string, although the parameter is neither a simple reference
(IsSimpleRef) nor a base type. The NDR engine then treats the caller's
LPWSTR* slot as the string pointer itself and the caller receives NULL.
With `[out, string, size_is(,n)] LPWSTR **pp` it points one level deeper
still, at the array of strings, and the caller receives garbage.
MIDL points such a parameter at the FC_RP [pointer_deref] entry that widl
emits right before the pointer chain.

A top-level out-pointer must be named by its own entry: FC_RP, or FC_UP for
an [in, out, unique] one. This script parses both format strings of a
generated *_p.c and re-points every out-parameter that names the pointee of a
pointer chain laid out right before it at the outermost pointer of that chain
(the same slip, also made for [in, out, string] and [in, out, unique, string]
LPWSTR*). An out-parameter that names no pointer at all is reported and left
alone.

Second, an [in] parameter marked IsSimpleRef whose pointee the stub must build
in memory of its own (a VARIANT, an array of VARIANTs or of structures with
pointers: FC_USER_MARSHAL, FC_BOGUS_ARRAY) is re-pointed at the FC_RP entry
that widl also emits for it, and its IsSimpleRef flag is cleared. Both forms
describe the same wire data; but Wine 8's NdrStubCall2 allocates the pointee
of a simple reference and never frees it (one heap block per call: 48 bytes
for one VARIANT), while through the FC_RP entry it frees what it allocated.
DEVELOPERS.md has the reproduction.

A second run finds nothing to change.

Usage: widlfix.py <file>_p.c [...]
"""

import re
import sys

FC_RP, FC_UP, FC_OP, FC_FP = 0x11, 0x12, 0x13, 0x14
FC_BOGUS_ARRAY, FC_USER_MARSHAL = 0x21, 0xb4
# Pointees that the stub cannot use in place in the buffer.
STUB_ALLOCATED_TYPES = (FC_BOGUS_ARRAY, FC_USER_MARSHAL)
FC_AUTO_HANDLE = 0x33
POINTER_TYPES = (FC_RP, FC_UP, FC_OP, FC_FP)
FC_SIMPLE_POINTER = 0x08
FC_POINTER_DEREF = 0x10
FC_ALLOCED_ON_STACK = 0x04
MAX_POINTER_LEVELS = 3

PARAM_IS_IN = 0x0008
PARAM_IS_OUT = 0x0010
PARAM_IS_BASETYPE = 0x0040
PARAM_IS_SIMPLE_REF = 0x0100

OI_HAS_RPC_FLAGS = 0x08
OI2_HAS_EXTENSIONS = 0x40


class FormatError(Exception):
    pass


class Token:
    """One element of a format-string initialiser and where it sits in the file."""

    def __init__(self, kind, value, start, end):
        self.kind = kind      # 'byte', 'short' or 'long'
        self.value = value
        self.start = start    # span of the token in the file text
        self.end = end
        self.offset = 0       # byte offset in the format string

    @property
    def size(self):
        return {'byte': 1, 'short': 2, 'long': 4}[self.kind]


TOKEN_RE = re.compile(
    r'/\*.*?\*/'                                   # comment
    r'|(?P<macro>NdrFc(?P<kind>Short|Long))\s*\(\s*(?P<arg>[^)]*?)\s*\)'
    r'|(?P<num>-?(?:0[xX][0-9a-fA-F]+|\d+))'
    r'|(?P<sep>[\s,]+)'
    r'|(?P<other>.)', re.S)


def parse_int(text):
    return int(text, 0)


def find_format_string(text, name):
    """Returns (tokens, buffer) for the initialiser of the named format string."""
    head = re.search(r'static\s+const\s+MIDL_(?:PROC|TYPE)_FORMAT_STRING\s+'
                     + re.escape(name) + r'\s*=\s*\{', text)
    if not head:
        raise FormatError(f'{name} not found')
    # The initialiser is { pad, { bytes... } }; the bytes sit in the inner braces.
    inner_open = text.index('{', head.end())
    inner_close = text.index('}', inner_open)
    body_start, body_end = inner_open + 1, inner_close
    tokens = []
    offset = 0
    for m in TOKEN_RE.finditer(text, body_start, body_end):
        if m.group('macro'):
            kind = m.group('kind').lower()
            value = parse_int(m.group('arg'))
        elif m.group('num'):
            kind = 'byte'
            value = parse_int(m.group('num'))
        elif m.group('other'):
            raise FormatError(f'{name}: unexpected text {m.group(0)!r} '
                              f'at line {text.count(chr(10), 0, m.start()) + 1}')
        else:
            continue
        token = Token(kind, value, m.start(), m.end())
        token.offset = offset
        offset += token.size
        tokens.append(token)
    buf = bytearray()
    for t in tokens:
        buf += (t.value & ((1 << (8 * t.size)) - 1)).to_bytes(t.size, 'little')
    return tokens, buf


def u16(buf, pos):
    return buf[pos] | (buf[pos + 1] << 8)


def procedures(proc):
    """Yields (parameter offset, flags, type offset) for every parameter."""
    pos = 0
    while pos < len(proc) and not (pos == len(proc) - 1 and proc[pos] == 0):
        handle_type, oi_flags = proc[pos], proc[pos + 1]
        if handle_type != FC_AUTO_HANDLE:
            raise FormatError(f'procedure at {pos}: handle type {handle_type:#x} '
                              'not supported (object interfaces only)')
        pos += 2
        if oi_flags & OI_HAS_RPC_FLAGS:
            pos += 4
        pos += 2 + 2          # procedure number, stack size
        pos += 2 + 2          # client and server buffer sizes
        oi2_flags, param_count = proc[pos], proc[pos + 1]
        pos += 2
        if oi2_flags & OI2_HAS_EXTENSIONS:
            pos += proc[pos]  # the extension block counts its own size byte
        for _ in range(param_count):
            flags = u16(proc, pos)
            type_offset = None if flags & PARAM_IS_BASETYPE else u16(proc, pos + 4)
            yield pos, flags, type_offset
            pos += 6


def s16(buf, pos):
    value = u16(buf, pos)
    return value - 0x10000 if value & 0x8000 else value


def enclosing_pointer(types, target):
    """The outermost pointer of the chain that widl laid out right before target.

    widl writes each pointer level immediately before the level it points to:
    the top-level pointer (FC_RP, or FC_UP for a [unique] top-level pointer)
    with pointer_deref, optionally a unique/object pointer to an array, then
    the pointee. Returns None when no pointer entry points at target that way
    or the outermost one is no pointer-to-pointer.
    """
    outermost = None
    pos = target
    for _ in range(MAX_POINTER_LEVELS):
        entry = pos - 4
        if entry < 0 or types[entry] not in POINTER_TYPES or types[entry + 1] & FC_SIMPLE_POINTER:
            break
        if entry + 2 + s16(types, entry + 2) != pos:
            break
        outermost = pos = entry
    if outermost is None or not types[outermost + 1] & FC_POINTER_DEREF:
        return None
    return outermost


def out_pointer(flags, type_offset):
    """Out-parameters described by a full type entry (not a simple reference)."""
    return type_offset is not None and bool(flags & PARAM_IS_OUT) and not flags & PARAM_IS_SIMPLE_REF


def in_simple_ref_to_allocated(flags, types, type_offset):
    """[in]-only simple references to a pointee the stub allocates."""
    return (type_offset is not None and flags & PARAM_IS_IN and not flags & PARAM_IS_OUT
            and flags & PARAM_IS_SIMPLE_REF and types[type_offset] in STUB_ALLOCATED_TYPES)


def entry_offsets(text, name):
    """Offsets at which widl starts an entry of the type format string (its /* N */ marks)."""
    head = re.search(r'static\s+const\s+MIDL_TYPE_FORMAT_STRING\s+' + re.escape(name)
                     + r'\s*=\s*\{', text)
    body = text[head.end():text.index('}', text.index('{', head.end()))]
    return {int(m.group(1)) for m in re.finditer(r'^/\* (\d+)(?: \(.*\))? \*/', body, re.M)}


def plain_reference_to(types, entries, target):
    """The FC_RP entry that points at target with no flags of its own, or None."""
    for entry in sorted(entries):
        if (entry + 4 <= len(types) and types[entry] == FC_RP
                and not types[entry + 1] & (FC_SIMPLE_POINTER | FC_POINTER_DEREF
                                            | FC_ALLOCED_ON_STACK)
                and entry + 2 + s16(types, entry + 2) == target):
            return entry
    return None


def fix_text(text):
    proc_tokens, proc = find_format_string(text, '__MIDL_ProcFormatString')
    _, types = find_format_string(text, '__MIDL_TypeFormatString')
    by_offset = {t.offset: t for t in proc_tokens}
    edits = []
    warnings = []
    for param_pos, flags, type_offset in procedures(proc):
        if not out_pointer(flags, type_offset):
            continue
        pointer = enclosing_pointer(types, type_offset)
        if pointer is None:
            if types[type_offset] not in POINTER_TYPES:
                warnings.append(f'out-parameter at procedure offset {param_pos} (flags {flags:#06x}) '
                                f'names type offset {type_offset}, which is no pointer; left unchanged')
            continue
        token = by_offset.get(param_pos + 4)
        if token is None or token.kind != 'short':
            raise FormatError(f'type offset of the parameter at {param_pos} '
                              'is not written as one NdrFcShort')
        edits.append((token, pointer))
    entries = entry_offsets(text, '__MIDL_TypeFormatString')
    flag_edits = []
    for param_pos, flags, type_offset in procedures(proc):
        if not in_simple_ref_to_allocated(flags, types, type_offset):
            continue
        reference = plain_reference_to(types, entries, type_offset)
        if reference is None:
            warnings.append(f'[in] parameter at procedure offset {param_pos} names type offset '
                            f'{type_offset} and no FC_RP points there; left unchanged')
            continue
        flags_token, offset_token = by_offset.get(param_pos), by_offset.get(param_pos + 4)
        if any(t is None or t.kind != 'short' for t in (flags_token, offset_token)):
            raise FormatError(f'flags or type offset of the parameter at {param_pos} '
                              'is not written as one NdrFcShort')
        edits.append((offset_token, reference))
        flag_edits.append((flags_token, flags & ~PARAM_IS_SIMPLE_REF))
    changes = [(t, new, 'type offset') for t, new in edits]
    changes += [(t, new, 'flags') for t, new in flag_edits]
    for token, new, what in sorted(changes, key=lambda e: e[0].start, reverse=True):
        replacement = f'NdrFcShort({new:#x})'
        tail = text[token.end:]
        if what == 'type offset':
            # Keep the generated comment truthful.
            tail = re.sub(r'^(,\s*/\*\s*type offset = )\d+', rf'\g<1>{new}', tail, count=1)
        else:
            tail = re.sub(r'^(,\s*/\*\s*flags:.*?), simple ref', r'\g<1>', tail, count=1)
        text = text[:token.start] + replacement + tail
    return text, len(edits), warnings


def main(argv):
    if len(argv) < 2:
        print(__doc__.strip().splitlines()[-1], file=sys.stderr)
        return 2
    for path in argv[1:]:
        with open(path, encoding='utf-8') as f:
            text = f.read()
        try:
            fixed, count, warnings = fix_text(text)
        except FormatError as e:
            print(f'widlfix: {path}: {e}', file=sys.stderr)
            return 1
        for warning in warnings:
            print(f'widlfix: {path}: warning: {warning}', file=sys.stderr)
        if count:
            with open(path, 'w', encoding='utf-8') as f:
                f.write(fixed)
        print(f'widlfix: {path}: {count} parameter(s) re-pointed')
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
