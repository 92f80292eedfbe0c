#!/usr/bin/env python3
"""Writes a realistic repository index ("packages.xml") for benchmarks.

    python3 gen_index.py [--packages N] [--seed S] <output>

The default, 60,000 packages, gives about 68 MB. The output is the same for
the same arguments. Each package has a maintainer, a description of one to
six sentences (some with quotes, apostrophes and markup characters), one to
three categories and one to three file entries (win32 and win64 builds, now
and then an older version or the "i386"/"amd64" spellings); each file entry
carries a build time, an MD5 sum and up to a dozen dependencies on other
packages, most with a version comparison. A few packages carry elements the
importer does not know, as newer repository tools may write them.
"""

import argparse
import random
import sys
from xml.sax.saxutils import escape

WORDS = ("image audio video codec font render network crypto compress archive parse xml json yaml "
         "sql data base core util tool kit widget graph plot math linear algebra signal stream "
         "socket http ssl tls ftp mail text unicode locale regex script shell python perl ruby lua "
         "tcl java qt gtk sdl open gl vulkan draw vector raster pdf postscript print scan camera "
         "serial usb bluetooth audio midi synth sample filter effect mixer player record convert "
         "format check test bench debug trace profile log config option build make cmake meson "
         "ninja compile link loader runtime thread async event queue cache store index search").split()
PREFIXES = ["lib", "", "", "python3-", "perl-", "qt5-", "gtk3-", "", "lib", "ruby-", "lua-", "tcl-"]
SUFFIXES = ["", "", "", "-dev", "-doc", "-tools", "-bin", "-data", "-utils", "-plugins"]
CATEGORIES = ["Libraries", "Libraries/Graphics", "Libraries/Multimedia", "Libraries/Network",
              "Development", "Development/Tools", "Development/Debuggers", "Development/Languages",
              "Graphics", "Multimedia/Audio", "Multimedia/Video", "Network", "Network/Web",
              "Office", "Science/Mathematics", "System", "System/Shells", "Utilities",
              "Utilities/Archiving", "Documentation", "Games", "Fonts", "Education"]
FIRST = "Anna Ben Clara David Eva Felix Greta Hugo Ida Jonas Karla Lukas Mia Noah Olga Paul Rita Sven Tina Uwe".split()
LAST = "Abel Berger Chen Dubois Eriksen Fischer Garcia Horvath Ito Jansen Kowalski Lopez Moreau Novak O'Neill Petrov".split()
OPERATORS = [">=", ">=", ">=", "=", "<<", "<", ">", "<=", "!="]


def sentence(rnd):
    words = [rnd.choice(WORDS) for _ in range(rnd.randint(6, 16))]
    text = " ".join(words).capitalize()
    roll = rnd.random()
    if roll < 0.08:
        text += " (it's \"fast\" & small)"
    elif roll < 0.12:
        text += " for <platform> builds"
    return text + "."


def version(rnd):
    parts = [str(rnd.randint(0, 12)), str(rnd.randint(0, 30))]
    if rnd.random() < 0.7:
        parts.append(str(rnd.randint(0, 40)))
    text = ".".join(parts)
    if rnd.random() < 0.8:
        text += "-%d" % rnd.randint(1, 6)
        if rnd.random() < 0.05:
            text += "~rc%d" % rnd.randint(1, 3)
    return text


def package_names(rnd, count):
    names, seen = [], set()
    while len(names) < count:
        name = rnd.choice(PREFIXES) + rnd.choice(WORDS)
        if rnd.random() < 0.6:
            name += rnd.choice(["", "-", ""]) + rnd.choice(WORDS)
        name += rnd.choice(SUFFIXES)
        if name in seen:
            name += str(rnd.randint(2, 99))
        if name not in seen:
            seen.add(name)
            names.append(name)
    return names


def dependency(rnd, names):
    name = rnd.choice(names)
    if rnd.random() < 0.3:
        return name
    operator = rnd.choice(OPERATORS)
    if operator == "<<":
        operator = "<"
    return "%s %s %s" % (name, operator, version(rnd))


def file_entry(out, rnd, names, ver, architecture, time):
    out.write("   <file>\n")
    out.write("    <version>%s</version>\n" % ver)
    out.write("    <architecture>%s</architecture>\n" % architecture)
    out.write("    <time>%d</time>\n" % time)
    out.write("    <md5sum>%032x</md5sum>\n" % rnd.getrandbits(128))
    for _ in range(min(12, int(rnd.expovariate(1 / 3.4)))):
        out.write("    <dependency>%s</dependency>\n" % escape(dependency(rnd, names)))
    out.write("   </file>\n")


def package(out, rnd, name, names):
    out.write(" <package>\n")
    out.write("  <name>%s</name>\n" % name)
    maintainer = "%s %s <%s@vantorplatform.org>" % (rnd.choice(FIRST), rnd.choice(LAST), name.replace("+", ""))
    out.write("  <maintainer>%s</maintainer>\n" % escape(maintainer))
    description = " ".join(sentence(rnd) for _ in range(rnd.randint(1, 6)))
    out.write("  <description>%s</description>\n" % escape(description))
    if rnd.random() < 0.1:
        out.write("  <homepage>https://example.org/%s</homepage>\n" % name)
    out.write("  <categories>\n")
    for category in rnd.sample(CATEGORIES, rnd.choice([1, 1, 1, 2, 2, 3])):
        out.write("   <category>%s</category>\n" % category)
    out.write("  </categories>\n")
    out.write("  <files>\n")
    ver = version(rnd)
    time = 1500000000 + rnd.randint(0, 250000000)
    legacy = rnd.random() < 0.1
    file_entry(out, rnd, names, ver, "i386" if legacy else "win32", time)
    if rnd.random() < 0.75:
        file_entry(out, rnd, names, ver, "amd64" if legacy else "win64", time + rnd.randint(0, 600))
    if rnd.random() < 0.2:
        file_entry(out, rnd, names, version(rnd), "win32", time - rnd.randint(86400, 86400 * 400))
    out.write("  </files>\n")
    out.write(" </package>\n")


def main():
    parser = argparse.ArgumentParser(description="Write a realistic packages.xml for benchmarks.")
    parser.add_argument("output")
    parser.add_argument("--packages", type=int, default=60000)
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()
    rnd = random.Random(args.seed)
    names = package_names(rnd, args.packages)
    with open(args.output, "w", encoding="utf-8", newline="\n") as out:
        out.write('<?xml version="1.0" encoding="UTF-8"?>\n<vantor-packages>\n')
        for name in names:
            package(out, rnd, name, names)
        out.write("</vantor-packages>\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
