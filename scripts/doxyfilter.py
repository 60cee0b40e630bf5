#!/usr/bin/env python3
"""Helpers of the API reference (scripts/docs.sh).

  doxyfilter.py HEADER      prints HEADER as Doxygen should read it
  doxyfilter.py --index     prints the main page and the module groups

Our headers carry plain // comments: a block right above a declaration says
what the declaration does, a comment after a declaration on its line says
what that field or constant is, and the block at the top of a header says
what the header holds. The filter marks exactly those as documentation
(///, ///<, and a @file block that puts the header into its groups); any
other comment (section notes, a block followed by an empty line) stays plain.
A one-line comment naming a topic ("// Traffic.", "// ---- modes") heads a
section of class members or free functions, which runs to the next empty line: it becomes a
named member group. Text is escaped so Doxygen shows it as written. Line numbers stay as they
are after the top block, so warnings point at the right lines.

The modules are the rows of the README's module table ("What is there"):
one group per row, named after the row's first header, holding every
header of the row; headers in no row go into a "general" group.
"""
import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
README = os.path.join(ROOT, "README.md")
DOCS = os.path.join(ROOT, "docs")
GENERAL = ("group_general", "general: the umbrella header and the basic types")


def modules():
    """(group id, title, [headers]) for every row of the README's module table."""
    rows, inside = [], False
    with open(README, encoding="utf-8") as f:
        for line in f:
            if line.startswith("## "):
                inside = line.strip() == "## What is there"
                continue
            if not inside or not line.startswith("| ") or line.startswith("| module") or "---" in line:
                continue
            cells = [c.strip() for c in line.strip().strip("|").split("|")]
            if len(cells) != 2:
                continue
            headers = re.findall(r"`([a-z0-9_]+\.h)`", cells[1])
            if headers:
                rows.append(("group_" + headers[0][:-2], cells[0], headers))
    return rows


def groups_of(header):
    names = [g for g, _, hs in modules() if header in hs]
    return names or [GENERAL[0]]


def escape(text):
    """Doxygen shows text as written: its special characters are escaped,
    except in `code` and "quoted text", which it shows as they stand."""
    parts = text.split("`")
    for i in range(0, len(parts), 2):
        quoted = parts[i].split('"')
        for j in range(0, len(quoted), 2):
            quoted[j] = re.sub(r"([\\@<>&#%$])", r"\\\1", quoted[j])
        parts[i] = '"'.join(quoted)
    return "`".join(parts)


COMMENT = re.compile(r"^(\s*)//(?!/)\s?(.*)$")
NOT_DOCUMENTABLE = re.compile(r"^\s*(}|#\s*(include|pragma|if|ifdef|ifndef|else|elif|endif|undef)\b|"
                              r"(public|private|protected)\s*:|$)")
STATEMENT = re.compile(r"^\s*(return|if|for|while|do|switch|case|else|break|continue)\b")


def code_and_comment(line):
    """Splits a line at a // outside strings and character literals."""
    quote = None
    i = 0
    while i < len(line) - 1:
        c = line[i]
        if quote:
            if c == "\\":
                i += 1
            elif c == quote:
                quote = None
        elif c in "\"'":
            quote = c
        elif line.startswith("//", i):
            return line[:i], line[i + 2:]
        i += 1
    return line, None


ACCESS = re.compile(r"^\s*(public|private|protected)\s*:")
TYPE = re.compile(r"^\s*(enum|struct|class|union|typedef|using|constexpr|template|#\s*define)\b")
ARTICLES = {"the", "a", "an", "its", "this", "to", "of"}


def section_label(lines, i):
    """(name, description lines, block length) when the comment block at line
    i heads a section of class members or free functions: a comment that names
    a topic in a few words ("    // Traffic.", "    // ---- modes"), maybe
    followed by a note on the whole section ("    // Building. The lists
    end with KEND."); None for a sentence about the next declaration."""
    if i > 0 and COMMENT.match(lines[i - 1]):
        return None
    depth = re.match(r"^( *)//", lines[i])
    if not depth or depth.group(1) not in ("", "    "):
        return None
    block = []
    while i + len(block) < len(lines):
        m = re.match("^" + depth.group(1) + r"//(?!/)\s?(.*)$", lines[i + len(block)])
        if not m:
            break
        block.append(m.group(1).strip())
    follows = lines[i + len(block)] if i + len(block) < len(lines) else ""
    # A comment above a type or constant describes that one.
    if not block or COMMENT.match(follows) or TYPE.match(follows):
        return None
    dashes = re.match(r"^-{3,}\s*(.+)$", block[0])
    if dashes and len(block) == 1:
        return dashes.group(1), [], 1
    m = re.match(r"^([A-Z][^.]*)\.(?:\s+([A-Z].*))?$", block[0])
    if not m:
        return None
    words = m.group(1).split()
    if len(words) > (4 if m.group(2) is None else 3) or ARTICLES.intersection(w.lower() for w in words):
        return None
    if m.group(2) is None and len(block) > 1:
        return None
    return m.group(1), ([m.group(2)] if m.group(2) else []) + block[1:], len(block)


def filter_header(path):
    with open(path, encoding="utf-8") as f:
        lines = f.read().split("\n")
    out = []
    i = 0
    # The top block: what the header holds, and its groups.
    top = []
    while i < len(lines) and COMMENT.match(lines[i]):
        top.append(escape(COMMENT.match(lines[i]).group(2)))
        i += 1
    if top:
        out.append("/** @file")
        out.extend(" " + t for t in top)
        out.append(" @ingroup " + " ".join(groups_of(os.path.basename(path))) + " */")
        # Two lines were added: the include guard and the blank line after it go.
        if i < len(lines) and lines[i].strip() == "#pragma once":
            i += 1
            if i < len(lines) and lines[i].strip() == "":
                i += 1
    trailing_indent = None  # where a trailing comment began on the line before
    group_open = False  # a section of class members is open
    while i < len(lines):
        line = lines[i]
        m = COMMENT.match(line)
        # A section ends at the next empty line (or the class's end).
        if group_open and (not line.strip() or re.match(r"^}", line) or ACCESS.match(line)):
            line = "/*@}*/ " + line
            group_open = False
        section = section_label(lines, i)
        if section is not None:
            name, note, length = section
            note = [escape(t) for t in note]
            if note and length > 1:  # as many lines as the comment had
                note = note[:length - 2] + [" ".join(note[length - 2:])]
            pad = re.match(r"^( *)", lines[i]).group(1)
            head = [pad + "/** @name " + escape(name)] + [pad + " " + t for t in note]
            if len(head) > length and out and out[-1].strip() in ("", "/*@}*/"):
                # The name goes on the empty line above, to keep the count.
                out[-1] = out[-1].rstrip() + head.pop(0)
            head[-1] += " */ /*@{*/"
            out.extend(head)
            group_open = True
            trailing_indent = None
            i += length
            continue
        if m:
            # A continuation of the comment after the declaration above.
            if trailing_indent is not None and len(m.group(1)) >= trailing_indent:
                out.append(m.group(1) + "///< " + escape(m.group(2)))
                i += 1
                continue
            trailing_indent = None
            block = []
            while i < len(lines) and COMMENT.match(lines[i]):
                block.append(COMMENT.match(lines[i]))
                i += 1
            follows = lines[i] if i < len(lines) else ""
            # A block above a declaration that has its own trailing comment
            # names a section of fields rather than that one field.
            doc = len(block[0].group(1)) <= 4 and not NOT_DOCUMENTABLE.match(follows) and \
                code_and_comment(follows)[1] is None
            for b in block:
                out.append(b.group(1) + ("/// " + escape(b.group(2)) if doc else "// " + b.group(2)))
            continue
        code, comment = code_and_comment(line)
        trailing_indent = None
        if comment is not None and not comment.startswith("/") and code.strip() and \
                not STATEMENT.match(code) and code.rstrip().endswith((";", ",", "{")) and \
                len(code) - len(code.lstrip()) <= 8:
            out.append(code + "///< " + escape(comment.strip()))
            trailing_indent = len(code.rstrip())
        else:
            out.append(line)
        i += 1
    sys.stdout.write("\n".join(out))


def index():
    """The main page (the module table with links, the guides) and the groups."""
    rows = modules()
    guides = sorted(g for g in os.listdir(DOCS) if g.endswith(".md"))
    print("/** @mainpage tarvex API reference")
    print("")
    print("The public interface of tarvex, one page per header in `include/tarvex/`,")
    print("made from the comments the headers carry. A program includes `<tarvex/tarvex.h>`")
    print("(or single headers) and links `libtarvex.so`; the README explains building,")
    print("installing and the main loop.")
    print("")
    print("@section modules_sec Modules")
    print("")
    print("| module | headers |")
    print("|---|---|")
    listed = {h for _, _, hs in rows for h in hs}
    rest = sorted(h for h in os.listdir(os.path.join(ROOT, "include", "tarvex")) if h.endswith(".h") and h not in listed)
    for gid, title, headers in rows + [(GENERAL[0], GENERAL[1], rest)]:
        files = ", ".join("@ref %s" % h for h in headers)
        print("| @ref %s \"%s\" | %s |" % (gid, title.replace('"', "'").replace("`", ""), files))
    print("")
    print("@section guides_sec Guides")
    print("")
    for g in guides:
        with open(os.path.join(DOCS, g), encoding="utf-8") as f:
            title = f.readline().lstrip("#").strip()
        print("- @ref md_docs_%s \"%s\" (`docs/%s`)" % (g[:-3].replace("-", "_"), title, g))
    print("*/")
    print("")
    for gid, title, _ in rows + [GENERAL + (rest,)]:
        print("/** @defgroup %s %s */" % (gid, title.replace("`", "")))


if __name__ == "__main__":
    if len(sys.argv) == 2 and sys.argv[1] == "--index":
        index()
    elif len(sys.argv) == 2:
        filter_header(sys.argv[1])
    else:
        sys.exit("usage: doxyfilter.py HEADER | --index")
