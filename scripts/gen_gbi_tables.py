#!/usr/bin/env python3
"""Writes gbi/facts_tables.inc from the GBI fact sheet (the TSV files).

usage: scripts/gen_gbi_tables.py [FACTS_DIR]   (default ../shared/gbi)

The output is checked in; run this again when the facts change. It holds:
- every single-command macro of F3D, F3DEX and F3DEX2 as a MacroSpec row:
  opcode, the fixed fields that select it, and each argument with its field,
  its linear encoding and its kind;
- the named-constant tables, per microcode;
- the render-mode and combine-mode presets.
Which rows are tried first for one opcode, and the handful of encodings that
are not linear, are decided here and in gbi/macro_table.cpp.
"""
import csv
import os
import re
import sys

FACTS = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), '..', '..', 'shared', 'gbi')
OUT = os.path.join(os.path.dirname(__file__), '..', 'gbi', 'facts_tables.inc')

UCODE_BITS = {'f3d': 1, 'f3dex': 2, 'f3dex2': 4, 'f3dex3': 8}


def ucode_mask(text):
    if text == 'all':
        return 7
    m = 0
    for u in text.split(','):
        m |= UCODE_BITS[u.strip()]
    return m


def read_f3dex3(name):
    path = os.path.join(FACTS, 'f3dex3', name)
    with open(path, newline='') as f:
        return list(csv.DictReader(f, delimiter='\t'))


# F3DEX3 keeps most of F3DEX2: a row of a macro the F3DEX3 facts call "same"
# serves both (its F3DEX2 bit gets the F3DEX3 bit too); the changed and new
# commands are rows of their own (gbi/f3dex3_rows.inc).
F3DEX3_SAME = {r['macro'] for r in read_f3dex3('fields.tsv') if r['vs_f3dex2'] == 'same'}

# Constant tables F3DEX3 redefines as a whole: its own rows replace the F3DEX2
# ones. Everything else F3DEX2 has, F3DEX3 has too, unless removed.
F3DEX3_TABLES = {'geometry_mode': 'G_GEOMETRY_MODE', 'mtx_param': 'G_MTX', 'movemem_index': 'G_MV',
                 'moveword_index': 'G_MW', 'numlights': 'NUMLIGHTS', 'light_index': 'LIGHT',
                 'moveword_offset': 'G_MWO', 'alpha_compare_cull': 'G_ALPHA_COMPARE_CULL', 'snake': 'G_SNAKE'}
F3DEX3_REMOVED = {r['name'] for r in read_f3dex3('constants.tsv') if r['status'] == 'removed'}


def with_f3dex3(mask, table=None, name=None):
    if not (mask & 4):
        return mask
    if table in F3DEX3_TABLES.values() or table == 'G_MVO':
        return mask
    if name in F3DEX3_REMOVED:
        return mask
    return mask | 8


def read_tsv(name):
    with open(os.path.join(FACTS, name), newline='') as f:
        return list(csv.DictReader(f, delimiter='\t'))


# Generic builders and forms that only exist with build switches are not rows
# of their own; the generic ones serve as raw fallbacks in macro_table.cpp.
SKIP_MACROS = {
    'gsDma0p', 'gsDma1p', 'gsDma2p', 'gsImmp0', 'gsImmp1', 'gsImmp2', 'gsImmp3', 'gsImmp21',
    'gsSetImage', 'gsDPNoParam', 'gsDPParam', 'gsDPSetColor', 'sDPRGBColor', 'gsDPLoadTileGeneric',
    'gsDPSetBlendMask', 'gsSPFogPosition', 'gsDPSetMaskImage',
    'gsDPSetCombine', 'gsDPSetCombineLERP', 'gsDPSetCombineMode',
}

# Preference among rows sharing an opcode: earlier wins when several fit.
PREFERENCE = [
    'gsSPNoOp', 'gsDPNoOp', 'gsDPNoOpTag',
    'gsSPDisplayList', 'gsSPBranchList',
    'gsSPSegment', 'gsSPNumLights', 'gsSPFogFactor', 'gsSPPerspNormalize', 'gsSPInsertMatrix',
    'gsSPModifyVertex', 'gsMoveWd',
    'gsSPViewport', 'gsSPLookAtX', 'gsSPLookAtY', 'gsSPLight',
    'gsSPPopMatrix', 'gsSPPopMatrixN', 'gsSPSprite2DDraw',
    'gsSPCullDisplayList', 'gsSPSprite2DScaleFlip',
    'gsSP2Triangles', 'gsSP1Quadrangle',
    'gsSPLine3D', 'gsSPLineW3D',
    'gsSPTexture', 'gsSPTextureL',
    'gsSPLoadGeometryMode', 'gsSPSetGeometryMode', 'gsSPClearGeometryMode', 'gsSPGeometryMode',
    'gsDPSetRenderMode', 'gsDPSetAlphaCompare', 'gsDPSetDepthSource',
    'gsDPPipelineMode', 'gsDPSetCycleType', 'gsDPSetTexturePersp', 'gsDPSetTextureDetail',
    'gsDPSetTextureLOD', 'gsDPSetTextureLUT', 'gsDPSetTextureFilter', 'gsDPSetTextureConvert',
    'gsDPSetCombineKey', 'gsDPSetColorDither', 'gsDPSetAlphaDither', 'gsSPSetOtherMode',
    'gsDPSetScissor', 'gsDPSetScissorFrac',
    'gsSPDmaRead', 'gsSPDmaWrite', 'gsSPDma_io',
    'gsDPSetDepthImage',
]


def preference(name):
    return PREFERENCE.index(name) if name in PREFERENCE else len(PREFERENCE)


PRE_SHIFTED = {'G_PM': 'Pm', 'G_CYC': 'Cyc', 'G_TP': 'Tp', 'G_TD': 'Td', 'G_TL': 'Tl', 'G_TT': 'Tt',
               'G_TF': 'Tf', 'G_TC': 'Tc', 'G_CK': 'Ck', 'G_CD': 'Cd', 'G_AD': 'Ad', 'G_AC': 'Ac',
               'G_ZS': 'Zs'}


def kind_of(typ):
    t = typ
    if t.startswith('addr'):
        return 'Addr', 'None'
    if t.startswith('u32') or t.startswith('fixed'):
        return 'Hex', 'None'
    if 'tile descriptor' in t:
        return 'Tile', 'None'
    if t == 'G_ON/G_OFF':
        return 'Const', 'OnOff'
    if t.startswith('G_IM_FMT'):
        return 'Const', 'ImFmt'
    if t.startswith('G_IM_SIZ'):
        return 'Const', 'ImSiz'
    if t.startswith('G_TX_cm'):
        return 'Flags', 'TxCm'
    if t.startswith('G_MWO_POINT'):
        return 'Const', 'MwoPoint'
    if t.startswith('G_MWO_MATRIX'):
        return 'Const', 'MwoMatrix'
    if t.startswith('G_MWO'):
        return 'Hex', 'None'
    if t == 'G_MW':
        return 'Const', 'Mw'
    if t == 'G_MV':
        return 'Const', 'Mv'
    if t.startswith('G_MTX flags'):
        return 'Flags', 'Mtx'
    if t.startswith('G_MTX'):
        return 'Const', 'MtxTarget'
    if t.startswith('G_GEOMETRY_MODE'):
        return 'Flags', 'GeometryMode'
    if t.startswith('LIGHT_'):
        return 'Const', 'Light'
    if t.startswith('NUMLIGHTS'):
        return 'Const', 'NumLights'
    if t == 'G_SC':
        return 'Const', 'Sc'
    if t.startswith('G_BZ'):
        return 'Const', 'Bz'
    m = re.match(r'(G_[A-Z]+) \(pre-shifted constant\)', t)
    if m:
        return 'Const', PRE_SHIFTED[m.group(1)]
    if t.startswith('opcode G_SETOTHERMODE'):
        return 'Const', 'Opcode'
    if t == 'float pixels':
        return 'Int', 'None'
    if t.startswith('int16') or t.startswith('int9'):
        return 'SInt', 'None'
    if t.startswith('int') or t in ('pad', 'type'):
        return 'Int', 'None'
    if t.startswith('OR of'):
        return 'Hex', 'None'
    if t == 'G_RM':
        return 'Hex', 'None'
    if t.startswith('G_MDSFT'):
        return 'Const', 'MdsftH' if t.endswith('H') else 'MdsftL'
    raise SystemExit('unknown type: ' + t)


def parse_bits(bits):
    if '-' in bits:
        hi, lo = bits.split('-')
        return int(hi), int(lo)
    return int(bits), int(bits)


def linear(encode):
    """(mul, add, div, xor, special) for an encode expression of x."""
    e = encode.strip()
    e = re.sub(r'\s*\((flag\d? 0)\)$', '', e)
    table = {
        'x': (1, 0, 1, 0), 'x-1': (1, -1, 1, 0), 'x*2': (2, 0, 1, 0), 'x*10': (10, 0, 1, 0),
        'x*4': (4, 0, 1, 0), 'x<<2': (4, 0, 1, 0), 'x<<1': (2, 0, 1, 0), 'x*16': (16, 0, 1, 0),
        'x*16-1': (16, -1, 1, 0), 'x*24': (24, 0, 1, 0), 'x*64': (64, 0, 1, 0), 'x*5': (5, 0, 1, 0),
        'x/8': (1, 0, 8, 0), '(x-1)/8': (1, -1, 8, 0), 'x ^ 1': (1, 0, 1, 1),
        '~x & 0xFFFFFF': (1, 0, 1, 0xFFFFFF), '(int)(x*4.0)': (4, 0, 1, 0),
        '(x-1)*2+0x86': (2, 0x84, 1, 0), '(x+1)*32+0x80000000': (32, 0x80000020, 1, 0),
        '(x*24+24)/8': (3, 3, 1, 0), 'MIN(x, 2047)': (1, 0, 1, 0, 2047), 'MIN(x, 4095)': (1, 0, 1, 0, 4095),
        '(x & 15)*40': (40, 0, 1, 0), '0x10000 - x': (-1, 0x10000, 1, 0), '(x-1)<<2': (4, -4, 1, 0),
    }
    if e in table:
        t = table[e]
        return t[:4] + ('None', t[4] if len(t) > 4 else -1)
    m = re.match(r'^x\+(\d+)$', e)
    if m:
        return (1, int(m.group(1)), 1, 0, 'None', -1)
    special = {
        '32-x-len': 'OtherModeShift', 'x+n': 'VertexEnd', 'x>>5': 'ConvertK2',
        'vtx*40+where': 'ModifyVertexF3d', '((x+1) & 15)*40': 'CullEndF3d', 'c0|c1': 'RenderMode',
    }
    if e in special:
        return (1, 0, 1, 0, special[e], -1)
    return None


def cpp_str(s):
    return '"' + s + '"'


def main():
    fields = read_tsv('fields.tsv')
    macros = {}  # (ucodes, name) -> {'sig':row, 'rows':[...]}
    order = []
    for r in fields:
        key = (r['ucode'], r['macro'], r['source'])
        if r['arg'] == '(signature)':
            macros[key] = {'sig': r, 'rows': []}
            order.append(key)
        else:
            macros[key]['rows'].append(r)

    out = []
    out.append('// Generated by scripts/gen_gbi_tables.py from the GBI fact sheet. Do not edit.')
    out.append('// clang-format off')
    rows = []
    unhandled = []
    for key in order:
        ucodes, name, source = key
        m = macros[key]
        sig = m['sig']
        if name in SKIP_MACROS or source != 'ultralib':
            continue
        if not sig['notes'].startswith('1 command'):
            continue
        argnames = re.match(r'[\w]+\((.*)\)', sig['encode']).group(1)
        argnames = [a.strip() for a in argnames.split(',') if a.strip()]
        fixed = [[0, 0], [0, 0]]
        opcode = None
        args = {a: {'fields': [], 'kind': None} for a in argnames}
        special = 'None'
        for r in m['rows']:
            enc = r['encode']
            if r['arg'] == '-':
                if not enc.startswith('='):
                    continue
                val = int(enc[1:].split()[0], 0)
                w = 0 if r['word'] == 'w0' else 1
                hi, lo = parse_bits(r['bits'])
                mask = ((1 << (hi - lo + 1)) - 1) << lo
                fixed[w][0] |= mask
                fixed[w][1] |= (val << lo) & mask
                if w == 0 and hi == 31 and lo == 24:
                    opcode = val
                continue
            arg = r['arg']
            if ',' in arg:
                # one field from several arguments: handled as a special row
                lin = linear(enc)
                special = lin[4] if lin else 'Unhandled'
                for a in arg.split(','):
                    args[a]['kind'] = kind_of(r['type'])
                if special == 'RenderMode':
                    hi, lo = parse_bits(r['bits'])
                    args['c0']['fields'].append((1, lo, hi - lo + 1, (1, 0, 1, 0, -1)))
                continue
            a = args[arg]
            a['kind'] = a['kind'] or kind_of(r['type'])
            if arg in ('masks', 'maskt'):
                a['kind'] = ('Const', 'TxMask')
            if arg in ('shifts', 'shiftt'):
                a['kind'] = ('Const', 'TxShift')
            if enc.startswith('not encoded') or enc.startswith('flag ') or enc.startswith('same rotation'):
                a['notstored'] = True
                continue
            if r['word'] not in ('w0', 'w1'):
                unhandled.append((ucodes, name, arg, r['word'], enc))
                continue
            lin = linear(enc)
            if lin is None:
                unhandled.append((ucodes, name, arg, enc))
                continue
            if lin[4] != 'None':
                special = lin[4]
            hi, lo = parse_bits(r['bits'])
            a['fields'].append((0 if r['word'] == 'w0' else 1, lo, hi - lo + 1, lin[:4] + (lin[5],)))
            if r['word'] == 'w0' and hi == 31 and lo == 24 and r['type'].startswith('opcode'):
                pass
        if name == 'gsDPSetOtherMode':
            special = 'WholeOtherMode'
        elif name == 'gsSPSetOtherMode' and special == 'None':
            special = 'OtherModeFields'
        elif name == 'gsSPSetOtherMode':
            special = 'OtherModeShiftFields'
        rows.append((ucodes, name, opcode, fixed, argnames, args, special))

    out.append('')
    out.append('namespace dlscope::gbi::facts {')
    out.append('')
    for idx, (ucodes, name, opcode, fixed, argnames, args, special) in enumerate(rows):
        lines = []
        for a in argnames:
            arg = args[a]
            kind, table = arg['kind'] or ('Int', 'None')
            if arg.get('notstored') and not arg['fields']:
                kind = 'NotStored'
            fs = arg['fields'][:2]
            def fref(f):
                if f is None:
                    return '{}', '{}'
                w, lo, width, (mul, add, div, xor, mx) = f
                if mx >= 0:
                    return ('{%d, %d, %d}' % (w, lo, width), '{%d, %d, %d, 0x%X, %d}' % (mul, add, div, xor, mx))
                return ('{%d, %d, %d}' % (w, lo, width), '{%d, %d, %d, 0x%X}' % (mul, add, div, xor))
            f1, e1 = fref(fs[0] if fs else None)
            f2, e2 = fref(fs[1] if len(fs) > 1 else None)
            lines.append('    {%s, ArgKind::%s, ConstTable::%s, %s, %s, %s, %s},' % (
                cpp_str(a), kind, table, f1, e1, f2, e2))
        if lines:
            out.append('inline constexpr ArgSpec kArgs%d[] = {  // %s %s' % (idx, ucodes, name))
            out.extend(lines)
            out.append('};')
    out.append('')
    out.append('inline constexpr MacroSpec kMacros[] = {')
    ordered = sorted(range(len(rows)), key=lambda i: (rows[i][2] if rows[i][2] is not None else -1, preference(rows[i][1]), i))
    for idx in ordered:
        ucodes, name, opcode, fixed, argnames, args, special = rows[idx]
        if opcode is None:
            opcode_text = '-1'
        else:
            opcode_text = '0x%02X' % opcode
        argref = 'kArgs%d' % idx if argnames else 'std::span<const ArgSpec>{}'
        mask = ucode_mask(ucodes)
        if name in F3DEX3_SAME:
            mask = with_f3dex3(mask)
        out.append('    {%s, %d, %s, {0x%08X, 0x%08X}, {0x%08X, 0x%08X}, %s, Special::%s},' % (
            cpp_str(name), mask, opcode_text, fixed[0][0], fixed[1][0], fixed[0][1], fixed[1][1],
            argref, special))
    out.append('};')

    # Named constants, per table and microcode.
    consts = read_tsv('constants.tsv')
    tables = {}
    for r in consts:
        if 'HW1 only' in r['notes']:
            continue
        r = dict(r)
        r['mask'] = with_f3dex3(ucode_mask(r['ucode']), r['table'], r['name'])
        tables.setdefault(r['table'], []).append(r)
    for r in read_f3dex3('constants.tsv'):
        table = F3DEX3_TABLES.get(r['table'])
        if not table or r['status'] == 'removed' or not re.match(r'^-?0x[0-9A-Fa-f]+$', r['value'].strip()):
            continue
        tables.setdefault(table, []).append({'table': table, 'name': r['name'], 'value': r['value'].strip(),
                                             'mask': 8, 'notes': r['notes']})
    out.append('')
    for t, rs in tables.items():
        ident = re.sub(r'[^A-Za-z0-9]', '_', t)
        out.append('inline constexpr NamedValue kConst_%s[] = {' % ident)
        for r in rs:
            v = int(r['value'], 0)
            out.append('    {%d, %d, %s},' % (r['mask'], v, cpp_str(r['name'])))
        out.append('};')

    # Combiner slot names: for each slot, the name printed for each code.
    slot_names = {}
    for r in consts:
        if not r['table'].startswith('CC_SLOT_'):
            continue
        slot = r['table'][len('CC_SLOT_'):]
        code = int(r['value'], 0)
        m = re.search(r'print as (\S+?)[ ;)]', r['notes'] + ' ')
        if m:
            printed = m.group(1)
        else:
            m = re.search(r'only token\(s\) producing it: ([A-Z0-9_]+)', r['notes'])
            printed = m.group(1)
        slot_names.setdefault(slot, {})[code] = printed
    out.append('')
    for slot in ['a', 'b', 'c', 'd', 'Aa', 'Ab', 'Ac', 'Ad']:
        names = slot_names[slot]
        width = {'a': 16, 'b': 16, 'c': 32}.get(slot, 8)
        items = [cpp_str(names.get(c, '')) for c in range(width)]
        out.append('inline constexpr std::string_view kMuxNames_%s[%d] = {%s};' % (slot, width, ', '.join(items)))

    # Blender slot names.
    for slot in ['m1a', 'm1b', 'm2a', 'm2b']:
        names = {}
        for r in consts:
            if r['table'] == 'BL_SLOT_' + slot:
                names.setdefault(int(r['value'], 0), r['name'])
        out.append('inline constexpr std::string_view kBlendNames_%s[4] = {%s};' % (
            slot, ', '.join(cpp_str(names[c]) for c in range(4))))

    # Render-mode presets.
    out.append('')
    out.append('inline constexpr RenderPreset kRenderPresets[] = {')
    for r in read_tsv('rendermodes.tsv'):
        sm64 = r['headers'].strip() == 'sm64'
        name2 = r['name2'] if r['name2'] != '-' else ''
        v2 = int(r['cycle2_value'], 0) if r['cycle2_value'] != '-' else 0
        out.append('    {%s, 0x%08X, %s, 0x%08X, %s},' % (
            cpp_str(r['name']), int(r['cycle1_value'], 0), cpp_str(name2), v2, 'true' if sm64 else 'false'))
    out.append('};')

    # Combine-mode presets.
    out.append('')
    out.append('inline constexpr CombinePreset kCombinePresets[] = {')
    for r in read_tsv('combinemodes.tsv'):
        codes = [int(c) for c in r['codes'].split(',')]
        headers = r['headers']
        libultra = 'ultralib' in headers
        sm64 = 'sm64' in headers
        alias = r['alias_of'] != '-'
        out.append('    {%s, {%s}, %s, %s, %s, %s},' % (
            cpp_str(r['name']), ', '.join(str(c) for c in codes), r['cycle'],
            'true' if libultra else 'false', 'true' if sm64 else 'false', 'true' if alias else 'false'))
    out.append('};')
    # Opcode names per microcode.
    out.append('')
    out.append('inline constexpr OpcodeName kOpcodeNames[] = {')
    for r in read_tsv('opcodes.tsv'):
        words = r['words']
        out.append('    {%d, 0x%s, %s, %s},' % (ucode_mask(r['ucode']), r['opcode'], cpp_str(r['command']),
                                              'true' if words == '-' else 'false'))
    for r in read_f3dex3('opcodes.tsv'):
        if r['command'].startswith('('):
            continue
        out.append('    {8, 0x%s, %s, false},' % (r['opcode'], cpp_str(r['command'])))
    out.append('};')
    out.append('')
    out.append('} // namespace dlscope::gbi::facts')

    with open(OUT, 'w') as f:
        f.write('\n'.join(out) + '\n')
    for u in unhandled:
        print('unhandled:', u, file=sys.stderr)


main()
