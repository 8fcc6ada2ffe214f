#!/usr/bin/env python3
"""Fails unless the resource module's string table holds every string in
every language of the product: each language block has exactly the
English block's strings, none empty; every string id the code names
(res/ProductIdentity.h) is there; each translation keeps the English
text's inserts (%1, %2, ...) and adds none, so formatting it never reads
an insert that is not given; the English copies kept in code as a
fallback (res/ProductTexts.h) are the module's English word for word; and
the module as built holds each text as its UTF-8 source has it."""
import argparse
import re
import struct
import sys

# The product's languages: English (United States) first, the one the
# others fall back to.
LANGUAGES = {
    0x0409: "English (United States)", 0x0407: "German", 0x040C: "French", 0x0C0A: "Spanish",
    0x0410: "Italian", 0x0416: "Portuguese (Brazil)", 0x0413: "Dutch", 0x0411: "Japanese",
    0x0804: "Chinese (Simplified)",
}
ENGLISH = 0x0409
RT_STRING = 6


def read_rc(path):
    """{language: {id: text}} from the .rc source (UTF-8)."""
    tables, language, inside = {}, None, False
    for number, line in enumerate(open(path, encoding="utf-8"), 1):
        code = line.split("//", 1)[0].strip() if not line.lstrip().startswith(tuple("0123456789")) else line.strip()
        m = re.match(r"LANGUAGE\s+(0x[0-9A-Fa-f]+|\d+)\s*,\s*(0x[0-9A-Fa-f]+|\d+)$", code)
        if m:
            language = (int(m.group(2), 0) << 10) | int(m.group(1), 0)
            if language in tables:
                sys.exit(f"{path}:{number}: a second block for language {language:04X}")
            tables[language] = {}
            continue
        if code in ("STRINGTABLE", "BEGIN"):
            inside = inside or code == "BEGIN"
            continue
        if code == "END":
            inside = False
            continue
        m = re.match(r'(\d+)\s+"((?:[^"]|"")*)"$', code)
        if inside and m and language is not None:
            string_id = int(m.group(1))
            if string_id in tables[language]:
                sys.exit(f"{path}:{number}: string {string_id} twice")
            tables[language][string_id] = m.group(2).replace('""', '"')
        elif code:
            sys.exit(f"{path}:{number}: not understood: {line.rstrip()}")
    return tables


def read_ids(path):
    """{name: id} of the string ids the code names."""
    text = open(path, encoding="utf-8").read()
    return {name: int(value) for name, value in re.findall(r"constexpr unsigned (kIds\w+) = (\d+);", text)}


def read_fallbacks(path, ids):
    """{id: text} of the English copies in code."""
    text = open(path, encoding="utf-8").read()
    table = re.search(r"kEnglishFallbacks\[\] = \{(.*?)\n\};", text, re.S)
    if not table:
        sys.exit(f"{path}: no table kEnglishFallbacks")
    fallbacks = {}
    for name, literals in re.findall(r'\{(kIds\w+),\s*((?:L"(?:[^"\\]|\\.)*"\s*)+)\}', table.group(1)):
        if name not in ids:
            sys.exit(f"{path}: {name} is not a string id")
        fallbacks[ids[name]] = "".join(re.findall(r'L"((?:[^"\\]|\\.)*)"', literals)).replace('\\"', '"')
    return fallbacks


def inserts(text):
    """The inserts a message definition reads, as a sorted list; None when
    one of them has a printf form of its own (%1!...!)."""
    found, i = [], 0
    while i < len(text):
        if text[i] == "%" and i + 1 < len(text):
            m = re.match(r"[1-9][0-9]?", text[i + 1:])
            if m:
                if text[i + 1 + len(m.group(0)):].startswith("!"):
                    return None
                found.append(int(m.group(0)))
                i += 1 + len(m.group(0))
                continue
            i += 2
            continue
        i += 1
    return sorted(found)


def module_strings(path):
    """{(language, id): text} of the string table of a built PE module."""
    data = open(path, "rb").read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        sys.exit(f"{path}: not a PE file")
    sections_count, optional_size = struct.unpack_from("<H", data, pe + 6)[0], struct.unpack_from("<H", data, pe + 20)[0]
    optional = pe + 24
    directories = optional + (112 if struct.unpack_from("<H", data, optional)[0] == 0x20B else 96)
    resources_rva = struct.unpack_from("<I", data, directories + 8 * 2)[0]
    sections = []
    for i in range(sections_count):
        virtual_size, address, raw_size, raw = struct.unpack_from("<IIII", data, optional + optional_size + 40 * i + 8)
        sections.append((address, max(virtual_size, raw_size), raw))

    def offset(rva):
        for address, size, raw in sections:
            if address <= rva < address + size:
                return rva - address + raw
        sys.exit(f"{path}: resource address {rva:#x} outside every section")

    base = offset(resources_rva)

    def entries(directory):
        named, numbered = struct.unpack_from("<HH", data, base + directory + 12)
        for i in range(named + numbered):
            yield struct.unpack_from("<II", data, base + directory + 16 + 8 * i)

    strings = {}
    for kind, kinds in entries(0):
        if kind != RT_STRING:
            continue
        for block, languages in entries(kinds & 0x7FFFFFFF):
            for language, leaf in entries(languages & 0x7FFFFFFF):
                rva, size = struct.unpack_from("<II", data, base + leaf)
                raw = data[offset(rva):offset(rva) + size]
                at = 0
                for i in range(16):
                    if 2 * at + 2 > len(raw):
                        sys.exit(f"{path}: string block {block} of language {language:04X} is cut short")
                    n = struct.unpack_from("<H", raw, 2 * at)[0]
                    if n:
                        strings[(language, (block - 1) * 16 + i)] = raw[2 * at + 2:2 * (at + 1 + n)].decode("utf-16-le")
                    at += 1 + n
    return strings


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--rc", required=True)
    parser.add_argument("--ids", required=True)
    parser.add_argument("--fallbacks", required=True)
    parser.add_argument("--dll")
    args = parser.parse_args()

    tables = read_rc(args.rc)
    ids = read_ids(args.ids)
    problems = []
    for language, name in LANGUAGES.items():
        if language not in tables:
            problems.append(f"no {name} block ({language:04X})")
    english = tables.get(ENGLISH, {})
    for name, string_id in sorted(ids.items()):
        if string_id not in english:
            problems.append(f"{name} ({string_id}) has no English string")
    for language, strings in sorted(tables.items()):
        label = LANGUAGES.get(language, f"language {language:04X}")
        for string_id in sorted(set(english) - set(strings)):
            problems.append(f"{label}: string {string_id} is missing")
        for string_id in sorted(set(strings) - set(english)):
            problems.append(f"{label}: string {string_id} has no English one")
        for string_id, text in sorted(strings.items()):
            if not text.strip():
                problems.append(f"{label}: string {string_id} is empty")
            found = inserts(text)
            if found is None:
                problems.append(f"{label}: string {string_id} gives an insert a printf form")
            elif string_id in english and found != inserts(english[string_id]):
                problems.append(f"{label}: string {string_id} has inserts {found}, English has "
                                f"{inserts(english[string_id])}")
    for string_id, text in sorted(read_fallbacks(args.fallbacks, ids).items()):
        if english.get(string_id) != text:
            problems.append(f"the English copy of {string_id} in {args.fallbacks} is not the module's English")
    if args.dll:
        built = module_strings(args.dll)
        source = {(language, string_id): text for language, strings in tables.items()
                  for string_id, text in strings.items()}
        for key in sorted(set(source) | set(built)):
            if source.get(key) != built.get(key):
                problems.append(f"{args.dll}: string {key[1]} of language {key[0]:04X} is "
                                f"{built.get(key)!r}, its source {source.get(key)!r}")
    for p in problems:
        print(p)
    count = sum(len(strings) for strings in tables.values())
    print(f"{len(tables)} languages, {count} strings: {len(problems)} problem(s)")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
