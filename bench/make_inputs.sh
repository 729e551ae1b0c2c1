#!/bin/sh
# Makes the benchmark's generated inputs in folder $1: a JPEG photo-like
# picture (ImageMagick) and an MSI package (msitools' wixl). Either is skipped
# when its tool is missing; the benchmark uses what exists.
set -u
out=$1
mkdir -p "$out"
if command -v convert >/dev/null && [ ! -s "$out/photo.jpg" ]; then
    convert -seed 7 -size 1600x1200 plasma:fractal -blur 0x1 -quality 90 "$out/photo.jpg" || rm -f "$out/photo.jpg"
fi
if command -v wixl >/dev/null && [ ! -s "$out/package.msi" ]; then
    for f in /usr/share/common-licenses/GPL-3 /usr/share/common-licenses/Apache-2.0; do
        [ -r "$f" ] && cat "$f"
    done >"$out/licence.txt"
    cat >"$out/package.wxs" <<'WXS'
<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="*" Name="Bench Package" Language="1033" Version="1.0.0"
           Manufacturer="Bench" UpgradeCode="6f1c7d1e-3a57-4bb8-9d0e-2b1f0a4e5c11">
    <Package InstallerVersion="200" Compressed="yes" InstallScope="perMachine"/>
    <Media Id="1" Cabinet="data.cab" EmbedCab="yes"/>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="ProgramFilesFolder">
        <Directory Id="INSTALLDIR" Name="Bench">
          <Component Id="Main" Guid="0b8a5f4e-6a2c-4a0e-9d8e-7c1b2a3d4e5f">
            <File Id="Licence" Source="licence.txt"/>
          </Component>
        </Directory>
      </Directory>
    </Directory>
    <Feature Id="All" Level="1"><ComponentRef Id="Main"/></Feature>
  </Product>
</Wix>
WXS
    (cd "$out" && wixl -o package.msi package.wxs) || rm -f "$out/package.msi"
fi
exit 0
