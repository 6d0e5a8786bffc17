#!/usr/bin/env python3
"""Writes Ravento's two release archives from a built DLL, byte for byte the same on every run.

    package_release.py --version V --kind KIND --dll Ravento.dll --debug Ravento.dll.debug
                       --docs DIR --out DIR

DIR of --docs holds the texts that go beside the DLL (README.txt, LICENSE.txt,
THIRD-PARTY-NOTICES.txt, CHANGELOG.md). Writes OUT/Ravento-V-win64-KIND.zip (the DLL, the texts
and SHA256SUMS of them) and OUT/Ravento-V-win64-KIND-symbols.zip (Ravento.dll.debug); KIND says
what the archive is (test-build, test-build-no-service). The changelog's [Unreleased] becomes
[V] with the date of SOURCE_DATE_EPOCH, under a first line that says the archive is a test build.
Entries are stored in sorted order with one fixed time (SOURCE_DATE_EPOCH, else 1980-01-01) and
fixed permissions, so two clones of one commit give identical archives.
"""
import argparse
import hashlib
import os
import pathlib
import sys
import time
import zipfile

TEXTS = ["CHANGELOG.md", "LICENSE.txt", "README.txt", "THIRD-PARTY-NOTICES.txt"]


TEST_BUILD_NOTE = ("> TEST BUILD of Ravento {version}, not for players: built with mingw-w64 against a stand-in\n"
                   "> of Orvane's SDK. A release for players is built with the host's own compiler and SDK\n"
                   "> (docs/windows.md in Ravento's sources, \"Building for the real host\").\n\n")


def source_time():
    return time.gmtime(int(os.environ.get("SOURCE_DATE_EPOCH", "315532800")))


def entry_time():
    # A zip entry's time has a two-second step and starts in 1980.
    return max(source_time()[:6], (1980, 1, 1, 0, 0, 0))


def released_changelog(text, version):
    """The changelog as the archive carries it: what the archive is, then this version's entry."""
    dated = text.replace("## [Unreleased]", f"## [{version}] - {time.strftime('%Y-%m-%d', source_time())}", 1)
    return TEST_BUILD_NOTE.format(version=version) + dated


def write_zip(path, entries):
    """entries: name -> bytes. Written sorted by name, with one time and mode for all."""
    stamp = entry_time()
    with zipfile.ZipFile(path, "w") as archive:
        for name in sorted(entries):
            info = zipfile.ZipInfo(name, date_time=stamp)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.create_system = 3  # Unix, so the mode below is what unzip shows
            info.external_attr = 0o644 << 16
            archive.writestr(info, entries[name], compresslevel=9)


def sha256sums(entries):
    lines = [f"{hashlib.sha256(data).hexdigest()}  {name}\n" for name, data in sorted(entries.items())]
    return "".join(lines).encode()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--version", required=True)
    parser.add_argument("--kind", required=True, choices=["test-build", "test-build-no-service"])
    parser.add_argument("--dll", type=pathlib.Path, required=True)
    parser.add_argument("--debug", type=pathlib.Path, required=True)
    parser.add_argument("--docs", type=pathlib.Path, required=True)
    parser.add_argument("--out", type=pathlib.Path, required=True)
    args = parser.parse_args()

    entries = {"Ravento.dll": args.dll.read_bytes()}
    for name in TEXTS:
        entries[name] = (args.docs / name).read_bytes()
    entries["CHANGELOG.md"] = released_changelog(entries["CHANGELOG.md"].decode(), args.version).encode()
    entries["SHA256SUMS"] = sha256sums(entries)

    args.out.mkdir(parents=True, exist_ok=True)
    base = f"Ravento-{args.version}-win64-{args.kind}"
    outputs = [args.out / f"{base}.zip", args.out / f"{base}-symbols.zip"]
    write_zip(outputs[0], entries)
    write_zip(outputs[1], {"Ravento.dll.debug": args.debug.read_bytes()})
    for output in outputs:
        print(f"{hashlib.sha256(output.read_bytes()).hexdigest()}  {output}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
