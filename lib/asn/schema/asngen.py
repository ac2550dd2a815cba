#!/usr/bin/env python3
"""Compiles the ASN.1 modules of this folder into the value-tree header, the descriptor tables
walked by the engine, the PDU table in catalogue order and the object-identifier constants.

    asngen.py --schema DIR --oids oids.tsv --header OUT.h --tables OUT.cpp --oidsrc OUT.cpp

The accepted notation is the 1988 subset the modules use: type assignments, SEQUENCE, SET,
CHOICE, SEQUENCE OF, SET OF, tags with IMPLICIT/EXPLICIT and a module default, OPTIONAL,
DEFAULT, named numbers and bits, constraints (ranges are read, sizes ignored), ANY [DEFINED BY],
IMPORTS. Value assignments are not needed: identifiers come from the OID registry.
"""
import argparse
import os
import re
import sys

# ---------------------------------------------------------------------------------------------
# Lexer

TOKEN_RE = re.compile(r"""
    (?P<ws>\s+)
  | (?P<assign>::=)
  | (?P<ellipsis>\.\.\.)
  | (?P<range>\.\.)
  | (?P<num>-?\d+)
  | (?P<id>[A-Za-z][A-Za-z0-9]*(?:-[A-Za-z0-9]+)*)
  | (?P<str>"[^"]*")
  | (?P<punct>[{}()\[\],;|.:<@!^])
""", re.VERBOSE)


def strip_comments(text):
    out = []
    for line in text.split("\n"):
        res = []
        i = 0
        in_comment = False
        while i < len(line):
            if line.startswith("--", i):
                in_comment = not in_comment
                i += 2
                continue
            if not in_comment:
                res.append(line[i])
            i += 1
        out.append("".join(res))
    return "\n".join(out)


def tokenize(text, fname):
    text = strip_comments(text)
    toks = []
    pos = 0
    line = 1
    while pos < len(text):
        m = TOKEN_RE.match(text, pos)
        if not m:
            raise SystemExit("%s:%d: cannot read %r" % (fname, line, text[pos:pos + 20]))
        kind = m.lastgroup
        val = m.group(kind)
        if kind != "ws":
            toks.append((kind, val, line))
        line += val.count("\n")
        pos = m.end()
    toks.append(("eof", "", line))
    return toks


# ---------------------------------------------------------------------------------------------
# Syntax tree

class Tag:
    def __init__(self, cls, num, mode):
        self.cls, self.num, self.mode = cls, num, mode  # mode: IMPLICIT, EXPLICIT or None


class Type:
    """kind: a builtin name (BOOLEAN, INTEGER, ...), SEQUENCE, SET, CHOICE, SEQOF, SETOF, ANY,
    or REF (name in .ref)."""

    def __init__(self, kind):
        self.kind = kind
        self.tags = []          # outermost first
        self.ref = None
        self.fields = []        # Field list for SEQUENCE/SET/CHOICE
        self.elem = None        # Type for SEQOF/SETOF
        self.named = []         # (name, value) for INTEGER/ENUMERATED/BIT STRING
        self.range = None       # (lo, hi) of a value constraint, None for MAX/MIN
        self.module = None
        self.line = 0


class Field:
    def __init__(self, name, typ):
        self.name = name
        self.type = typ
        self.optional = False
        self.default = None     # value syntax tree


class Module:
    def __init__(self, name, default_tagging, fname):
        self.name = name
        self.tagging = default_tagging
        self.fname = fname
        self.types = {}         # name -> Type
        self.order = []
        self.imports = {}       # symbol -> module name


STRING_KINDS = {
    "UTF8String": 12, "NumericString": 18, "PrintableString": 19, "TeletexString": 20,
    "T61String": 20, "VideotexString": 21, "IA5String": 22, "GraphicString": 25,
    "VisibleString": 26, "ISO646String": 26, "GeneralString": 27, "UniversalString": 28,
    "BMPString": 30, "ObjectDescriptor": 7,
}
SIMPLE_KINDS = {"BOOLEAN", "NULL", "UTCTime", "GeneralizedTime"} | set(STRING_KINDS)


class Parser:
    def __init__(self, toks, fname):
        self.t = toks
        self.i = 0
        self.fname = fname

    def peek(self, k=0):
        return self.t[self.i + k]

    def next(self):
        tok = self.t[self.i]
        self.i += 1
        return tok

    def error(self, msg):
        raise SystemExit("%s:%d: %s" % (self.fname, self.peek()[2], msg))

    def expect(self, val):
        tok = self.next()
        if tok[1] != val:
            self.i -= 1
            self.error("expected %r, found %r" % (val, tok[1]))
        return tok

    def accept(self, val):
        if self.peek()[1] == val:
            self.i += 1
            return True
        return False

    def ident(self):
        tok = self.next()
        if tok[0] != "id":
            self.i -= 1
            self.error("expected a name, found %r" % tok[1])
        return tok[1]

    def skip_braces(self):
        depth = 0
        while True:
            tok = self.next()
            if tok[1] == "{":
                depth += 1
            elif tok[1] == "}":
                depth -= 1
                if depth == 0:
                    return
            elif tok[0] == "eof":
                self.error("unbalanced braces")

    def modules(self):
        mods = []
        while self.peek()[0] != "eof":
            mods.append(self.module())
        return mods

    def module(self):
        name = self.ident()
        if self.peek()[1] == "{":
            self.skip_braces()
        self.expect("DEFINITIONS")
        tagging = "EXPLICIT"
        if self.peek()[1] in ("IMPLICIT", "EXPLICIT"):
            tagging = self.next()[1]
            self.expect("TAGS")
        self.expect("::=")
        self.expect("BEGIN")
        mod = Module(name, tagging, self.fname)
        if self.accept("EXPORTS"):
            while not self.accept(";"):
                self.next()
        if self.accept("IMPORTS"):
            syms = []
            while not self.accept(";"):
                tok = self.next()
                if tok[1] == "FROM":
                    src = self.ident()
                    if self.peek()[1] == "{":
                        self.skip_braces()
                    for s in syms:
                        mod.imports[s] = src
                    syms = []
                elif tok[1] != ",":
                    syms.append(tok[1])
        while not self.accept("END"):
            tname = self.ident()
            line = self.peek()[2]
            self.expect("::=")
            typ = self.type()
            typ.line = line
            if tname in mod.types:
                self.error("type %s defined twice" % tname)
            mod.types[tname] = typ
            mod.order.append(tname)
        return mod

    def tag(self):
        self.expect("[")
        cls = "CONTEXT"
        if self.peek()[1] in ("UNIVERSAL", "APPLICATION", "PRIVATE"):
            cls = self.next()[1]
        num = int(self.next()[1])
        self.expect("]")
        mode = None
        if self.peek()[1] in ("IMPLICIT", "EXPLICIT"):
            mode = self.next()[1]
        return Tag(cls, num, mode)

    def type(self):
        tags = []
        while self.peek()[1] == "[":
            tags.append(self.tag())
        t = self.base_type()
        t.tags = tags + t.tags
        return t

    def constraint(self, t):
        """Reads '(' ... ')' after a type; keeps a value range for INTEGER."""
        self.expect("(")
        depth = 1
        toks = []
        while depth:
            tok = self.next()
            if tok[1] == "(":
                depth += 1
            elif tok[1] == ")":
                depth -= 1
            elif tok[0] == "eof":
                self.error("unbalanced constraint")
            if depth:
                toks.append(tok[1])
        if t is not None and t.kind == "INTEGER" and "SIZE" not in toks and ".." in toks:
            k = toks.index("..")
            lo = toks[k - 1] if k > 0 else "MIN"
            hi = toks[k + 1] if k + 1 < len(toks) else "MAX"
            t.range = (None if lo == "MIN" else int(lo), None if hi == "MAX" else int(hi))
        elif t is not None and t.kind == "INTEGER" and len(toks) == 1 and re.match(r"-?\d+$", toks[0]):
            t.range = (int(toks[0]), int(toks[0]))

    def named_list(self, bits=False):
        self.expect("{")
        out = []
        while True:
            if self.accept("..."):
                pass
            else:
                n = self.ident()
                self.expect("(")
                v = self.next()[1]
                self.expect(")")
                out.append((n, int(v)))
            if self.accept("}"):
                return out
            self.expect(",")

    def base_type(self):
        tok = self.next()
        v = tok[1]
        line = tok[2]
        if v == "INTEGER":
            t = Type("INTEGER")
            if self.peek()[1] == "{":
                t.named = self.named_list()
        elif v == "ENUMERATED":
            t = Type("ENUMERATED")
            t.named = self.named_list()
        elif v == "BIT":
            self.expect("STRING")
            t = Type("BIT STRING")
            if self.peek()[1] == "{":
                t.named = self.named_list(True)
        elif v == "OCTET":
            self.expect("STRING")
            t = Type("OCTET STRING")
        elif v == "OBJECT":
            self.expect("IDENTIFIER")
            t = Type("OBJECT IDENTIFIER")
        elif v == "ANY":
            t = Type("ANY")
            if self.accept("DEFINED"):
                self.expect("BY")
                self.ident()
        elif v in ("SEQUENCE", "SET"):
            if self.peek()[1] == "(" or self.peek()[1] == "SIZE":
                if self.accept("SIZE"):
                    self.constraint(None)
                else:
                    self.constraint(None)
            if self.accept("OF"):
                t = Type("SEQOF" if v == "SEQUENCE" else "SETOF")
                t.elem = self.type()
            else:
                t = Type(v)
                t.fields = self.components()
        elif v == "CHOICE":
            t = Type("CHOICE")
            t.fields = self.components(choice=True)
        elif v in SIMPLE_KINDS:
            t = Type(v)
        elif v == "CHARACTER":
            self.error("CHARACTER STRING is not supported")
        elif tok[0] == "id" and v[0].isupper():
            t = Type("REF")
            t.ref = v
            if self.peek()[1] == "{":  # parameterised reference: parameters are not used
                self.skip_braces()
        else:
            self.i -= 1
            self.error("unexpected %r" % v)
        t.line = line
        while self.peek()[1] == "(":
            self.constraint(t)
        if self.peek()[1] == "SIZE":
            self.next()
            self.constraint(None)
        return t

    def components(self, choice=False):
        self.expect("{")
        out = []
        if self.accept("}"):
            return out
        while True:
            if self.accept("..."):
                pass
            else:
                name = self.ident()
                if name[0].isupper():
                    self.error("component name %s must start in lower case" % name)
                f = Field(name, self.type())
                if not choice:
                    if self.accept("OPTIONAL"):
                        f.optional = True
                    elif self.accept("DEFAULT"):
                        f.default = self.value()
                out.append(f)
            if self.accept("}"):
                return out
            self.expect(",")

    def value(self):
        tok = self.next()
        if tok[1] == "{":
            items = []
            while not self.accept("}"):
                a = self.next()
                if self.peek()[1] not in (",", "}"):
                    items.append((a[1], self.value()))
                else:
                    items.append((a[1], None))
                self.accept(",")
            return ("braces", items)
        if tok[0] == "num":
            return ("num", int(tok[1]))
        if tok[1] in ("TRUE", "FALSE"):
            return ("bool", tok[1] == "TRUE")
        if tok[1] == "NULL":
            return ("null", None)
        if tok[0] == "id":
            return ("id", tok[1])
        self.i -= 1
        self.error("cannot read value %r" % tok[1])


# ---------------------------------------------------------------------------------------------
# Resolution, C names, descriptors

def cname(name):
    return name.replace("-", "_")


CLASS_BITS = {"UNIVERSAL": 0, "APPLICATION": 1, "CONTEXT": 2, "PRIVATE": 3}
UNIV = {
    "BOOLEAN": 1, "INTEGER": 2, "BIT STRING": 3, "OCTET STRING": 4, "NULL": 5,
    "OBJECT IDENTIFIER": 6, "ENUMERATED": 10, "SEQUENCE": 16, "SET": 17, "SEQOF": 16,
    "SETOF": 17, "UTCTime": 23, "GeneralizedTime": 24,
}
UNIV.update(STRING_KINDS)


def tagval(cls, num):
    return "ASN_TAG(%d, %d)" % (CLASS_BITS[cls], num)


class Desc:
    """One engine descriptor: a type as the engine sees it."""

    def __init__(self, kind, ctype, name):
        self.kind = kind          # engine kind name
        self.ctype = ctype        # C type of the value
        self.name = name          # ASN.1-ish name for messages
        self.tag = "0"
        self.fields = []          # list of DField
        self.inner = None         # Desc for TAGGED
        self.index = -1
        self.mask_bytes = 0
        self.node = None          # C struct tag of list nodes
        self.extra = 0            # range lower bound flag etc.
        self.nonneg = False


class DField:
    def __init__(self, name, desc):
        self.name = name
        self.desc = desc
        self.tag = None           # (cls, num)
        self.explicit = False
        self.optional = False
        self.default = None       # (blob bytes, c value or None)
        self.present = 0
        self.ptr = False
        self.member = None        # C member expression for offsetof
        self.ctype = None         # C type of the member
        self.keep = False         # the parent keeps the field's received encoding


class Compiler:
    def __init__(self, modules, oids):
        self.mods = {m.name: m for m in modules}
        self.modlist = modules
        self.oids = oids
        self.descs = []
        self.by_key = {}
        self.named_desc = {}     # (module, type name) -> Desc
        self.named_ctype = {}    # (module, type name) -> C type name
        self.registering = None  # named type whose descriptor may be referred to while built
        self.cnames = {}         # (module, name) -> C name
        self.structs = []        # C declarations to emit: (cname, kind, payload)
        self.c_taken = {}
        self.defines = []

    # -- lookup --------------------------------------------------------------------------
    def lookup(self, mod, name):
        if name in mod.types:
            return mod, mod.types[name]
        if name in mod.imports:
            src = self.mods.get(mod.imports[name])
            if not src or name not in src.types:
                raise SystemExit("%s: %s imported from %s, which does not define it" % (mod.fname, name, mod.imports[name]))
            return src, src.types[name]
        found = [m for m in self.modlist if name in m.types]
        if len(found) == 1:
            return found[0], found[0].types[name]
        if not found:
            raise SystemExit("%s: unknown type %s" % (mod.fname, name))
        raise SystemExit("%s: %s is defined in several modules; import it" % (mod.fname, name))

    def assign_cnames(self, catalogue):
        """Plain C names; a name that several modules define keeps it in the module listed first
        in the catalogue and gets a numeric suffix (_2, _3 ...) elsewhere."""
        first = {}
        for num, tname, mname in catalogue:
            first.setdefault(tname, mname)
        counts = {}
        for m in self.modlist:
            for t in m.order:
                counts.setdefault(t, []).append(m.name)
        for t, mods in counts.items():
            if len(mods) == 1:
                self.cnames[(mods[0], t)] = cname(t)
                continue
            keep = first.get(t, mods[0])
            k = 2
            for mn in [keep] + [x for x in mods if x != keep]:
                self.cnames[(mn, t)] = cname(t) if mn == keep else "%s_%d" % (cname(t), k)
                if mn != keep:
                    k += 1
        for key, cn in self.cnames.items():
            if cn in self.c_taken:
                raise SystemExit("C name %s used twice" % cn)
            self.c_taken[cn] = key

    def take(self, cn, what):
        if cn in self.c_taken:
            raise SystemExit("C name %s of %s clashes with %s" % (cn, what, self.c_taken[cn]))
        self.c_taken[cn] = what

    # -- tagging -------------------------------------------------------------------------
    def resolved_kind(self, mod, t, seen=None):
        """Builtin kind of t after following references (tags ignored)."""
        seen = seen or set()
        while t.kind == "REF":
            key = (mod.name, t.ref)
            if key in seen:
                return "REF"
            seen.add(key)
            mod, t = self.lookup(mod, t.ref)
        return t.kind

    def first_tag_mode(self, mod, t, tag, rest_kind_is_untaggable):
        mode = tag.mode or mod.tagging
        if rest_kind_is_untaggable:
            mode = "EXPLICIT"
        return mode

    # -- descriptors ---------------------------------------------------------------------
    def new_desc(self, d):
        d.index = len(self.descs)
        self.descs.append(d)
        return d

    def builtin(self, kind, t):
        """Shared descriptor for an untagged builtin primitive."""
        if kind == "INTEGER":
            small = bool(t.named) or t.range is not None
            nonneg = t.range is not None and t.range[0] is not None and t.range[0] >= 0
            key = ("INT", small, nonneg)
            if key not in self.by_key:
                if small:
                    d = Desc("K_INT", "int", "INTEGER")
                    d.nonneg = nonneg
                else:
                    d = Desc("K_HUGE", "HUGE", "INTEGER")
                d.tag = tagval("UNIVERSAL", 2)
                self.by_key[key] = self.new_desc(d)
            return self.by_key[key]
        if kind == "BIT STRING" and t.named:
            width = 16 if max(v for _, v in t.named) < 16 else 32
            if max(v for _, v in t.named) >= 32:
                raise SystemExit("named bit beyond 31 in line %d" % t.line)
            key = ("NBITS", width)
            if key not in self.by_key:
                d = Desc("K_NAMEDBITS", "unsigned short" if width == 16 else "unsigned int", "BIT STRING")
                d.tag = tagval("UNIVERSAL", 3)
                self.by_key[key] = self.new_desc(d)
            return self.by_key[key]
        key = ("B", kind)
        if key in self.by_key:
            return self.by_key[key]
        table = {
            "BOOLEAN": ("K_BOOL", "unsigned char"), "ENUMERATED": ("K_INT", "int"),
            "BIT STRING": ("K_BITS", "BitString"), "OCTET STRING": ("K_OCTETS", "BIN"),
            "NULL": ("K_NULL", "NullType"), "OBJECT IDENTIFIER": ("K_OID", "ObjectID"),
            "UTCTime": ("K_UTCTIME", "UTCTime"), "GeneralizedTime": ("K_GENTIME", "GeneralizedTime"),
            "ANY": ("K_ANY", "Any"),
        }
        if kind in STRING_KINDS:
            k, ct = "K_STRING", "BIN"
        else:
            k, ct = table[kind]
        d = Desc(k, ct, kind)
        if kind != "ANY":
            d.tag = tagval("UNIVERSAL", UNIV[kind])
        if kind == "ENUMERATED":
            d.name = "ENUMERATED"
        self.by_key[key] = self.new_desc(d)
        return d

    def derive_tagged(self, mod, base, tags, rest_untaggable, ctype):
        """Descriptor of `tags` applied to descriptor `base` (innermost tag applied first)."""
        d = base
        for tag in reversed(tags):
            mode = tag.mode or mod.tagging
            if d.kind in ("K_CHOICE", "K_ANY"):
                mode = "EXPLICIT"
            key = ("TAG", d.index, tag.cls, tag.num, mode)
            if key in self.by_key:
                d = self.by_key[key]
                continue
            if mode == "EXPLICIT":
                nd = Desc("K_TAGGED", d.ctype, d.name)
                nd.inner = d
            else:
                nd = Desc(d.kind, d.ctype, d.name)
                nd.fields = d.fields
                nd.inner = d.inner
                nd.mask_bytes = d.mask_bytes
                nd.node = d.node
                nd.nonneg = d.nonneg
                nd.shares = d
            nd.tag = tagval(tag.cls, tag.num)
            self.by_key[key] = self.new_desc(nd)
            d = nd
        return d

    def named(self, mod, name):
        """Descriptor of a named type."""
        m, t = self.lookup(mod, name)
        key = (m.name, name)
        if key in self.named_desc:
            d = self.named_desc[key]
            if d is None:
                raise SystemExit("type %s refers to itself by value" % name)
            return d
        self.named_desc[key] = None
        cn = self.cnames[key]
        self.named_ctype[key] = cn
        self.registering = key if not t.tags else None
        d, _ = self.type_desc(m, t, cn, cn, toplevel=True)
        self.named_desc[key] = d
        return d

    def lookup_key(self, mod, name):
        m, _ = self.lookup(mod, name)
        return (m.name, name)

    def type_desc(self, mod, t, cn, label, toplevel=False):
        """Descriptor for type t; cn is the C name for a constructed type defined here."""
        inner = Type(t.kind)
        inner.__dict__.update(t.__dict__)
        inner.tags = []
        if t.kind == "REF":
            base = self.named(mod, t.ref)
            refct = self.named_ctype[self.lookup_key(mod, t.ref)]
            if toplevel:
                self.structs.append(("typedef", cn, refct, mod, t))
            ctype = cn if toplevel else refct
        elif t.kind in ("SEQUENCE", "SET", "CHOICE", "SEQOF", "SETOF"):
            base = self.constructed(mod, inner, cn, label, toplevel)
            ctype = cn
        else:
            base = self.builtin(t.kind, t)
            if toplevel:
                self.structs.append(("typedef", cn, base.ctype, mod, t))
            ctype = cn if toplevel else base.ctype
            if t.named:
                pref = cn
                for n, v in t.named:
                    if t.kind == "BIT STRING":
                        width = 16 if base.ctype == "unsigned short" else 32
                        self.defines.append(("%s_%s" % (pref, cname(n)), "0x%X" % (1 << (width - 1 - v))))
                    else:
                        self.defines.append(("%s_%s" % (pref, cname(n)), str(v)))
        d = self.derive_tagged(mod, base, t.tags, False, ctype)
        return d, ctype

    def constructed(self, mod, t, cn, label, toplevel):
        reg = self.registering if toplevel else None
        self.registering = None
        if not toplevel:
            self.take(cn, label)
        if t.kind in ("SEQOF", "SETOF"):
            d = Desc("K_SEQOF" if t.kind == "SEQOF" else "K_SETOF", cn, label)
            d.tag = tagval("UNIVERSAL", UNIV[t.kind])
            d.node = cn + "_"
            self.new_desc(d)
            if reg:
                self.named_desc[reg] = d
            self.lists.append(cn)
            ef = self.field_of(mod, Field("value", t.elem), cn + "_Elem", label + ".value")
            ef.member = "value"
            d.fields = [ef]
            self.structs.append(("list", cn, d, mod, t))
            return d
        kind = {"SEQUENCE": "K_SEQ", "SET": "K_SET", "CHOICE": "K_CHOICE"}[t.kind]
        d = Desc(kind, cn, label)
        if kind != "K_CHOICE":
            d.tag = tagval("UNIVERSAL", UNIV[t.kind])
        self.new_desc(d)
        if reg:
            self.named_desc[reg] = d
        fields = []
        nopt = 0
        for f in t.fields:
            df = self.field_of(mod, f, "%s_%s" % (cn, cname(f.name)), "%s.%s" % (label, f.name))
            if kind == "K_CHOICE":
                df.member = "u." + cname(f.name)
            else:
                df.member = cname(f.name)
            if df.optional or df.default is not None:
                nopt += 1
            fields.append(df)
        if nopt > 32:
            raise SystemExit("%s: more than 32 optional fields" % label)
        d.mask_bytes = 0 if nopt == 0 else (1 if nopt <= 8 else (2 if nopt <= 16 else 4))
        bit = 0
        for df in fields:
            if df.optional or df.default is not None:
                df.present = 1 << (8 * d.mask_bytes - 1 - bit)
                bit += 1
        d.fields = fields
        self.structs.append(("struct", cn, d, mod, t))
        return d

    def field_of(self, mod, f, inner_cn, label):
        t = f.type
        tags = list(t.tags)
        df = DField(cname(f.name), None)
        df.optional = f.optional
        rest = Type(t.kind)
        rest.__dict__.update(t.__dict__)
        rest.tags = tags[1:] if tags else []
        if tags:
            outer = tags[0]
            rk = self.resolved_kind(mod, rest) if not rest.tags else "TAGGED"
            mode = outer.mode or mod.tagging
            if rk in ("CHOICE", "ANY") and not rest.tags:
                mode = "EXPLICIT"
            df.tag = (outer.cls, outer.num)
            df.explicit = mode == "EXPLICIT"
        df.desc, df.ctype = self.type_desc(mod, rest, inner_cn, label)
        if f.default is not None:
            df.default = self.default_value(mod, f, df, rest)
        return df

    # -- defaults ------------------------------------------------------------------------
    def default_value(self, mod, f, df, t):
        """(DER blob of the field with its tag, C initialiser or None)."""
        kind = self.resolved_kind(mod, t)
        tt = t
        while tt.kind == "REF":
            mod2, tt = self.lookup(mod, tt.ref)
            mod = mod2
        v = f.default
        named = dict(tt.named)
        if kind == "BOOLEAN":
            b = v[1]
            content, cval = bytes([0xFF if b else 0]), "1" if b else "0"
        elif kind in ("INTEGER", "ENUMERATED"):
            n = v[1] if v[0] == "num" else named[v[1]]
            if df.desc.kind == "K_HUGE":
                raise SystemExit("%s: DEFAULT on a big INTEGER; give it a range" % f.name)
            content, cval = int_bytes(n), str(n)
        elif kind == "BIT STRING":
            names = [a for a, _ in v[1]] if v[0] == "braces" else []
            width = 16 if df.desc.ctype == "unsigned short" else 32
            val = 0
            nbits = 0
            for a in names:
                val |= 1 << (width - 1 - named[a])
                nbits = max(nbits, named[a] + 1)
            nbytes = (nbits + 7) // 8
            data = [(val >> (width - 8 - 8 * k)) & 0xFF for k in range(nbytes)]
            content, cval = bytes([nbytes * 8 - nbits] + data), str(val)
        elif kind == "SEQUENCE" and v[0] == "braces":
            content = b""
            for fname, fv in v[1]:
                if fv[0] == "id" and fv[1].replace("-", "_") in self.oids:
                    oid = self.oids[fv[1].replace("-", "_")]
                    content += bytes([6, len(oid)]) + oid
                elif fv[0] == "null":
                    content += b"\x05\x00"
                else:
                    raise SystemExit("%s: cannot encode default component %s" % (f.name, fname))
            cval = None
        else:
            raise SystemExit("%s: unsupported DEFAULT" % f.name)
        utag = UNIV.get(kind, 16)
        cons = kind in ("SEQUENCE", "SET")
        inner_tag = ident_bytes(0, utag, cons)
        d = df.desc
        # the descriptor's own tag (implicit tags of named types)
        m = re.match(r"ASN_TAG\((\d), (\d+)\)", d.tag if d.kind != "K_TAGGED" else d.inner.tag)
        if m:
            inner_tag = ident_bytes(int(m.group(1)), int(m.group(2)), cons)
        blob = inner_tag + der_len(len(content)) + content
        if d.kind == "K_TAGGED":
            m = re.match(r"ASN_TAG\((\d), (\d+)\)", d.tag)
            blob = ident_bytes(int(m.group(1)), int(m.group(2)), True) + der_len(len(blob)) + blob
        if df.tag:
            cls = CLASS_BITS[df.tag[0]]
            if df.explicit:
                blob = ident_bytes(cls, df.tag[1], True) + der_len(len(blob)) + blob
            else:
                # implicit: replace the outer identifier
                first = blob[0]
                n = 1
                if first & 0x1F == 0x1F:
                    while blob[n] & 0x80:
                        n += 1
                    n += 1
                blob = ident_bytes(cls, df.tag[1], bool(first & 0x20)) + blob[n:]
        return (blob, cval)

    def compile(self, catalogue):
        self.lists = []
        self.assign_cnames(catalogue)
        pdus = {}
        for num, tname, mname in catalogue:
            m = self.mods.get(mname)
            if not m or tname not in m.types:
                raise SystemExit("catalogue %d: %s not in module %s" % (num, tname, mname))
            pdus[num] = (self.named(m, tname), self.cnames[(mname, tname)], tname)
        # every type of every module gets compiled, used or not
        for m in self.modlist:
            for t in m.order:
                self.named(m, t)
        return pdus

    def mark_kept(self, kept):
        """Flags the fields listed in kept.txt; every entry must name a SEQUENCE or SET field."""
        left = set(kept)
        for s in self.structs:
            if s[0] != "struct" or s[2].kind not in ("K_SEQ", "K_SET"):
                continue
            for df in s[2].fields:
                if (s[1], df.name) in left:
                    df.keep = True
                    left.discard((s[1], df.name))
        if left:
            raise SystemExit("kept.txt names unknown fields: %s" % ", ".join(sorted("%s.%s" % k for k in left)))


def int_bytes(n):
    out = []
    while True:
        out.insert(0, n & 0xFF)
        n >>= 8
        if (n == 0 and out[0] < 0x80) or (n == -1 and out[0] >= 0x80):
            break
    return bytes(out)


def ident_bytes(cls, num, cons):
    b0 = (cls << 6) | (0x20 if cons else 0)
    if num < 31:
        return bytes([b0 | num])
    out = [num & 0x7F]
    num >>= 7
    while num:
        out.insert(0, 0x80 | (num & 0x7F))
        num >>= 7
    return bytes([b0 | 0x1F] + out)


def der_len(n):
    if n < 0x80:
        return bytes([n])
    out = []
    while n:
        out.insert(0, n & 0xFF)
        n >>= 8
    return bytes([0x80 | len(out)] + out)


# ---------------------------------------------------------------------------------------------
# Emission

HEADER_PREAMBLE = """\
/*
 * Value trees of the compiled ASN.1 schema (generated from the modules in lib/asn/schema; do not edit).
 *
 * Naming: a type, field or alternative keeps its ASN.1 identifier with every '-' written as '_'
 * (PBES2-params -> PBES2_params). A type name that several modules define keeps the plain name
 * in the module the catalogue lists first and gets _2, _3 ... elsewhere (ToBeSigned_2). A type
 * written inline gets the name of its parent and field (TBSCertList_revokedCertificates); the
 * element of an inline SEQUENCE OF gets that name plus _Elem. Each type has <Type>_PDU, its
 * catalogue number, when it is in the catalogue.
 *
 * Representation:
 *   BOOLEAN                         unsigned char, 0 or 1
 *   INTEGER with named numbers or a value range, ENUMERATED     int
 *   other INTEGER                   HUGE {length, value}: the INTEGER content octets
 *   BIT STRING with named bits      unsigned short (unsigned int beyond 16 bits); bit 0 is the
 *                                   most significant bit; <Type>_<bit> gives each bit's mask
 *   BIT STRING                      BitString {length in bits, value}
 *   OCTET STRING, character strings BIN {length, value}; a zero byte follows the value
 *   NULL                            NullType (no content)
 *   OBJECT IDENTIFIER               ObjectID {length, value}: the contents octets
 *   UTCTime, GeneralizedTime        the time record below (UTCTime carries a two-digit year)
 *   ANY                             Any {length, value}: one complete DER encoding
 *   SEQUENCE, SET                   struct; OPTIONAL and DEFAULT fields have a bit in the leading
 *                                   bit_mask, <Type>_<field>_present (and <field>_present when
 *                                   every type that has such a field agrees on the bit)
 *   SEQUENCE OF, SET OF             pointer to the first node of a list of
 *                                   struct <Type>_ {struct <Type>_ *next; <element> value;}
 *   CHOICE                          {unsigned short choice; union {...} u;} where choice is
 *                                   <Type>_<alt>_chosen (and <alt>_chosen when unambiguous),
 *                                   numbered from 1 in the order of the alternatives
 *   <Type>_<name>                   the value of a named number
 * A field whose type contains itself by value is held through a pointer. The tree of a
 * SEQUENCE OF or SET OF type is a heap cell that holds the pointer to the first node.
 *
 * Ownership: a tree from QRT_ASN_DecodePDU or QRT_ASN_CopyPDU is the caller's; every node,
 * list element and buffer in it comes from QRT_malloc and QRT_ASN_FreePDU releases them all.
 */
#ifndef OSTREL_SUITE_ASN_SCHEMA_H
#define OSTREL_SUITE_ASN_SCHEMA_H

#include "suite_io.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct ObjectID {
    unsigned short length;
    unsigned char *value;
} ObjectID;

typedef BIN Any;

typedef struct BitString {
    unsigned int length; /* bits */
    unsigned char *value;
} BitString;

typedef char NullType;

typedef struct GeneralizedTime {
    short year; /* full year; UTCTime: 0-99 */
    short month;
    short day;
    short hour;
    short minute;
    short second;
    short millisec;
    short mindiff; /* minutes east of UTC when utc is 0 */
    unsigned char utc;
} GeneralizedTime;
typedef GeneralizedTime UTCTime;

"""


class Emitter:
    def __init__(self, comp, pdus, catalogue):
        self.c = comp
        self.pdus = pdus
        self.catalogue = catalogue

    def ctype_of(self, df):
        return df.desc.ctype

    def header(self, oid_rows):
        c = self.c
        out = [HEADER_PREAMBLE]
        # forward declarations of list nodes
        out.append("/* Lists */\n")
        for cn in c.lists:
            out.append("typedef struct %s_ *%s;\n" % (cn, cn))
        out.append("\n")
        # defines
        present, chosen = {}, {}
        for kind, cn, d, mod, t in [s for s in c.structs if s[0] == "struct"]:
            for df in d.fields:
                if d.kind == "K_CHOICE":
                    pass
                elif df.present:
                    present.setdefault(df.name, set()).add(df.present)
            if d.kind == "K_CHOICE":
                for i, df in enumerate(d.fields):
                    chosen.setdefault(df.name, set()).add(i + 1)
        # emit struct declarations in dependency order
        decls = {}
        deps = {}
        for s in c.structs:
            kind, cn = s[0], s[1]
            if kind == "typedef":
                mod, t = s[3], s[4]
                base = s[2]
                decls[cn] = "typedef %s %s;\n" % (base, cn)
                deps[cn] = {base}
            elif kind == "struct":
                d = s[2]
                lines = []
                for i, df in enumerate(d.fields):
                    if d.kind == "K_CHOICE":
                        lines.append("#define %s_%s_chosen %d\n" % (cn, df.name, i + 1))
                        if len(chosen[df.name]) == 1:
                            lines.append("#define %s_chosen %d\n" % (df.name, i + 1))
                    elif df.present:
                        w = d.mask_bytes * 2
                        lines.append("#define %s_%s_present 0x%0*X\n" % (cn, df.name, w, df.present))
                body = ["typedef struct %s {\n" % cn]
                if d.kind == "K_CHOICE":
                    body.append("    unsigned short choice;\n    union {\n")
                    ind = "        "
                else:
                    ind = "    "
                    if d.mask_bytes:
                        body.append("    %s bit_mask;\n" % {1: "unsigned char", 2: "unsigned short", 4: "unsigned int"}[d.mask_bytes])
                dep = set()
                for df in d.fields:
                    if df.ptr:
                        body.append("%sstruct %s *%s;\n" % (ind, df.desc.ctype, df.name))
                    else:
                        body.append("%s%s %s;\n" % (ind, df.ctype, df.name))
                        dep.add(df.ctype)
                for df in d.fields:
                    if df.keep:
                        body.append("%sAny %s_encoded; /* as received; empty in a tree built by hand */\n" % (ind, df.name))
                if d.kind == "K_CHOICE":
                    if not d.fields:
                        body.append("        char unused;\n")
                    body.append("    } u;\n")
                elif not d.fields:
                    body.append("    char unused;\n")
                body.append("} %s;\n" % cn)
                decls[cn] = "".join(lines) + "".join(body)
                deps[cn] = dep
            elif kind == "list":
                d = s[2]
                ef = d.fields[0]
                decls[cn + "_"] = "struct %s_ {\n    struct %s_ *next;\n    %s value;\n};\n" % (cn, cn, ef.ctype)
                deps[cn + "_"] = {ef.ctype}
        # short _present macros where unambiguous
        shorts = []
        for name, vals in sorted(present.items()):
            if len(vals) == 1:
                v = next(iter(vals))
                shorts.append("#define %s_present 0x%X\n" % (name, v))
        order = []
        state = {}
        list_names = set(c.lists)

        def visit(n, stack):
            if n not in decls:
                return
            if state.get(n) == 2:
                return
            if state.get(n) == 1:
                raise SystemExit("by-value cycle through %s: %s" % (n, " -> ".join(stack)))
            state[n] = 1
            for dname in sorted(deps[n]):
                if dname in list_names:
                    continue  # list pointers are declared up front
                visit(dname, stack + [dname])
            state[n] = 2
            order.append(n)
        # catalogue order first, then everything else in definition order
        seq = [self.pdus[k][1] for k in sorted(self.pdus)]
        seq += [s[1] if s[0] != "list" else s[1] + "_" for s in c.structs]
        for cn in c.lists:
            seq.append(cn + "_")
        for n in seq:
            visit(n, [n])
        out.append("/* Value types */\n")
        for n in order:
            out.append(decls[n])
            out.append("\n")
        out.append("/* Presence bits shared by every type with the field */\n")
        out.extend(shorts)
        out.append("\n/* Named numbers and bits */\n")
        for name, val in c.defines:
            out.append("#define %s %s\n" % (name, val))
        out.append("\n/* Catalogue numbers */\n")
        for num in sorted(self.pdus):
            out.append("#define %s_PDU %d\n" % (self.pdus[num][1], num))
        out.append("#define QRT_ASN_PDU_COUNT %d\n\n" % (max(self.pdus) + 1))
        out.append("/* Object identifiers (contents octets), named after the registry */\n")
        for name, idx, der in oid_rows:
            out.append("QRT_API extern const ObjectID %s;\n" % name)
        out.append("\n#ifdef __cplusplus\n}\n#endif\n\n#endif /* OSTREL_SUITE_ASN_SCHEMA_H */\n")
        return "".join(out)

    def tables(self):
        c = self.c
        out = ["// Descriptor tables of the compiled schema (generated by asngen.py; do not edit).\n",
               "#include <cstddef>\n\n#include \"asn_engine.hpp\"\n\n",
               "namespace ostrel::asn {\n\n",
               "#pragma GCC diagnostic push\n#pragma GCC diagnostic ignored \"-Winvalid-offsetof\"\n\n"]
        blobs = []
        out.append("const Field kFields[] = {\n")
        fidx = 0
        first = {}
        for d in c.descs:
            if hasattr(d, "shares"):
                continue
            if not d.fields:
                continue
            first[d.index] = fidx
            owner = d.ctype if d.kind not in ("K_SEQOF", "K_SETOF") else "struct " + d.node
            for df in d.fields:
                flags = []
                if df.optional:
                    flags.append("F_OPTIONAL")
                if df.default is not None:
                    flags.append("F_DEFAULT")
                if df.tag:
                    flags.append("F_TAGGED")
                    if df.explicit:
                        flags.append("F_EXPLICIT")
                if df.ptr:
                    flags.append("F_PTR")
                dflt = "-1"
                if df.default is not None:
                    blob, cval = df.default
                    dflt = str(len(blobs))
                    blobs.append((blob, cval))
                tag = tagval(df.tag[0], df.tag[1]) if df.tag else "0"
                kept = "offsetof(%s, %s_encoded)" % (owner, df.name) if df.keep else "0"
                out.append("    {offsetof(%s, %s), %d, %s, %s, 0x%Xu, %s, %s, \"%s\"},\n" % (
                    owner, df.member, df.desc.index, "|".join(flags) or "0", tag, df.present, dflt, kept, df.name))
                fidx += 1
        out.append("    {0, 0, 0, 0, 0, -1, 0, \"\"},\n};\n\n")
        out.append("const Default kDefaults[] = {\n")
        for blob, cval in blobs:
            out.append("    {(const unsigned char *)\"%s\", %d, %s, %s},\n" % (
                "".join("\\x%02x" % b for b in blob), len(blob), cval or "0", "true" if cval is not None else "false"))
        out.append("    {nullptr, 0, 0, false},\n};\n\n")
        out.append("const TypeDesc kTypes[] = {\n")
        for d in c.descs:
            src = getattr(d, "shares", d)
            while hasattr(src, "shares"):
                src = src.shares
            nf = len(src.fields)
            ff = first.get(src.index, 0)
            if d.kind in ("K_SEQOF", "K_SETOF"):
                size = "sizeof(struct %s)" % d.node
            elif d.ctype == "NullType":
                size = "sizeof(NullType)"
            else:
                size = "sizeof(%s)" % d.ctype
            flags = "|".join(([ "T_NONNEG"] if d.nonneg else []) +
                             (["T_KEPT"] if any(f.keep for f in src.fields) else [])) or "0"
            inner = d.inner.index if d.inner else 0
            out.append("    {%s, %d, %s, %d, %s, %s, %d, %d, \"%s\"},  // %d\n" % (
                d.kind, d.mask_bytes, flags, nf, d.tag, size, ff, inner, d.name, d.index))
        out.append("};\n\nconst unsigned kTypeCount = %d;\n\n" % len(c.descs))
        out.append("const int kPdus[] = {\n    -1,\n")
        top = max(self.pdus)
        for n in range(1, top + 1):
            if n in self.pdus:
                out.append("    %d, // %d %s\n" % (self.pdus[n][0].index, n, self.pdus[n][2]))
            else:
                out.append("    -1,\n")
        out.append("};\n\nconst unsigned kPduCount = %d;\n\n" % (top + 1))
        out.append("#pragma GCC diagnostic pop\n\n}  // namespace ostrel::asn\n")
        return "".join(out)


def first_tags(df):
    if df.tag:
        return {tagval(df.tag[0], df.tag[1])}
    return desc_tags(df.desc, set())


def desc_tags(d, seen):
    if d.kind == "K_ANY":
        return {"*"}
    if d.kind == "K_CHOICE":
        if d.index in seen:
            return set()
        seen.add(d.index)
        out = set()
        for f in d.fields:
            out |= first_tags(f) if f.tag else desc_tags(f.desc, seen)
        return out
    return {d.tag}


# Types whose encoding is fixed elsewhere although an optional run repeats a tag: in the KCDSA
# domain parameters j is always present when count is, so reading in order is unambiguous.
AMBIGUITY_ALLOWED = {"KCDSAParameters"}


def check_ambiguity(comp):
    """Alternatives of a CHOICE, the elements of a SET, and each run of OPTIONAL fields with the
    field after it in a SEQUENCE must start with different tags, or decoding could not tell
    them apart."""
    for d in comp.descs:
        if hasattr(d, "shares") or d.kind not in ("K_CHOICE", "K_SEQ", "K_SET") or d.name in AMBIGUITY_ALLOWED:
            continue
        groups = []
        if d.kind in ("K_CHOICE", "K_SET"):
            groups.append(d.fields)
        else:
            run = []
            for f in d.fields:
                run.append(f)
                if not (f.optional or f.default is not None):
                    if len(run) > 1:
                        groups.append(run)
                    run = []
            if len(run) > 1:
                groups.append(run)
        for g in groups:
            seen = {}
            for f in g:
                for t in first_tags(f):
                    if t in seen or (t == "*" and len(g) > 1 and f is not g[-1]) or ("*" in seen):
                        raise SystemExit("%s: fields %s and %s may start with the same tag" % (
                            d.name, seen.get(t, seen.get("*", "?")), f.name))
                    seen[t] = f.name


def mark_pointers(comp):
    """Fields whose type contains the containing type by value are held through pointers."""
    structs = {s[1]: s[2] for s in comp.structs if s[0] == "struct"}
    typedefs = {s[1]: s[2] for s in comp.structs if s[0] == "typedef"}

    def base(ct):
        while ct in typedefs:
            ct = typedefs[ct]
        return ct

    def contains(ct, target, seen):
        ct = base(ct)
        if ct == target:
            return True
        if ct in seen or ct not in structs:
            return False
        seen.add(ct)
        return any(not f.ptr and contains(f.ctype, target, seen) for f in structs[ct].fields)

    for cn, d in structs.items():
        for f in d.fields:
            if contains(f.ctype, cn, set()):
                f.ptr = True


def parse_tag(t):
    m = re.match(r"ASN_TAG\((\d), (\d+)\)", t)
    return (int(m.group(1)), int(m.group(2))) if m else None


def sample_value(d, depth):
    """A small DER value of descriptor d, with every OPTIONAL field near the top filled in."""
    tag = parse_tag(d.tag)
    k = d.kind
    if k == "K_TAGGED":
        inner = sample_value(d.inner, depth)
        return ident_bytes(tag[0], tag[1], True) + der_len(len(inner)) + inner
    if k == "K_CHOICE":
        return sample_field(d.fields[0], depth)
    if k == "K_ANY":
        return b"\x05\x00"
    cons = k in ("K_SEQ", "K_SET", "K_SEQOF", "K_SETOF")
    if k == "K_BOOL":
        c = b"\xff"
    elif k == "K_INT":
        c = b"\x05"
    elif k == "K_HUGE":
        c = b"\x00\x80"
    elif k in ("K_BITS", "K_NAMEDBITS"):
        c = b"\x07\x80"
    elif k == "K_STRING" and tag[1] in (28, 30):
        c = b"\x00\x00\x00a" if tag[1] == 28 else b"\x00a"
    elif k in ("K_OCTETS", "K_STRING"):
        c = b"ab"
    elif k == "K_NULL":
        c = b""
    elif k == "K_OID":
        c = b"\x55\x1d\x0f"
    elif k == "K_UTCTIME":
        c = b"250101120000Z"
    elif k == "K_GENTIME":
        c = b"20250101120000.5Z"
    elif k in ("K_SEQ", "K_SET"):
        parts = []
        for f in d.fields:
            if f.default is not None:
                continue
            if f.optional and depth > 4:
                continue
            parts.append(sample_field(f, depth + 1))
        if k == "K_SET":
            parts.sort(key=lambda b: (b[0] >> 6, b[0] & 0x1F if b[0] & 0x1F != 0x1F else b[1]))
        c = b"".join(parts)
    elif k in ("K_SEQOF", "K_SETOF"):
        c = sample_field(d.fields[0], depth + 1) if depth < 8 else b""
    else:
        raise SystemExit("no sample for " + k)
    return ident_bytes(tag[0], tag[1], cons) + der_len(len(c)) + c


def sample_field(f, depth):
    v = sample_value(f.desc, depth)
    if not f.tag:
        return v
    cls = CLASS_BITS[f.tag[0]]
    if f.explicit:
        return ident_bytes(cls, f.tag[1], True) + der_len(len(v)) + v
    n = 1
    if v[0] & 0x1F == 0x1F:
        while v[n] & 0x80:
            n += 1
        n += 1
    return ident_bytes(cls, f.tag[1], bool(v[0] & 0x20)) + v[n:]


def read_oids(paths):
    """The shared registry first, then the project's own additions; a name appears once."""
    rows = []
    by_name = {}
    for path in paths:
        read_oid_file(path, rows, by_name)
    return rows, by_name


def read_oid_file(path, rows, by_name):
    with open(path) as fh:
        header = fh.readline().rstrip("\n").split("\t")
        for line in fh:
            if not line.strip():
                continue
            cols = dict(zip(header, line.rstrip("\n").split("\t")))
            name = cols["name"]
            der = bytes.fromhex(cols["der_hex"])
            idx = None if cols["index"] in ("-", "") else int(cols["index"])
            if name in by_name:
                raise SystemExit("oid %s listed twice" % name)
            by_name[name] = der
            rows.append((name, idx, der))


def read_kept(path):
    kept = set()
    with open(path) as fh:
        for line in fh:
            line = line.split("#", 1)[0].split()
            if line:
                if len(line) != 2:
                    raise SystemExit("%s: a line names a type and a field: %s" % (path, " ".join(line)))
                kept.add((line[0], line[1]))
    return kept


def read_catalogue(path):
    cat = []
    seen = set()
    with open(path) as fh:
        for line in fh:
            line = line.split("#", 1)[0].strip()
            if not line:
                continue
            num, tname, mname = line.split()
            num = int(num)
            if num in seen:
                raise SystemExit("catalogue number %d twice" % num)
            seen.add(num)
            cat.append((num, tname, mname))
    return cat


def oid_source(rows):
    out = ["// Object-identifier constants and the index table (generated by asngen.py; do not edit).\n",
           "#include \"suite_asn.h\"\n#include \"asn_internal.h\"\n\n"]
    for name, idx, der in rows:
        out.append("static const unsigned char k_%s[] = {%s};\n" % (name, ", ".join("0x%02x" % b for b in der)))
        out.append("extern \"C\" QRT_API const ObjectID %s = {%d, const_cast<unsigned char *>(k_%s)};\n" % (name, len(der), name))
    top = max(idx for _, idx, _ in rows if idx is not None)
    slots = ["nullptr"] * (top + 1)
    for name, idx, der in rows:
        if idx is not None:
            slots[idx] = "&" + name
    out.append("\nnamespace ostrel::asn {\nconst ObjectID *const kOidTable[] = {\n")
    for i, s in enumerate(slots):
        out.append("    %s,  // %d\n" % (s, i))
    out.append("};\nconst unsigned kOidTableSize = %d;\n}  // namespace ostrel::asn\n" % len(slots))
    return "".join(out)


def write_if_changed(path, text):
    if os.path.exists(path):
        with open(path) as fh:
            if fh.read() == text:
                return
    with open(path, "w") as fh:
        fh.write(text)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--schema", required=True)
    ap.add_argument("--oids", required=True, action="append")
    ap.add_argument("--header", required=True)
    ap.add_argument("--tables", required=True)
    ap.add_argument("--oidsrc", required=True)
    ap.add_argument("--samples")
    a = ap.parse_args()
    modules = []
    for fn in sorted(os.listdir(a.schema)):
        if fn.endswith(".asn"):
            p = os.path.join(a.schema, fn)
            with open(p) as fh:
                modules.extend(Parser(tokenize(fh.read(), p), p).modules())
    rows, by_name = read_oids(a.oids)
    catalogue = read_catalogue(os.path.join(a.schema, "catalogue.txt"))
    comp = Compiler(modules, by_name)
    pdus = comp.compile(catalogue)
    comp.mark_kept(read_kept(os.path.join(a.schema, "kept.txt")))
    mark_pointers(comp)
    check_ambiguity(comp)
    em = Emitter(comp, pdus, catalogue)
    write_if_changed(a.header, em.header(rows))
    write_if_changed(a.tables, em.tables())
    write_if_changed(a.oidsrc, oid_source(rows))
    if a.samples:
        lines = ["%d %s %s\n" % (n, pdus[n][2], sample_value(pdus[n][0], 0).hex()) for n in sorted(pdus)]
        write_if_changed(a.samples, "".join(lines))


if __name__ == "__main__":
    main()
