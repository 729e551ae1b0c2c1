#!/usr/bin/env python3
"""Times an unattended installation by Setup.exe against an installer of the
same files made with NSIS (makensis, solid LZMA), both run under Wine in the
same session, and looks for the largest payload that still installs.

usage (inside the Windows test environment, as scripts/run-bench.sh runs it):
  scripts/test-env.sh BUILD_DIR python3 bench/installer_bench.py \
      --work DIR --measure run_measured.exe --tool setup-payload \
      [--reps 5] [--sizes 20,100,...] [--no-comparison] [--report FILE]

The payload is made of real 32-bit Windows binaries, Wine's own PE DLLs:
Quentar.exe is regedit.exe (a program with a version resource, from which
make setup takes the installer's version), zorbelreg.exe is winecfg.exe, and
the other four entries the program installs (AV2000SDK.dll, zorbel.dll,
help.pdf, repo.jpg) are whole DLLs laid end to end until the payload has the
size asked for.
Setup.exe is built with make setup (scripts/make-setup.sh); the NSIS
installer of the same six files writes them, an uninstall record and the same
three shortcuts. Each repetition runs both, alternating, from a clean
destination, after one uncounted round that warms the caches; the figures
are medians. run_measured.exe times each run and
reads its peak memory. After every run the installed files are compared with
the originals, so a run counts only when everything arrived.

The first size (about 20 MB) is the comparison; every size is then installed
by Setup.exe once, in increasing order, up to the first that fails.
"""
import argparse
import hashlib
import json
import os
import shutil
import statistics
import subprocess
import sys
import time

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
WINE_DLL_DIRS = ["/usr/lib/i386-linux-gnu/wine/i386-windows", "/usr/lib/wine/i386-windows"]
MB = 1000 * 1000
DATA_ENTRIES = ["AV2000SDK.dll", "zorbel.dll", "help.pdf", "repo.jpg"]
UNINSTALL = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall"


def wine_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def wine_dlls():
    for folder in WINE_DLL_DIRS:
        if os.path.isdir(folder):
            names = sorted(n for n in os.listdir(folder) if n.endswith(".dll"))
            return folder, [os.path.join(folder, n) for n in names]
    sys.exit("installer_bench: no 32-bit Wine DLLs found in " + " or ".join(WINE_DLL_DIRS))


def make_payload(size_mb, folder):
    """Writes the six entries of a payload of about size_mb MB into folder;
    returns [(entry, path)]."""
    dll_dir, dlls = wine_dlls()
    os.makedirs(folder, exist_ok=True)
    entries = [("Quentar.exe", os.path.join(dll_dir, "regedit.exe")),
               ("zorbelreg.exe", os.path.join(dll_dir, "winecfg.exe"))]
    fixed = sum(os.path.getsize(p) for _, p in entries)
    share = max(0, size_mb * MB - fixed) // len(DATA_ENTRIES)
    # Whole DLLs in name order, each taken by the first entry it still fits
    # in; past the end of the list it starts again.
    pool = [(d, os.path.getsize(d)) for d in dlls]
    pool *= 1 + size_mb * MB // sum(size for _, size in pool)
    for entry in DATA_ENTRIES:
        path = os.path.join(folder, entry)
        written = 0
        rest = []
        with open(path, "wb") as out:
            for dll, dll_size in pool:
                if written + dll_size > share:
                    rest.append((dll, dll_size))
                    continue
                with open(dll, "rb") as f:
                    out.write(f.read())
                written += dll_size
        pool = rest
        entries.append((entry, path))
    return entries


def build_setup(entries, out_dir, tree, tool):
    # The version is the carried Quentar.exe's own (make setup's rule).
    env = dict(os.environ, FILES=";".join(f"{e}={p}" for e, p in entries),
               SOURCE_DATE_EPOCH="1700000000", SETUP_RELEASE_DIR=out_dir, SETUP_RELEASE_TREE=tree,
               SETUP_PAYLOAD_TOOL=tool)
    for name in ("LICENSE", "KEY", "SIGN_CERT", "SIGN_KEY"):
        env.pop(name, None)
    run = subprocess.run(["bash", os.path.join(TOP, "scripts/make-setup.sh")], env=env,
                         capture_output=True, text=True)
    if run.returncode != 0:
        return None, (run.stdout + run.stderr).strip().splitlines()[-1:]
    return os.path.join(out_dir, "Setup.exe"), []


NSIS_SCRIPT = r"""Unicode true
SetCompressor /SOLID lzma
Name "Quentar"
OutFile "{out}"
InstallDir "$PROGRAMFILES\Quentar NSIS"
RequestExecutionLevel admin
Section
  SetOutPath "$INSTDIR"
{files}
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  WriteRegStr HKLM "Software\Microsoft\Windows\CurrentVersion\Uninstall\QuentarNsisBench" "DisplayName" "Quentar"
  WriteRegStr HKLM "Software\Microsoft\Windows\CurrentVersion\Uninstall\QuentarNsisBench" "DisplayVersion" "5.2.0.1"
  WriteRegStr HKLM "Software\Microsoft\Windows\CurrentVersion\Uninstall\QuentarNsisBench" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "Software\Microsoft\Windows\CurrentVersion\Uninstall\QuentarNsisBench" "InstallLocation" "$INSTDIR"
  CreateDirectory "$SMPROGRAMS\Quentar NSIS"
  CreateShortcut "$SMPROGRAMS\Quentar NSIS\Quentar.lnk" "$INSTDIR\Quentar.exe"
  CreateShortcut "$SMPROGRAMS\Quentar NSIS\Uninstall Quentar.lnk" "$INSTDIR\Uninstall.exe"
  CreateShortcut "$DESKTOP\Quentar NSIS.lnk" "$INSTDIR\Quentar.exe"
SectionEnd
Section "Uninstall"
  Delete "$INSTDIR\*.*"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "Software\Microsoft\Windows\CurrentVersion\Uninstall\QuentarNsisBench"
SectionEnd
"""


def build_nsis(entries, out):
    files = "\n".join(f'  File "/oname={e}" "{p}"' for e, p in entries)
    script = out + ".nsi"
    with open(script, "w") as f:
        f.write(NSIS_SCRIPT.format(out=out, files=files))
    run = subprocess.run(["makensis", "-V2", script], capture_output=True, text=True)
    if run.returncode != 0:
        sys.exit("installer_bench: makensis failed:\n" + run.stdout + run.stderr)
    return out


def wine(*args, check=False):
    return subprocess.run(["wine", *args], capture_output=True, text=True, check=check)


def uninstall_keys():
    keys = set()
    for view in ("/reg:32", "/reg:64"):
        for line in wine("reg", "query", UNINSTALL, view).stdout.splitlines():
            if line.upper().startswith("HKEY_"):
                keys.add((view, line.strip()))
    return keys


class Prefix:
    """What an installation leaves in the Wine prefix, removed between runs."""

    def __init__(self):
        self.root = os.path.join(os.environ["WINEPREFIX"], "drive_c")
        self.keys_before = uninstall_keys()

    def linux(self, windows_path):
        return os.path.join(self.root, windows_path[3:].replace("\\", "/"))

    def clean(self, destinations):
        for d in destinations:
            shutil.rmtree(self.linux(d), ignore_errors=True)
        for view, key in uninstall_keys() - self.keys_before:
            wine("reg", "delete", key, "/f", view)
        for base in ("users", "ProgramData"):
            # The desktop is a link into HOME: followed.
            for folder, dirs, files in os.walk(os.path.join(self.root, base), topdown=False, followlinks=True):
                for name in files + dirs:
                    if name.startswith("Quentar") and (name.endswith(".lnk") or name in dirs):
                        path = os.path.join(folder, name)
                        shutil.rmtree(path) if os.path.isdir(path) else os.remove(path)


def sha256(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    return h.hexdigest()


def installed_completely(prefix, destination, entries, digests):
    for entry, path in entries:
        target = prefix.linux(destination + "\\" + entry)
        if not os.path.isfile(target) or os.path.getsize(target) != os.path.getsize(path):
            return f"{entry} missing or of another size"
        if sha256(target) != digests[entry]:
            return f"{entry} differs from the original"
    return None


def measure(measure_exe, command):
    run = wine(measure_exe, *command)
    lines = [l for l in run.stdout.splitlines() if l.startswith("{")]
    if not lines:
        raise RuntimeError("run_measured printed nothing: " + run.stderr.strip()[-300:])
    return json.loads(lines[-1])


def our_command(setup, destination):
    return [wine_path(setup), "/quiet", "/dir:" + destination, "/log:" + destination + ".log",
            "/components:app,arecont"]


def nsis_command(installer, destination):
    return [wine_path(installer), "/S", "/D=" + destination]


def mib(n):
    return n / (1024 * 1024)


def compare(size, work, tree, args, measure_exe, prefix, ours_dir, nsis_dir):
    """Setup.exe against the NSIS installer of the same payload, alternating."""
    entries = make_payload(size, os.path.join(work, f"files-{size}"))
    digests = {e: sha256(p) for e, p in entries}
    files_bytes = sum(os.path.getsize(p) for _, p in entries)
    print(f"payload of {size} MB: {len(entries)} files, {files_bytes} bytes", file=sys.stderr)
    started = time.time()
    setup, problem = build_setup(entries, os.path.join(work, f"ours-{size}"), tree, args.tool)
    if not setup:
        sys.exit("installer_bench: make setup failed: " + " ".join(problem))
    print(f"make setup: {time.time() - started:.1f} s", file=sys.stderr)
    started = time.time()
    nsis = build_nsis(entries, os.path.join(work, f"nsis-{size}.exe"))
    print(f"makensis: {time.time() - started:.1f} s", file=sys.stderr)

    runs = {"ours": [], "nsis": []}
    prefix.clean([ours_dir, nsis_dir])
    # Round 0 warms the page cache and Wine's own DLLs for both; not counted.
    for rep in range(-1, args.reps):
        # Alternating, so that a change of load falls on both alike.
        for name in (("ours", "nsis") if rep % 2 == 0 else ("nsis", "ours")):
            destination = ours_dir if name == "ours" else nsis_dir
            command = our_command(setup, destination) if name == "ours" else nsis_command(nsis, destination)
            figures = measure(measure_exe, command)
            figures["incomplete"] = installed_completely(prefix, destination, entries, digests)
            if rep >= 0:
                runs[name].append(figures)
            print(f"  {name} #{rep + 1}: {json.dumps(figures)}", file=sys.stderr)
            prefix.clean([destination])
    summary = {"payload_mb": size, "files_bytes": files_bytes}
    for name, installer in (("ours", setup), ("nsis", nsis)):
        good = [r for r in runs[name] if r["exit"] == 0 and not r["incomplete"]]
        summary[name] = {
            "installer_bytes": os.path.getsize(installer),
            "runs": len(runs[name]), "complete_runs": len(good),
            "median_seconds": statistics.median(r["seconds"] for r in good) if good else None,
            "min_seconds": min(r["seconds"] for r in good) if good else None,
            "peak_working_set": max((r["peak_working_set"] for r in good), default=None),
            "peak_pagefile": max((r["peak_pagefile"] for r in good), default=None),
            "failures": [r for r in runs[name] if r not in good],
        }
    return summary


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--work", required=True)
    parser.add_argument("--measure", required=True, help="run_measured.exe")
    parser.add_argument("--tool", required=True, help="the native setup-payload")
    parser.add_argument("--reps", type=int, default=5)
    parser.add_argument("--sizes", default="20,100,200,400,800,1200,1600,2000", help="payload sizes in MB, the first compared")
    parser.add_argument("--report", help="also write the results as JSON here")
    parser.add_argument("--no-comparison", action="store_true",
                        help="only the growing payloads (no NSIS installer is built or run)")
    args = parser.parse_args()
    sizes = [int(s) for s in args.sizes.split(",")]
    work = os.path.abspath(args.work)
    os.makedirs(work, exist_ok=True)
    tree = os.path.join(work, "tree")
    measure_exe = wine_path(args.measure)
    prefix = Prefix()
    ours_dir, nsis_dir = r"C:\QBench\ours", r"C:\QBench\nsis"
    results = {"comparison": None, "sizes": []}

    if not args.no_comparison:
        results["comparison"] = compare(sizes[0], work, tree, args, measure_exe, prefix, ours_dir, nsis_dir)

    # --- Growing payloads, Setup.exe alone -----------------------------------------
    for size in sizes:
        folder = os.path.join(work, f"files-{size}")
        entries = make_payload(size, folder)
        files_bytes = sum(os.path.getsize(p) for _, p in entries)
        started = time.time()
        out_dir = os.path.join(work, f"ours-{size}")
        setup, problem = build_setup(entries, out_dir, tree, args.tool)
        built = time.time() - started
        row = {"payload_mb": size, "files_bytes": files_bytes, "build_seconds": built}
        if not setup:
            row["result"] = "make setup failed: " + " ".join(problem)
            results["sizes"].append(row)
            print(f"  {size} MB: {row['result']}", file=sys.stderr)
            break
        row["installer_bytes"] = os.path.getsize(setup)
        digests = {e: sha256(p) for e, p in entries}
        figures = measure(measure_exe, our_command(setup, ours_dir))
        incomplete = installed_completely(prefix, ours_dir, entries, digests)
        prefix.clean([ours_dir])
        row.update(figures)
        if figures["exit"] is None:
            row["result"] = f"not started: error {figures['start_error']}"
        elif figures["exit"] == 0 and not incomplete:
            row["result"] = "installed"
        else:
            row["result"] = f"exit {figures['exit']}" + (f", {incomplete}" if incomplete else "")
        results["sizes"].append(row)
        print(f"  {size} MB: {json.dumps(row)}", file=sys.stderr)
        if size != sizes[0]:
            shutil.rmtree(folder, ignore_errors=True)
            shutil.rmtree(out_dir, ignore_errors=True)
        if row["result"] != "installed":
            break

    if args.report:
        with open(args.report, "w") as f:
            json.dump(results, f, indent=2)
    print_report(results)


def print_report(results):
    c = results["comparison"]
    if c:
        print_comparison(c)
    print_sizes(results["sizes"])


def print_comparison(c):
    print(f"Unattended installation of a {c['files_bytes'] / MB:.1f} MB payload "
          f"({c['files_bytes']} bytes in 6 files), median of {c['ours']['runs']} runs each:\n")
    print("| Installer | size (MB) | median (s) | min (s) | complete runs | peak working set (MiB) | peak commit (MiB) |")
    print("|---|---:|---:|---:|---:|---:|---:|")
    for name, label in (("ours", "Setup.exe /quiet"), ("nsis", "NSIS, solid LZMA, /S")):
        s = c[name]
        fmt = lambda v, f: f.format(v) if v is not None else "-"
        print(f"| {label} | {s['installer_bytes'] / MB:.2f} | {fmt(s['median_seconds'], '{:.3f}')} | "
              f"{fmt(s['min_seconds'], '{:.3f}')} | {s['complete_runs']}/{s['runs']} | "
              f"{fmt(s['peak_working_set'] and mib(s['peak_working_set']), '{:.1f}')} | "
              f"{fmt(s['peak_pagefile'] and mib(s['peak_pagefile']), '{:.1f}')} |")
    if c["ours"]["median_seconds"] and c["nsis"]["median_seconds"]:
        print(f"\nSetup.exe's median time / NSIS's: {c['ours']['median_seconds'] / c['nsis']['median_seconds']:.2f} "
              "(target: at most 0.50)")


def print_sizes(sizes):
    print("\nGrowing payloads, Setup.exe /quiet alone (one run each):\n")
    print("| payload (MB) | Setup.exe (MB) | result | time (s) | peak working set (MiB) | peak commit (MiB) | "
          "peak commit / payload |")
    print("|---:|---:|---|---:|---:|---:|---:|")
    for r in sizes:
        if r.get("seconds") is None:
            print(f"| {r['files_bytes'] / MB:.0f} | - | {r['result']} | - | - | - | - |")
            continue
        print(f"| {r['files_bytes'] / MB:.0f} | {r['installer_bytes'] / MB:.1f} | {r['result']} | {r['seconds']:.2f} | "
              f"{mib(r['peak_working_set']):.1f} | {mib(r['peak_pagefile']):.1f} | "
              f"{r['peak_pagefile'] / r['files_bytes']:.2f} |")


if __name__ == "__main__":
    main()
