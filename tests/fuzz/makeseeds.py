#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into tests/fuzz/corpus.

    tests/fuzz/makeseeds.py ZELREPO

ZELREPO is the repository tool of a build (build/tools/cli/zelrepo); the
package archives among the seeds are made with it. The hostile archives
(paths that climb, links, damaged streams) are written here, since the tool
refuses to make them. The seeds are small on purpose: libFuzzer grows its own
corpus in the work folder of scripts/fuzz.sh.
"""
import gzip
import io
import os
import shutil
import subprocess
import sys
import tarfile
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "corpus")
PREFIX = b"/usr/lib/vantor/cross-compile/toolchain-root-folder/i686-w64-mingw32"


def write(target, name, data):
    folder = os.path.join(CORPUS, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data if isinstance(data, bytes) else data.encode())


def index_seeds():
    write("index", "two-packages.xml", """<?xml version="1.0" encoding="UTF-8"?>
<vantor-packages>
 <package>
  <name>zlib</name><maintainer>A &amp; B</maintainer><description>It's a library</description>
  <categories><category>Libraries</category><category>Development/Tools</category></categories>
  <files>
   <file><version>1.2.11-1</version><architecture>i386</architecture><time>1600000000</time>
    <md5sum>0123456789abcdef0123456789abcdef</md5sum>
    <dependency>libc >= 2.0</dependency><dependency>!bad</dependency><dependency>plain</dependency></file>
   <file><version>1.2.11-1</version><architecture>amd64</architecture><time>1600000001</time>
    <md5sum>fedcba9876543210fedcba9876543210</md5sum></file>
  </files>
  <extra><nested>skipped</nested></extra>
 </package>
 <package><files><file><version>2.0</version><dependency>x=1</dependency></file></files><name>late</name></package>
 <package><description>no name</description></package>
 <other/>
</vantor-packages>
""")
    write("index", "wrong-root.xml", "<?xml version='1.0'?><packages><package><name>x</name></package></packages>")
    write("index", "cut.xml", "<vantor-packages><package><name>a</name></package><package><name>b<")
    write("index", "markup-in-text.xml",
          "<!DOCTYPE x [<!ENTITY e 'quoted'>]><a><vantor-packages><package><name>n<b>bold</b></name>"
          "<description>&e; &#x41;<![CDATA[<raw>]]></description></package></vantor-packages></a>")


def version_seeds():
    write("version", "numeric", "1.10\n1.9\n1.9.1\nzlib >= 1.2")
    write("version", "revisions", "2.0-1\n2.0-1~beta\n2.0-1~\nfoo<<1")
    write("version", "mixed", "2\n10\n1a\nname != 2.0-1")
    write("version", "invalid", "-1\n.2\n1..3\n>= 1.0")
    write("version", "wildcard", "1.*\n1.5\n1.6-*\n bar ")
    write("version", "long", "1.2.3.4\n1.2.3.10\n20240101123456789012\n")


def fixup_seeds():
    def seed(old, new, data, flush=16, pieces=()):
        return bytes([len(old) - 1, len(new) - 1 if new else 0xFF, flush - 1, len(pieces)]) + bytes(
            p - 1 for p in pieces) + old + new + data
    write("fixup", "text", seed(b"/opt/build", b"/x", b"path=/opt/build/bin/tool\nnext /opt/build\tend"))
    write("fixup", "binary", seed(b"/opt/build", b"/inst", b"\0/opt/build/lib/a.so\0\x80/opt/build\xff\xfe\x01x",
                                  flush=4, pieces=(3, 1, 7)))
    write("fixup", "overlap", seed(b"aaa", b"a", b"aaaaaaaaaa aaa", flush=2, pieces=(1, 2)))
    write("fixup", "start-end", seed(b"/p", b"/q", b"/p/x/p", flush=1, pieces=(1,)))
    write("fixup", "empty-new", seed(b"/p", b"", b"/p/x"))


def registry_seeds():
    def values(key, *items):
        return b"\0" + b"\0".join(s.encode() for s in (key,) + items)
    write("registry", "values", values("SYSTEM\\Env", "Path", "expand", "C:\\a;D:\\b", "Count", "dword", "42",
                                       "name", "sz", "x=y", "NAME", "sz", "case"))
    write("registry", "escapes", values("Key[1]", "a=b", "sz", "line\nbreak\r\\[x]", "", "sz", "default",
                                        "gone", "sz", "1", "gone", "delete", ""))
    write("registry", "hive", "\x01[A]\nname=sz:text\nother=expand:\\e\\n\\[\\]\\\\\nnum=dword:7\n"
                              "[B]\nx=sz:y\nbroken line\n=sz:empty\n[a]\nlower=sz:same key\n")


def fixconfig_seeds():
    write("fixconfig", "names", b"\0bin/tool.exe\0share/doc/100%.txt\0name with spaces\0")
    write("fixconfig", "hostile-names", b"\0 lead\0trail \0line\nbreak\0[exclude-folders]\0=\0")
    write("fixconfig", "file", "\x01[settings]\nprefix=/opt/vp/win32\n\n[exclude-files]\n0=bin/a.exe\n"
                               "\n[exclude-folders]\n0=share/icons\n1= spaced \n\n[exclude-suffixes]\n0=.bz2\n"
                               "  [exclude-files]\n=no\n9=.new\n")


def desktop_seeds():
    write("desktop", "application", """junk before
[Desktop Entry]
Type=Application
Name=Tool
Name[de_DE]=Werkzeug
Comment=Does things
Exec="bin/my app" --x "a b" c %F %U
Path=bin
Categories=System;Utility;
NotShowIn=Desktop;
Terminal=Yes
""")
    write("desktop", "environment", "[Desktop Entry]\nType=Environment\nName=FUZZ_HOME\nPath=share/fuzz\nValue=x\n")
    write("desktop", "alternative", "[Desktop Entry]\nType=Alternative\nName=Solver_Engine\nPriority=20\n"
                                    "Value=bin/solver.exe\n[Other Group]\nPriority=30\n")
    write("desktop", "link", "[Desktop Entry]\nType=Link\nName=Site\nURL=http://example.org/a b\nOnlyShowIn=StartMenu\n")
    write("desktop", "service", "[Desktop Entry]\nType=Service\nName=svc\nInstall=bin/svc.exe --install\n"
                                "Start=bin/svc.exe --start\nStop=bin/svc.exe --stop\nRemove=bin/svc.exe --remove\n")


def infodir_seeds():
    manual = """This is fuzz.info.
INFO-DIR-SECTION Development
START-INFO-DIR-ENTRY
* Fuzz: (fuzz).        The fuzzer.
   continued line
END-INFO-DIR-ENTRY
START-INFO-DIR-ENTRY
* Early: (early).
END-INFO-DIR-ENTRY
INFO-DIR-SECTION Text
START-INFO-DIR-ENTRY
* Open: (open).
"""
    write("infodir", "text", b"\0" + manual.encode())
    write("infodir", "gzip", b"\1" + gzip.compress(manual.encode(), mtime=0))
    write("infodir", "crlf-utf8", b"\0INFO-DIR-SECTION \xc3\x9cbersicht\r\nSTART-INFO-DIR-ENTRY\r\n* \xe2\x82\xac\r\n"
                                  b"END-INFO-DIR-ENTRY\r\n")


def icontheme_seeds():
    write("icontheme", "index", """[Icon Theme]
Name=Fuzz
Comment=A theme
Inherits=hicolor,breeze
Directories=48x48/apps,gone/apps

[48x48/apps]
Size=64
Context=Other
Type=Fixed

[gone/apps]
Size=16
""")
    write("icontheme", "odd-values", "[Icon Theme]\nName=\"quoted, comma\"\nKey;x=1\n%General=y\nDirectories=\n")


def tar_member(tar, name, data=b"", kind=tarfile.REGTYPE, link=""):
    info = tarfile.TarInfo(name)
    info.type = kind
    info.size = len(data) if kind == tarfile.REGTYPE else 0
    info.linkname = link
    info.mtime = 1600000000
    tar.addfile(info, io.BytesIO(data) if kind == tarfile.REGTYPE else None)


def hostile_archives():
    buffer = io.BytesIO()
    with tarfile.open(fileobj=buffer, mode="w", format=tarfile.GNU_FORMAT) as tar:
        tar_member(tar, "package.xml", b"<package><nofix>bin/*</nofix></package>")
        tar_member(tar, "../escape.txt", b"out")
        tar_member(tar, "/abs.txt", b"abs")
        tar_member(tar, "bin/link", kind=tarfile.SYMTYPE, link="/etc")
        tar_member(tar, "bin/link/x.txt", b"through the link")
        tar_member(tar, "a/./b//c.txt", b"clean me")
        tar_member(tar, "hard", kind=tarfile.LNKTYPE, link="a/./b//c.txt")
    data = buffer.getvalue().rstrip(b"\0")
    data += b"\0" * (-len(data) % 512) + b"\0" * 1024
    return data


def archive_seeds(zelrepo):
    work = tempfile.mkdtemp()
    try:
        source = os.path.join(work, "src")
        os.makedirs(os.path.join(source, "files", "bin"))
        os.makedirs(os.path.join(source, "files", "share", "info"))
        os.makedirs(os.path.join(source, "files", "share", "applications"))
        with open(os.path.join(source, "manifest"), "w") as f:
            f.write("name: fuzz\nversion: 1.0-1\narchitecture: win32\nmaintainer: M\ndescription: D\n"
                    "depends: zlib >= 1.2\nnofix: bin/*.exe\ncategory: Tools\n")
        with open(os.path.join(source, "postinst"), "w") as f:
            f.write("setenv('A', 'b');\n")
        files = {
            "bin/tool.exe": b"MZ\0" + PREFIX + b"/lib\0rest",
            "bin/tool.conf": b"root=" + PREFIX + b"/etc\nnext\n",
            "share/info/fuzz.info": b"INFO-DIR-SECTION Dev\nSTART-INFO-DIR-ENTRY\n* Fuzz: (fuzz).\nEND-INFO-DIR-ENTRY\n",
            "share/applications/fuzz.desktop": b"[Desktop Entry]\nType=Application\nName=Fuzz\nExec=tool\n",
        }
        for path, data in files.items():
            with open(os.path.join(source, "files", path), "wb") as f:
                f.write(data)
        for flags, name in (([], "plain.vtrpkg"), (["--lzma"], "lzma.vtrpkg"), (["--lzma", "--dot-slash"],
                                                                                 "dot-slash.vtrpkg")):
            repo = os.path.join(work, "repo-" + name)
            subprocess.run([zelrepo, "build", source, repo, "--time", "1600000000", "--mtime", "1600000000",
                            "--no-index"] + flags, check=True, stdout=subprocess.DEVNULL)
            built = [f for f in os.listdir(repo) if f.endswith(".vtrpkg")][0]
            with open(os.path.join(repo, built), "rb") as f:
                data = f.read()
            for target in ("archive", "installer"):
                write(target, name, data)
    finally:
        shutil.rmtree(work)
    hostile = hostile_archives()
    for target in ("archive", "installer"):
        write(target, "hostile.tar", hostile)
        write(target, "cut.tar", hostile[:700])


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    index_seeds()
    version_seeds()
    fixup_seeds()
    registry_seeds()
    fixconfig_seeds()
    desktop_seeds()
    infodir_seeds()
    icontheme_seeds()
    archive_seeds(sys.argv[1])


if __name__ == "__main__":
    main()
