#!/usr/bin/env python3
"""Writes the data files of the sample payload into OUTDIR:

    python3 make_samples.py OUTDIR

help.pdf (a one-page PDF), repo.jpg (a 16 x 16 JPEG) and a WiX source per
runtime package (Aac, H264, Mpeg4) for wixl. Deterministic output.
"""
import os
import sys

JPEG_HEX = (
    "ffd8ffe000104a46494600010100000100010000ffdb00430006040506050406060506070706080a100a0a09090a140e0f0c10"
    "17141818171416161a1d251f1a1b231c1616202c20232627292a29191f2d302d283025282928ffdb0043010707070a080a130a"
    "0a13281a161a2828282828282828282828282828282828282828282828282828282828282828282828282828282828282828"
    "282828ffc00011080010001003012200021101031101ffc4001500010100000000000000000000000000000007ffc400181000"
    "0301010000000000000000000000000016a16263ffc4001501010100000000000000000000000000000506ffc4001511010100"
    "000000000000000000000000000014ffda000c03010002110311003f008f2a62054c42f6abce055e70b4b41d2fffd9"
)


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


def wxs(codec, guid_tail):
    return f"""<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="*" Name="Sample {codec} decoder" Language="1033" Version="1.0.0.0"
           Manufacturer="Quentar samples" UpgradeCode="6d2c4e1a-0b7f-4c55-9a31-{guid_tail}">
    <Package InstallerVersion="200" Compressed="yes" InstallScope="perMachine"/>
    <Media Id="1" Cabinet="data.cab" EmbedCab="yes"/>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="ProgramFilesFolder">
        <Directory Id="INSTALLDIR" Name="Sample {codec} decoder">
          <Component Id="Readme" Guid="5a1f3c2e-8d4b-4f6a-b2c1-{guid_tail}">
            <File Id="ReadmeFile" Name="readme.txt" Source="readme.txt"/>
          </Component>
        </Directory>
      </Directory>
    </Directory>
    <Feature Id="Main" Level="1"><ComponentRef Id="Readme"/></Feature>
  </Product>
</Wix>
"""


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    with open(os.path.join(out, "help.pdf"), "wb") as f:
        f.write(pdf())
    with open(os.path.join(out, "repo.jpg"), "wb") as f:
        f.write(bytes.fromhex(JPEG_HEX))
    with open(os.path.join(out, "readme.txt"), "w") as f:
        f.write("Sample runtime package of the Quentar setup program.\n")
    for codec, tail in (("AAC", "00000000a0c1"), ("H264", "00000000b264"), ("MPEG4", "00000000c004")):
        with open(os.path.join(out, f"{codec}.wxs"), "w") as f:
            f.write(wxs(codec, tail))


if __name__ == "__main__":
    main()
