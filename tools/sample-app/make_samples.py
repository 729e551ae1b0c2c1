#!/usr/bin/env python3
"""Data files and Windows Installer packages of the sample payload.

    python3 make_samples.py data OUTDIR
        help.pdf (a one-page PDF), repo.jpg (a 16 x 16 JPEG), a WiX source per
        runtime package (AAC.wxs, H264.wxs, MPEG4.wxs) with the text file each
        installs, a package that refuses to install (Refusing.wxs, for tests),
        one that installs and asks for a restart of Windows (Restarting.wxs,
        for tests), and sample_packages.h, which tells programs what the
        packages leave behind.

    python3 make_samples.py msi --wixl WIXL --msibuild MSIBUILD SOURCE.wxs OUT.msi
        Builds one package with wixl, reproducibly: the package code is the
        Package element's Id and the summary's times are fixed, so that the
        same source always gives the same bytes.

Each package installs one text file into
[ProgramFilesFolder]Quentar samples\\<codec> decoder and registers itself as an
installed product. All output is deterministic.
"""
import argparse
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time

JPEG_HEX = (
    "ffd8ffe000104a46494600010100000100010000ffdb00430006040506050406060506070706080a100a0a09090a140e0f0c10"
    "17141818171416161a1d251f1a1b231c1616202c20232627292a29191f2d302d283025282928ffdb0043010707070a080a130a"
    "0a13281a161a2828282828282828282828282828282828282828282828282828282828282828282828282828282828282828"
    "282828ffc00011080010001003012200021101031101ffc4001500010100000000000000000000000000000007ffc400181000"
    "0301010000000000000000000000000016a16263ffc4001501010100000000000000000000000000000506ffc4001511010100"
    "000000000000000000000000000014ffda000c03010002110311003f008f2a62054c42f6abce055e70b4b41d2fffd9"
)

# 2010-01-01 00:00 UTC: the time given to every file the packages carry and
# to the packages' summaries.
FIXED_EPOCH = 1262304000

# The folder under the common application-data folder where the sample
# redistributable leaves its marker, and the marker's name.
MARKER_FOLDER = "Quentar samples"
REDIST_MARKER = "AXISMediaControlSDK_redist.txt"
# When a file of this name is in the same folder, the redistributable ends
# with the decimal exit code it holds (3010: installed, restart needed).
REDIST_EXIT_CODE = "AXISMediaControlSDK_redist.exitcode"


# What the real runtime leaves for the setup program's detection to find:
# the redistributable registers the media control's COM class (served by the
# sample in-process server it carries), and each decoder package registers
# one DirectX Media Object. Its uninstallation takes each back.
MEDIA_CONTROL_CLASS = "{4F1D0C59-5ECC-4028-87F3-482191D2230F}"
# The folder under the program-files folder where the redistributable puts
# the server, and the server's name.
MEDIA_CONTROL_FOLDER = "Quentar samples\\Media control"
MEDIA_CONTROL_SERVER = "SampleMediaControl.dll"
# The argument that makes the redistributable take back what it installed.
REDIST_UNINSTALL_SWITCH = "/uninstall"


class Package:
    """One sample runtime package: its entry name and its fixed codes."""

    def __init__(self, key, entry, title, tail, dmo=None, refuse=False, restart=False):
        self.key = key            # file stem of its WiX source
        self.entry = entry        # the payload entry name it is carried under
        self.title = title
        self.dmo = dmo            # class id of the DirectX Media Object it registers
        self.refuse = refuse      # a launch condition that never holds
        self.restart = restart    # schedules a restart of Windows at its end
        self.upgrade_code = "6d2c4e1a-0b7f-4c55-9a31-" + tail
        self.product_code = "6d2c4e1a-0b7f-4c55-9a32-" + tail
        self.package_code = "6d2c4e1a-0b7f-4c55-9a33-" + tail
        self.component_code = "5a1f3c2e-8d4b-4f6a-b2c1-" + tail
        self.installed_file = key.lower() + "-decoder.txt"


PACKAGES = [
    Package("AAC", "AxisAACDecoderSetup.msi", "Sample AAC decoder", "00000000a0c1",
            dmo="{BA7A56EB-D1B9-443B-96E9-086532A378F1}"),
    Package("H264", "AxisH264DecoderSetup.msi", "Sample H264 decoder", "00000000b264",
            dmo="{7340F0E4-AEDA-47C6-8971-9DB314030BD7}"),
    Package("MPEG4", "AxisMPEG4DecoderSetup.msi", "Sample MPEG4 decoder", "00000000c004",
            dmo="{C32FE9F1-A857-48B0-B7BF-065B5792F28D}"),
]
REFUSING = Package("Refusing", "AxisH264DecoderSetup.msi", "Sample refusing decoder", "00000000fa11", refuse=True)
REFUSAL_MESSAGE = "This sample package refuses to install."
RESTARTING = Package("Restarting", "AxisMPEG4DecoderSetup.msi", "Sample restarting decoder", "00000000eb07",
                     restart=True)


def pdf():
    text = b"BT /F1 18 Tf 72 720 Td (Quentar - sample help) Tj ET"
    objects = [
        b"<< /Type /Catalog /Pages 2 0 R >>",
        b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R "
        b"/Resources << /Font << /F1 5 0 R >> >> >>",
        b"<< /Length %d >>\nstream\n" % len(text) + text + b"\nendstream",
        b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
    ]
    out = bytearray(b"%PDF-1.4\n")
    offsets = []
    for number, body in enumerate(objects, 1):
        offsets.append(len(out))
        out += b"%d 0 obj\n" % number + body + b"\nendobj\n"
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
    for offset in offsets:
        out += b"%010d 00000 n \n" % offset
    out += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objects) + 1, xref)
    return bytes(out)


def wxs(p):
    condition = ""
    if p.refuse:
        condition = f'\n    <Condition Message="{REFUSAL_MESSAGE}">0</Condition>'
    registration = ""
    if p.dmo:
        # The DMO's registration as the system's DMORegister makes it: its
        # name under DirectShow\MediaObjects, in a key named by the class id
        # without braces (which a formatted field would take for a group
        # anyway); removed with the component.
        registration = (f'\n              <RegistryValue Root="HKLM" '
                        f'Key="Software\\Classes\\DirectShow\\MediaObjects\\{p.dmo.strip("{}")}" Type="string" '
                        f'Value="{p.title}"/>')
    # The installer restarts Windows at the end unless told not to
    # (REBOOT=ReallySuppress, which msiexec's /norestart sets); it then ends
    # with 3010.
    sequence = ""
    if p.restart:
        sequence = '\n    <InstallExecuteSequence><ScheduleReboot After="InstallFinalize"/></InstallExecuteSequence>'
    return f"""<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="{p.product_code}" Name="{p.title}" Language="1033" Version="1.0.0.0"
           Manufacturer="Quentar samples" UpgradeCode="{p.upgrade_code}">
    <Package Id="{p.package_code}" InstallerVersion="200" Compressed="yes" InstallScope="perMachine"/>{condition}
    <Media Id="1" Cabinet="data.cab" EmbedCab="yes"/>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="ProgramFilesFolder">
        <Directory Id="SAMPLESDIR" Name="Quentar samples">
          <Directory Id="INSTALLDIR" Name="{p.key} decoder">
            <Component Id="Marker" Guid="{p.component_code}">
              <File Id="MarkerFile" Name="{p.installed_file}" Source="{p.installed_file}" KeyPath="yes"/>{registration}
            </Component>
          </Directory>
        </Directory>
      </Directory>
    </Directory>
    <Feature Id="Main" Level="1"><ComponentRef Id="Marker"/></Feature>{sequence}
  </Product>
</Wix>
"""


def header():
    def wide(text):
        return 'L"' + text.replace("\\", "\\\\") + '"'

    lines = [
        "/* Written by make_samples.py: what the sample runtime packages leave behind. */",
        "#pragma once",
        "",
        "/* The redistributable writes this file into this folder of the common",
        "   application-data folder: its own path and working folder, one per line. */",
        f"#define SAMPLE_MARKER_FOLDER {wide(MARKER_FOLDER)}",
        f"#define SAMPLE_REDIST_MARKER {wide(REDIST_MARKER)}",
        "/* With this file beside the marker, the redistributable ends with the",
        "   decimal exit code the file holds instead of 0. */",
        f"#define SAMPLE_REDIST_EXIT_CODE {wide(REDIST_EXIT_CODE)}",
        "/* The redistributable registers the media control's COM class, served by",
        "   this in-process server in this folder of the program-files folder;",
        "   started with the uninstall switch it takes both back. */",
        f"#define SAMPLE_MEDIA_CONTROL_CLASS {wide(MEDIA_CONTROL_CLASS)}",
        f"#define SAMPLE_MEDIA_CONTROL_FOLDER {wide(MEDIA_CONTROL_FOLDER)}",
        f"#define SAMPLE_MEDIA_CONTROL_SERVER {wide(MEDIA_CONTROL_SERVER)}",
        f"#define SAMPLE_REDIST_UNINSTALL_SWITCH {wide(REDIST_UNINSTALL_SWITCH)}",
        "",
        "/* Each Windows Installer package registers its product and installs one",
        "   file, the key path of its one component. */",
        "struct SamplePackage {",
        "    const wchar_t* entry;          /* payload entry name */",
        "    const wchar_t* productCode;",
        "    const wchar_t* componentCode;",
        "    const wchar_t* installedFile;  /* the file's name */",
        "};",
        "",
    ]

    def record(p):
        return (f"{{{wide(p.entry)}, {wide('{' + p.product_code.upper() + '}')}, "
                f"{wide('{' + p.component_code.upper() + '}')}, {wide(p.installed_file)}}}")

    lines.append("static const struct SamplePackage kSamplePackages[] = {")
    for p in PACKAGES:
        lines.append(f"    {record(p)},")
    lines.append("};")
    lines.append("")
    lines.append("/* Carried by test fixtures under the H264 package's entry name: its launch")
    lines.append("   condition never holds, so it shows the message below and fails. */")
    lines.append(f"static const struct SamplePackage kRefusingSamplePackage = {record(REFUSING)};")
    lines.append(f"#define SAMPLE_REFUSAL_MESSAGE {wide(REFUSAL_MESSAGE)}")
    lines.append("")
    lines.append("/* Carried by test fixtures under the MPEG4 package's entry name: it installs")
    lines.append("   and schedules a restart of Windows, so it ends with 3010. */")
    lines.append(f"static const struct SamplePackage kRestartingSamplePackage = {record(RESTARTING)};")
    return "\n".join(lines) + "\n"


def write(path, data, mode="w"):
    with open(path, mode) as f:
        f.write(data)


def make_data(out):
    os.makedirs(out, exist_ok=True)
    write(os.path.join(out, "help.pdf"), pdf(), "wb")
    write(os.path.join(out, "repo.jpg"), bytes.fromhex(JPEG_HEX), "wb")
    for p in PACKAGES + [REFUSING, RESTARTING]:
        write(os.path.join(out, p.installed_file), f"{p.title}: sample runtime package of the Quentar setup program.\n")
        write(os.path.join(out, f"{p.key}.wxs"), wxs(p))
    write(os.path.join(out, "sample_packages.h"), header())


def filetime(seconds):
    return (seconds + 11644473600) * 10_000_000


def fix_summary_times(path, since):
    """Sets the summary's creation and last-saved times, which the tools take
    from the clock, to FIXED_EPOCH. They are the only FILETIME values of the
    package: typed values (VT_FILETIME, 64) between `since` and now."""
    data = bytearray(open(path, "rb").read())
    low, high = filetime(int(since) - 60), filetime(int(time.time()) + 60)
    marker = struct.pack("<I", 64)
    hits = [i for i in range(len(data) - 11)
            if data[i:i + 4] == marker and low <= struct.unpack_from("<Q", data, i + 4)[0] <= high]
    if len(hits) != 2:
        sys.exit(f"make_samples.py: expected the 2 summary times in {path}, found {len(hits)}")
    for i in hits:
        struct.pack_into("<Q", data, i + 4, filetime(FIXED_EPOCH))
    with open(path, "wb") as f:
        f.write(data)


def make_msi(args):
    source = open(args.source).read()
    package_code = re.search(r'<Package\s+Id="([^"]+)"', source).group(1)
    name = re.search(r'<Product\s[^>]*Name="([^"]+)"', source).group(1)
    manufacturer = re.search(r'Manufacturer="([^"]+)"', source).group(1)
    folder = os.path.dirname(os.path.abspath(args.source))
    output = os.path.abspath(args.output)
    started = time.time()
    # The cabinet records each file's time: the package is built from copies
    # that carry FIXED_EPOCH (the build's own files keep their times).
    with tempfile.TemporaryDirectory() as stage:
        for carried in re.findall(r'Source="([^"]+)"', source) + [os.path.basename(args.source)]:
            copy = os.path.join(stage, carried)
            shutil.copyfile(os.path.join(folder, carried), copy)
            os.utime(copy, (FIXED_EPOCH, FIXED_EPOCH))
        subprocess.run([args.wixl, "-o", output, os.path.basename(args.source)], cwd=stage, check=True)
    # wixl gives every package a new package code; the summary's revision
    # number holds it.
    subprocess.run([args.msibuild, output, "-s", name, manufacturer, "Intel;1033", "{" + package_code.upper() + "}"],
                   check=True)
    fix_summary_times(output, started)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    commands = parser.add_subparsers(dest="command", required=True)
    data = commands.add_parser("data")
    data.add_argument("outdir")
    msi = commands.add_parser("msi")
    msi.add_argument("--wixl", default="wixl")
    msi.add_argument("--msibuild", default="msibuild")
    msi.add_argument("source")
    msi.add_argument("output")
    args = parser.parse_args()
    if args.command == "data":
        make_data(args.outdir)
    else:
        make_msi(args)


if __name__ == "__main__":
    main()
