#!/usr/bin/env python3
"""Writes header_rows.inc: rows of the header decoder's table, each a field value and the
UTF-16 text that Python's own reading gives (email.header.decode_header and its codecs).

Only values where that reading and the pane's rules agree belong here: the script refuses
a value whose reading fails, keeps a control character, or begins or ends with a blank
(the pane drops those). Values where the rules differ are hand rows in
header_text_tests.cpp, each naming its rule. Run it after changing CASES:
    python3 tests/mailtext/header_rows.py
"""
import base64
import os
import re
import sys
from email.header import decode_header

# Python's codec for a name where its own differs from what the pane reads: the half-width
# katakana shift (ESC ( I) that senders use is in Python's iso2022_jp_ext.
CODECS = {"iso-2022-jp": "iso2022_jp_ext"}

ESC = b"\x1b"
KANJI, ASCII, ROMAN, KANA, OLD_KANJI = ESC + b"$B", ESC + b"(B", ESC + b"(J", ESC + b"(I", ESC + b"$@"


def b(charset, payload):
    return b"=?" + charset.encode() + b"?B?" + base64.b64encode(payload) + b"?="


def q(charset, payload):
    text = b"".join(bytes([c]) if 0x21 <= c < 0x7F and c not in b"=?_" else b"=%02X" % c for c in payload)
    return b"=?" + charset.encode() + b"?Q?" + text + b"?="


def jis(*rows_cells):
    return bytes(x for pair in rows_cells for x in pair)


CASES = [
    # ISO-2022-JP words: every escape, the state at a word's end, odd and even rows.
    ("JIS: ESC $ B and back", b("iso-2022-jp", KANJI + jis((0x46, 0x7C), (0x4B, 0x5C)) + ASCII + b"!")),
    ("JIS: ESC $ @", q("ISO-2022-JP", OLD_KANJI + jis((0x30, 0x21)) + ASCII)),
    ("JIS: ESC ( J letters", b("iso-2022-jp", ROMAN + b"Abc" + KANJI + jis((0x24, 0x22)) + ROMAN + b"z")),
    ("JIS: ESC ( I, both ends of the half-width range", b("iso-2022-jp", KANA + b"!1_" + ASCII + b"x")),
    ("JIS: kanji, kana, kanji without ASCII between", b("iso-2022-jp", KANJI + jis((0x25, 0x22)) + KANA + b"2" + KANJI + jis((0x24, 0x73)))),
    ("JIS: a word that ends in kanji, then raw text", b("iso-2022-jp", KANJI + jis((0x46, 0x7C))) + b" x"),
    ("JIS: each word begins in ASCII", b("iso-2022-jp", KANJI + jis((0x46, 0x7C))) + b" x " + b("iso-2022-jp", b"ab" + KANJI + jis((0x4B, 0x5C)))),
    ("JIS: a shift carried across two joined words", b("iso-2022-jp", KANJI + jis((0x46, 0x7C))) + b" " + b("ISO-2022-JP", jis((0x4B, 0x5C)) + ASCII)),
    ("JIS: odd rows' trail bytes 0x7E and 0x80", b("iso-2022-jp", KANJI + jis((0x25, 0x5F), (0x25, 0x60), (0x23, 0x30), (0x31, 0x21)) + ASCII)),
    ("JIS: even rows' trail bytes 0x9F and 0xFC", b("iso-2022-jp", KANJI + jis((0x24, 0x21), (0x30, 0x7E), (0x5E, 0x7E), (0x50, 0x21)) + ASCII)),
    ("JIS: rows past the lead gap, 0x5F and 0x74", b("iso-2022-jp", KANJI + jis((0x5F, 0x21), (0x74, 0x26)) + ASCII)),
    ("JIS: an ideographic space at the end stays", b("iso-2022-jp", KANJI + jis((0x22, 0x2E), (0x21, 0x21)) + ASCII)),
    ("raw JIS: ESC ( I alone", b"a " + KANA + b"1" + ASCII),
    ("raw JIS: ESC $ @ then ESC ( J", OLD_KANJI + jis((0x46, 0x7C)) + ROMAN + b" ok"),
    ("raw JIS beside a word", b"Re: " + KANJI + jis((0x46, 0x7C)) + ASCII + b" " + q("utf-8", "é".encode())),
    # EUC-JP: two bytes, half-width kana, odd and even rows.
    ("EUC-JP: rows 0x24, 0x25, 0x30 and 0x5F", b("euc-jp", bytes([0xA4, 0xA2, 0xA5, 0xE0, 0xA5, 0xDF, 0xB0, 0xFE, 0xDF, 0xA1]))),
    ("EUC-JP: half-width kana at both ends", q("EUC-JP", b"x\x8e\xa1\x8e\xb1\x8e\xdf")),
    # Shift_JIS through code page 932.
    ("Shift_JIS: half-width kana and kanji", b("shift_jis", "ｱ日本語".encode("cp932"))),
    ("Shift_JIS: a character split over two words", b("shift_jis", b"\x93") + b" " + b("Shift_JIS", b"\xfa")),
    ("ISO-2022-JP then Shift_JIS: not joined", b("iso-2022-jp", KANJI + jis((0x46, 0x7C))) + b" " + b("shift_jis", b"\x93\xfa")),
    ("Shift_JIS then Latin-2: not joined", b("shift_jis", b"\x93\xfa") + b" " + q("iso-8859-2", b"\xa3")),
    # UTF-8 and the table's charsets.
    ("UTF-8 split over two words, names in two cases", b("utf-8", b"\xe2\x82") + b"\r\n\t" + b("UTF-8", b"\xac")),
    ("UTF-8 four bytes split three ways", b("utf-8", b"\xf0") + b" " + b("utf-8", b"\x9f\x98") + b" " + q("utf-8", b"\x80!")),
    ("UTF-8 at the edges of each length and of the surrogates", q("utf-8", "\u07ff\u0800\ud7ff\ue000\uffff\U00010000\U0010ffff".encode())),
    ("no-break spaces at the ends stay", q("utf-8", "\u00a0a  b\u00a0".encode())),
    ("Q: lower-case hexadecimal", b"=?utf-8?q?=e2=82=ac_=c3=a9?="),
    ("Q: an '=' without two digits stays", b"=?utf-8?q?a=4=G1=?="),
    ("windows-1250", q("windows-1250", b"\x8a\xe8")),
    ("koi8-r", b("koi8-r", "Привет".encode("koi8-r"))),
    # Base64's lengths.
    ("B: two characters, no padding", b"=?utf-8?B?YQ?="),
    ("B: three characters, no padding", b"=?utf-8?B?YWI?="),
    ("B: padding of two and of one", b"=?utf-8?B?YQ==?==?utf-8?B?YWI=?="),
    ("B: a lower-case encoding letter", b"=?utf-8?b?w6k=?="),
    # Malformed words stay as written.
    ("an unknown encoding letter", b"=?utf-8?X?abc?="),
    ("a word without its end", b"=?utf-8?q?abc"),
    ("a '?' at the end without '='", b"=?utf-8?q?abc?"),
    ("a word without its encoding", b"=?utf-8?abc?="),
    # Which adjacencies join and which keep their blanks.
    ("a tab between two words", q("utf-8", b"a") + b"\t" + q("utf-8", b"b")),
    ("a fold between two words", q("utf-8", b"a") + b"\r\n " + q("utf-8", b"b")),
    ("words of two charsets: blanks dropped", q("utf-8", b"a") + b"  " + q("iso-8859-2", b"\xb9")),
    ("text between words keeps its blanks", q("utf-8", b"a") + b" x " + q("utf-8", b"b")),
    ("raw text then a word", b"Re: " + q("utf-8", "ü".encode())),
    ("a word then raw text", q("utf-8", "ü".encode()) + b" (x)"),
    ("words inside raw text", b"x" + q("utf-8", b"a") + b"y"),
    ("an empty word between blanks", b"x " + q("utf-8", b"") + b" y"),
    ("an empty ISO-2022-JP word", b"x " + b("iso-2022-jp", b"") + b" y"),
    ("a word against a word, no blank", q("utf-8", b"a") + q("iso-8859-2", b"\xb9")),
    # Raw 8-bit text.
    ("raw UTF-8 three and four bytes", "€ 😀 x".encode()),
    ("raw Shift_JIS as the host shows it", "ｱ日本".encode("cp932") + b" x"),
    ("raw bytes that only begin a UTF-8 character", b"x \xe6\x97"),
]


def reading(value):
    """The text Python's email package reads from a field's value (bytes)."""
    unfolded = re.sub(rb"\r?\n(?=[ \t])", b"", value)
    text = []
    for data, charset in decode_header(unfolded.decode("latin-1")):
        if isinstance(data, str):
            data = data.encode("latin-1")
        if charset:
            text.append(data.decode(CODECS.get(charset, charset)))
        elif ESC in data:
            text.append(data.decode(CODECS["iso-2022-jp"]))
        else:
            try:
                text.append(data.decode("utf-8"))
            except UnicodeDecodeError:
                text.append(data.decode("cp932"))
    return "".join(text)


def cpp_bytes(value):
    out = []
    for i, c in enumerate(value):
        if c in b'"\\' or value[i - 1 : i + 1] == b"??":   # no trigraph
            out.append("\\" + chr(c))
        elif 0x20 <= c < 0x7F:
            out.append(chr(c))
        else:
            out.append("\\%03o" % c)
    return '"' + "".join(out) + '"'


def cpp_units(text):
    out = []
    for i, ch in enumerate(text):
        c = ord(ch)
        if ch in '"\\' or text[i - 1 : i + 1] == "??":
            out.append("\\" + ch)
        elif 0x20 <= c < 0x7F:
            out.append(ch)
        else:
            out.append("\\U%08X" % c if c > 0xFFFF else "\\u%04X" % c)
    return 'u"' + "".join(out) + '"'


def main():
    lines = ["// Written by header_rows.py from Python's email.header: do not edit."]
    for what, value in CASES:
        text = reading(value)
        if text != text.strip(" \t") or any(ord(c) < 0x20 or 0x7F <= ord(c) <= 0x9F for c in text):
            sys.exit(f"{what}: Python reads {text!r}, which the pane's rules change; make it a hand row")
        lines.append(f"{{{cpp_bytes(what.encode())}, {cpp_bytes(value)}, {cpp_units(text)}}},")
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "header_rows.inc")
    with open(path, "w", encoding="ascii", newline="\n") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
