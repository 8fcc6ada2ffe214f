#!/usr/bin/env python3
"""Turns the raw figures bench/run.sh collected into the benchmark's table,
prints it and writes RESULTS.md with the machine's description and what the
figures say about each target.

    report.py --data DIR --product DIR --objdump PROGRAM --out RESULTS.md
"""
import argparse
import datetime
import glob
import os
import re
import statistics
import subprocess

EPOCH = datetime.datetime(1601, 1, 1)
TICKS_PER_MS = 10_000

# Targets, against baselines measured in the same run.
FIRST_TICK_MS = 100
INSTALL_ALLOWANCE_MS = {"demo": 110, "large": 125}   # over bare msiexec /i /qr, the rounds' own differences
PAD_QUIET_ALLOWANCE_MS = 220                # Setup.exe QUIET=YES over msiexec /i /qn: two starts and the first tick
LARGE_OVER_DEMO_MS = 10                     # the driver-sized package's overhead over the demo's
OWN_OVER_FLOOR_MS = 40                      # launcher's own time over the floor
COPY_OVER_XCOPY_MAX = 1.2
SIZE_MAX = {"QXVSetup64.exe": 400 * 1024, "Setup.exe": 100 * 1024}
MODULE_SIZE_MAX = 200 * 1024
HAND_WRITTEN_BEGIN = "<!-- written by hand: report.py keeps this part as it stands -->"
HAND_WRITTEN_END = "<!-- end of the part written by hand -->"


# ---- reading ----------------------------------------------------------------

def fields(line):
    return {k: v for k, v in re.findall(r"(\w+)=(\S+)", line)}


def lines(path):
    if not os.path.exists(path):
        return []
    with open(path, encoding="utf-8", errors="replace") as f:
        return [l.rstrip("\r\n") for l in f if l.strip()]


def ms(ticks):
    return ticks / TICKS_PER_MS


def log_records(path):
    """(FILETIME in ticks, first text line) of every record of a launcher log."""
    with open(path, "rb") as f:
        text = f.read().decode("latin-1")
    out = []
    for m in re.finditer(r"TIME: (\d+)-(\d+)-(\d+) (\d+):(\d+):(\d+):(\d+)\r?\n([^\r\n]*)", text):
        mo, d, y, h, mi, s, msec = (int(x) for x in m.groups()[:7])
        t = datetime.datetime(y, mo, d, h, mi, s, msec * 1000) - EPOCH
        ticks = (t.days * 86400 + t.seconds) * 10_000_000 + t.microseconds * 10
        out.append((ticks, m.group(8)))
    return out


def first(records, prefix, after=None):
    for t, text in records:
        if text.startswith(prefix) and (after is None or t >= after):
            return t
    return None


def med(values):
    values = [v for v in values if v is not None]
    return statistics.median(values) if values else None


def spread(values):
    values = [v for v in values if v is not None]
    return (min(values), max(values)) if values else (None, None)


def f0(v):
    return "n/a" if v is None else f"{v:.0f}"


def f1(v):
    return "n/a" if v is None else f"{v:.1f}"


def f2(v):
    return "n/a" if v is None else f"{v:.2f}"


def pct(v):
    return "n/a" if v is None else f"{v * 100:+.1f} %"


# ---- the figures --------------------------------------------------------------

def install_figures(data, pkg):
    runs = {}
    for l in lines(os.path.join(data, "install.txt")):
        d = fields(l)
        if d.get("pkg", "demo") != pkg or int(d["run"]) == 0 or "created" not in d:
            continue
        runs.setdefault(d["kind"], []).append(d)
    result = {}
    for kind, ds in runs.items():
        result[kind] = {
            "ms": [ms(int(d["exited"]) - int(d["created"])) for d in ds],
            "by_run": {int(d["run"]): ms(int(d["exited"]) - int(d["created"])) for d in ds},
            "ok": sum(1 for d in ds if d.get("exit") == "0" and d.get("installed") == "1"),
            "n": len(ds),
        }
    # Where the launcher's time goes during a real installation.
    phases = {"start": [], "installer": [], "after": [], "hide_to_end": []}
    series = []
    for d in runs.get("launcher", []):
        path = os.path.join(data, f"install-launcher-{pkg}-{d['run']}.log")
        if not os.path.exists(path):
            continue
        rec = log_records(path)
        created, exited = int(d["created"]), int(d["exited"])
        series.append(({"created": created, "exited": exited}, rec, None))
        call = first(rec, "In DoInstallActions")
        state = first(rec, "Product state")
        returned = first(rec, "MsiInstallProductW returned")
        hide = first(rec, "Hiding Hourglass")
        done = first(rec, "Exiting DoInstallActions")
        if call:
            phases["start"].append(ms(call - created))
        if state and returned:
            phases["installer"].append(ms(returned - state))
        if done:
            phases["after"].append(ms(exited - done))
        if hide and returned:
            phases["hide_to_end"].append(ms(returned - hide))
    return result, phases, series


def phase_table(text):
    """(label, from, to) rows from lines of "label | from | to"."""
    return [tuple(part.strip() for part in row.split("|")) for row in text.strip().splitlines()]


# Where a real installation's time goes, from the launcher's log (the
# module's records are in it too).
INSTALL_PHASES = phase_table("""
process start, DLL loading, runtime and log set-up | created | Inside QXVSetup.exe
checks, dialog, wait for the first tick | Inside QXVSetup.exe | Getting Product Info
package read (first tick) | Getting Product Info | Exiting GetProductInfo
worker start, cache copy, to the module | Exiting GetProductInfo | In DoInstallActions
module, up to the installer call | In DoInstallActions | Product state
the installer (MsiInstallProductW) | Product state | MsiInstallProductW returned
module end, worker end, dialog end, process end | MsiInstallProductW returned | exited
""")


def packageread_figures(data):
    out = {}
    for l in lines(os.path.join(data, "packageread.txt")):
        d = fields(l)
        if int(d["run"]) == 0 or "read_us" not in d or d.get("error") != "0":
            continue
        out.setdefault(d["pkg"], {"load": [], "read": []})
        out[d["pkg"]]["load"].append(int(d["load_us"]) / 1000)
        out[d["pkg"]]["read"].append(int(d["read_us"]) / 1000)
    return out


# (label, from, to): "created", "entered", "returned", "exited" or the start
# of a log record's text.
START_PHASES = phase_table("""
process start, DLL loading, runtime and log set-up | created | Inside QXVSetup.exe
pending-restart check and installation guard | Inside QXVSetup.exe | Showing Hourglass
setup dialog created (to WM_INITDIALOG) | Showing Hourglass | Starting Thread for hourglass AVI
waiting for the dialog's first 100 ms timer tick | Starting Thread for hourglass AVI | Getting Product Info
package read (MsiOpenPackageW, three properties) | Getting Product Info | Exiting GetProductInfo
lock record, worker thread start | Exiting GetProductInfo | In CacheInstallSource
cache copy of the launcher and modules, SourcePath record | In CacheInstallSource | Out CacheInstallSource
to the DoInstallActions call | Out CacheInstallSource | entered
""")
EXIT_PHASES = phase_table("""
cache emptied, worker ends | returned | Exiting MsiThreadproc
next timer tick, popup hidden, dialog ended | Exiting MsiThreadproc | Exiting QXVSetup.exe
dialog and worker torn down, process end | Exiting QXVSetup.exe | exited
""")


def latency_series(data, tag):
    timing = [fields(l) for l in lines(os.path.join(data, f"{tag}.txt"))]
    record = [fields(l.replace("|", " ")) for l in lines(os.path.join(data, f"{tag}.record.txt"))]
    logs = [log_records(p) for p in sorted(glob.glob(os.path.join(data, f"{tag}.logs", "*.log")))]
    out = []
    for i, (t, r) in enumerate(zip(timing, record)):
        if i == 0 or "created" not in t:
            continue  # the warm-up
        points = {"created": int(t["created"]), "exited": int(t["exited"]),
                  "entered": int(r["entered"]), "returned": int(r["returned"])}
        rec = next((l for l in logs if l and points["created"] <= l[0][0] + TICKS_PER_MS
                    and l[0][0] <= points["exited"]), [])
        out.append((points, rec, r.get("unlocked")))
    return out


def point(points, rec, name):
    if name in points:
        return points[name]
    return first(rec, name)


def phase_medians(series, phases):
    rows = []
    for label, a, b in phases:
        values = []
        for points, rec, _ in series:
            ta, tb = point(points, rec, a), point(points, rec, b)
            if ta is not None and tb is not None:
                values.append(ms(tb - ta))
        rows.append((label, med(values)))
    return rows


def latency_figures(data):
    result = {}
    for wm in ("managed", "nowm"):
        for unlock in ("1", "0"):
            s = latency_series(data, f"latency-{wm}-unlock{unlock}")
            result[(wm, unlock)] = {
                "series": s,
                "start": [ms(p["entered"] - p["created"]) for p, _, _ in s],
                "exit": [ms(p["exited"] - p["returned"]) for p, _, _ in s],
                "own": [ms(p["entered"] - p["created"] + p["exited"] - p["returned"]) for p, _, _ in s],
                "unlocked": sorted({u for _, _, u in s}),
            }
    return result


def empty_figures(data):
    result = {}
    for variant in ("empty", "empty_imports"):
        timing = [fields(l) for l in lines(os.path.join(data, f"{variant}.txt"))]
        entered = [fields(l) for l in lines(os.path.join(data, f"{variant}.entered.txt"))]
        start, end = [], []
        for i, (t, e) in enumerate(zip(timing, entered)):
            if i == 0 or "created" not in t:
                continue
            start.append(ms(int(e["entered"]) - int(t["created"])))
            end.append(ms(int(t["exited"]) - int(e["entered"])))
        result[variant] = {"start": start, "end": end}
    return result


def dialogend_figures(data):
    out = {}
    for l in lines(os.path.join(data, "dialogend.txt")):
        d = fields(l)
        out.setdefault(d["mode"], []).append(float(d["end_ms"]))
    return {k: med(v) for k, v in out.items()}


def log_figures(data):
    single = {}
    for l in lines(os.path.join(data, "log-single.txt")):
        d = fields(l)
        single.setdefault(int(d["run"]), []).append(d)
    fan = {}
    for l in lines(os.path.join(data, "log-fan.txt")):
        d = fields(l)
        fan.setdefault(int(d["run"]), []).append(d)
    in_file = {}
    for name in ("single", "fan"):
        for l in lines(os.path.join(data, f"log-{name}.file.txt")):
            d = fields(l)
            in_file[(name, int(d["run"]))] = int(d["in_file"])

    def summarise(groups, name):
        rates, per_process, dropped, written, files, errors = [], [], 0, 0, 0, 0
        for run, ds in sorted(groups.items()):
            if run == 0:
                continue
            good = [d for d in ds if "written" in d]
            errors += len(ds) - len(good)
            if not good:
                continue
            w = sum(int(d["written"]) for d in good)
            span = (max(int(d["last"]) for d in good) - min(int(d["first"]) for d in good)) / 1e7
            rates.append(w / span if span > 0 else None)
            per_process.append(statistics.mean(
                int(d["written"]) / ((int(d["last"]) - int(d["first"])) / 1e7) for d in good))
            dropped += sum(int(d["dropped"]) for d in good)
            written += w
            files += in_file.get((name, run), 0)
        return {"rate": rates, "per_process": per_process, "dropped": dropped, "written": written,
                "in_file": files, "runs": len(rates), "errors": errors}

    return summarise(single, "single"), summarise(fan, "fan")


def copy_figures(data):
    kinds = {}
    for l in lines(os.path.join(data, "copy.txt")):
        d = fields(l)
        if int(d["run"]) == 0 or not ("created" in d or "walk_us" in d):
            continue
        kinds.setdefault(d["kind"], []).append(d)
    out = {}
    for kind, ds in kinds.items():
        out[kind] = {
            "process": [ms(int(d["exited"]) - int(d["created"])) for d in ds if "created" in d],
            "inside": [int(d["copy_us"]) / 1000 for d in ds if "copy_us" in d],
            "walk": [int(d["walk_us"]) / 1000 for d in ds if "walk_us" in d],
            "lookup": [int(d["lookup_us"]) / 1000 for d in ds if "lookup_us" in d],
            "trees": sorted({(d.get("files"), d.get("bytes")) for d in ds}),
        }
    return out


def sizes(product, objdump):
    rows = []
    for name in sorted(os.listdir(product)):
        path = os.path.join(product, name)
        if not os.path.isfile(path):
            continue
        if name.lower().endswith((".exe", ".dll")):
            text = subprocess.run([objdump, "-p", path], capture_output=True, text=True).stdout
            dlls = re.findall(r"DLL Name: (\S+)", text)
            imports = ", ".join(dlls) if dlls else "none"
            if any(d.lower() == "msi.dll" for d in dlls):
                imports += msi_note(text)
            m = re.search(r"Entry 4 [0-9a-fA-F]+ ([0-9a-fA-F]+) Security Directory", text)
            signed = "yes" if m and int(m.group(1), 16) > 0 else "NO"
        else:
            imports, signed = "(installer package)", ""
        rows.append((name, os.path.getsize(path), imports, signed))
    return rows


def size_limit(name):
    if name in SIZE_MAX:
        return SIZE_MAX[name]
    return MODULE_SIZE_MAX if name.lower().endswith(".dll") else None


def hand_written(path):
    """The part of an earlier RESULTS.md that was written by hand."""
    if not os.path.exists(path):
        return None
    with open(path, encoding="utf-8") as f:
        text = f.read()
    if HAND_WRITTEN_BEGIN not in text or HAND_WRITTEN_END not in text:
        return None
    return text.split(HAND_WRITTEN_BEGIN, 1)[1].split(HAND_WRITTEN_END, 1)[0].strip("\n")


def msi_note(objdump_text):
    """How msi.dll is imported: by name, or by ordinal only."""
    block = objdump_text.split("DLL Name: msi.dll", 1)[1].split("\n\n", 1)[0]
    entries = [l.split() for l in block.splitlines()[2:] if l.strip()]
    by_ordinal = [e for e in entries if len(e) >= 3 and e[2] == "<none>"]
    if entries and len(by_ordinal) == len(entries):
        return " (msi.dll by ordinal only: " + ", ".join(str(int(e[1], 16)) for e in by_ordinal) + ")"
    return " (msi.dll by name)"


# ---- output -------------------------------------------------------------------

def table(header, rows):
    widths = [max(len(str(r[i])) for r in [header] + rows) for i in range(len(header))]
    def fmt(r):
        return "| " + " | ".join(str(c).ljust(w) for c, w in zip(r, widths)) + " |"
    return "\n".join([fmt(header), "|" + "|".join("-" * (w + 2) for w in widths) + "|"] + [fmt(r) for r in rows])


def verdict(ok):
    return "met" if ok else "MISSED"


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--data", required=True)
    ap.add_argument("--product", required=True)
    ap.add_argument("--objdump", required=True)
    ap.add_argument("--out", required=True)
    a = ap.parse_args()
    data = a.data

    machine = dict(l.split("=", 1) for l in lines(os.path.join(data, "machine.txt")))
    runs = machine.get("runs", "?")
    load_before = " ".join(lines(os.path.join(data, "load-before.txt")))
    load_after = " ".join(lines(os.path.join(data, "load-after.txt")))

    inst = {pkg: install_figures(data, pkg) for pkg in ("demo", "large")}
    lat = latency_figures(data)
    empty = empty_figures(data)
    reads = packageread_figures(data)
    dialog_end = dialogend_figures(data)
    log_single, log_fan = log_figures(data)
    copy = copy_figures(data)
    size_rows = sizes(a.product, a.objdump)
    tree = fields(" ".join(lines(os.path.join(data, "tree.txt"))))
    tree_mb = int(tree.get("bytes", "0")) / 1e6

    def lm(wm, unlock, what):
        return med(lat[(wm, unlock)][what])

    def ratio(x, y):
        return f"{x / y:.2f}" if x and y else "n/a"

    # The design's floor: an empty program importing what the launcher
    # imports (start to entry), the first tick, the package read, and half a
    # tick for the poll that notices the end.
    entry = med(empty["empty_imports"]["start"])
    read_demo = med(reads.get("install", {}).get("read", []))
    read_large = med(reads.get("large", {}).get("read", []))
    msi_load = med(reads.get("install", {}).get("load", []))
    floor = entry + FIRST_TICK_MS + read_demo + FIRST_TICK_MS / 2 if entry and read_demo else None
    # The same without the read, which the launcher makes while the first
    # tick is awaited.
    floor_noread = entry + FIRST_TICK_MS + FIRST_TICK_MS / 2 if entry else None

    def round_difference(fig, kind="launcher", baseline="msiexec"):
        """Median of each round's own difference between two kinds of run."""
        a = fig.get(kind, {}).get("by_run", {})
        b = fig.get(baseline, {}).get("by_run", {})
        return med([a[r] - b[r] for r in a if r in b])

    main_rows, target_rows = [], []
    overhead = {}
    # 1. installations
    for pkg, label in (("demo", "demo package"), ("large", "driver-sized package")):
        fig = inst[pkg][0]
        L, M = med(fig.get("launcher", {}).get("ms", [])), med(fig.get("msiexec", {}).get("ms", []))
        for kind, what in (("launcher", "through the launcher (CALLER=SETUP, real module)"),
                           ("msiexec", "msiexec /i /qr (baseline)"), ("msiexec_log", "msiexec /i /qr /l*v+!"),
                           ("pad_quiet", "Setup.exe QUIET=YES (the Pad, then the launcher)"),
                           ("msiexec_qn", "msiexec /i /qn (baseline of the quiet run)")):
            if kind not in fig:
                continue
            v = med(fig[kind]["ms"])
            main_rows.append(("1", f"{label}: {what}", f"{f0(v)} ms", ratio(v, M),
                              f"{fig[kind]['ok']}/{fig[kind]['n']} installed"))
        D = round_difference(fig)
        overhead[pkg] = D
        main_rows.append(("1", f"{label}: launcher minus msiexec, median of the rounds' own differences",
                          f"{f0(D)} ms", "", f"difference of medians {f0(L - M) if L and M else 'n/a'} ms"))
        ok = D is not None and D <= INSTALL_ALLOWANCE_MS[pkg]
        target_rows.append((f"{label}: launcher <= msiexec /qr + {INSTALL_ALLOWANCE_MS[pkg]} ms (rounds' differences)",
                            f"+{f0(D)} ms (difference of medians +{f0(L - M) if L and M else 'n/a'} ms; "
                            f"{f0(L)} against {f0(M) if M else 'n/a'} ms)", verdict(ok)))
        if "pad_quiet" in fig and "msiexec_qn" in fig:
            Q = round_difference(fig, "pad_quiet", "msiexec_qn")
            P, N = med(fig["pad_quiet"]["ms"]), med(fig["msiexec_qn"]["ms"])
            main_rows.append(("1", f"{label}: Setup.exe QUIET=YES minus msiexec /qn, median of the rounds' own "
                              "differences", f"{f0(Q)} ms", "", f"difference of medians {f0(P - N) if P and N else 'n/a'} ms"))
            target_rows.append((f"{label}: Setup.exe QUIET=YES <= msiexec /qn + {PAD_QUIET_ALLOWANCE_MS} ms "
                                "(rounds' differences)", f"+{f0(Q)} ms ({f0(P)} against {f0(N)} ms)",
                                verdict(Q is not None and Q <= PAD_QUIET_ALLOWANCE_MS)))
    both = overhead.get("demo") is not None and overhead.get("large") is not None
    target_rows.append((f"driver-sized package's overhead <= demo's + {LARGE_OVER_DEMO_MS} ms",
                        f"{f0(overhead.get('large'))} against {f0(overhead.get('demo'))} ms "
                        f"({f0(overhead['large'] - overhead['demo']) if both else 'n/a'} ms more)",
                        verdict(both and overhead["large"] - overhead["demo"] <= LARGE_OVER_DEMO_MS)))
    # 2. the launcher's own time against the floor
    main_rows.append(("2", "floor: empty program with the launcher's imports, start to entry", f"{f1(entry)} ms", "",
                      "(baseline part)"))
    main_rows.append(("2", "floor: package read (UI level, open, three properties), demo / driver-sized",
                      f"{f1(read_demo)} / {f1(read_large)} ms", "", "(baseline part)"))
    main_rows.append(("2", "floor: empty start + 100 ms first tick + 50 ms (the read made while the tick is awaited)",
                      f"{f0(floor_noread)} ms", "1.00", "(baseline)"))
    main_rows.append(("2", "  with the package read on the tick, as before", f"{f0(floor)} ms", "", "(information)"))
    main_rows.append(("2", "  loading msi.dll from the system folder (off the path, while the tick is awaited)",
                      f"{f1(msi_load)} ms", "", "(information)"))
    for unlock in ("1", "0"):
        own = lm("managed", unlock, "own")
        main_rows.append(("2", f"launcher's own time (start to call + return to exit), unlock={unlock}",
                          f"{f0(own)} ms", ratio(own, floor_noread),
                          f"{f0(lm('managed', unlock, 'start'))} + {f0(lm('managed', unlock, 'exit'))} ms"))
        target_rows.append((f"launcher's own time <= floor without the read + {OWN_OVER_FLOOR_MS} ms, unlock={unlock}",
                            f"{f0(own)} ms against {f0(floor_noread)} + {OWN_OVER_FLOOR_MS} ms "
                            f"({ratio(own, floor_noread)} x)",
                            verdict(own is not None and floor_noread is not None
                                    and own <= floor_noread + OWN_OVER_FLOOR_MS)))
        main_rows.append(("2", f"  same without a window manager, unlock={unlock}",
                          f"{f0(lm('nowm', unlock, 'own'))} ms", ratio(lm('nowm', unlock, 'own'), floor_noread),
                          f"(diagnosis) {f0(lm('nowm', unlock, 'start'))} + {f0(lm('nowm', unlock, 'exit'))} ms"))
    main_rows.append(("2", "empty program, bare: start to entry / entry to exit",
                      f"{f1(med(empty['empty']['start']))} / {f1(med(empty['empty']['end']))} ms", "", "(information)"))
    main_rows.append(("2", "bare dialog of the popup's style, end to return: EndDialog / hide then EndDialog",
                      f"{f0(dialog_end.get('end'))} / {f0(dialog_end.get('hide'))} ms", "", "(information)"))
    # 3. log
    r1, r4 = med(log_single["rate"]), med(log_fan["rate"])
    main_rows.append(("3", "log, one writer (baseline)", f"{f0(r1)} records/s", "1.00",
                      f"{log_single['dropped']} dropped of {log_single['written'] + log_single['dropped']}"))
    main_rows.append(("3", "log, four processes into one file (all together)", f"{f0(r4)} records/s", ratio(r4, r1),
                      f"{log_fan['dropped']} dropped of {log_fan['written'] + log_fan['dropped']}"))
    # 4. copy
    cache_in = med(copy.get("cache", {}).get("inside", []))
    cache_proc = med(copy.get("cache", {}).get("process", []))
    xcopy_proc = med(copy.get("xcopy", {}).get("process", []))
    xcopy_empty = med(copy.get("empty", {}).get("process", []))
    xcopy_net = (xcopy_proc - xcopy_empty) if xcopy_proc and xcopy_empty else None
    walk = med(copy.get("profile", {}).get("walk", []))
    main_rows.append(("4", f"xcopy /E /Y's copying ({tree.get('files', '?')} files, {tree_mb:.1f} MB): "
                           "xcopy minus xcopy of an empty folder", f"{f0(xcopy_net)} ms", "1.00", "(baseline)"))
    main_rows.append(("4", "CopyInstallSource, in process", f"{f0(cache_in)} ms", ratio(cache_in, xcopy_net), ""))
    main_rows.append(("4", "plain walk with CopyFileW, in process", f"{f0(walk)} ms", ratio(walk, xcopy_net),
                      "(information)"))
    main_rows.append(("4", "CopyInstallSource's driver process / xcopy process", f"{f0(cache_proc)} / {f0(xcopy_proc)} ms",
                      ratio(cache_proc, xcopy_proc), "(information)"))
    target_rows.append((f"cache copy <= {COPY_OVER_XCOPY_MAX} x xcopy's copying", f"{ratio(cache_in, xcopy_net)} x",
                        verdict(cache_in is not None and xcopy_net is not None
                                and cache_in <= COPY_OVER_XCOPY_MAX * xcopy_net)))
    # 5. sizes
    for name, size, _, signed in size_rows:
        limit = size_limit(name)
        if limit is None:
            continue
        target_rows.append((f"{name} <= {limit // 1024} KB, signed", f"{size / 1024:.0f} KB ({size / limit:.2f} x), "
                            f"signed: {signed}", verdict(size <= limit and signed == "yes")))

    main_table = table(("#", "figure (median)", "value", "ratio to baseline", "note"), main_rows)
    target_table = table(("target", "figure", "verdict"), target_rows)
    size_table = table(("file", "bytes", "imports", "signed"), [(n, f"{s:,}", i, g) for n, s, i, g in size_rows])
    print(main_table)
    print()
    print(target_table)

    # ---- details ----
    phase_rows = []
    for label, a_, b_ in INSTALL_PHASES:
        row = [label]
        for pkg in ("demo", "large"):
            row.append(f1(phase_medians(inst[pkg][2], [(label, a_, b_)])[0][1]))
        phase_rows.append(tuple(row))
    install_detail = table(("phase of an installation through the launcher (median ms)", "demo package",
                            "driver-sized package"), phase_rows)
    start_rows = {k: phase_medians(lat[k]["series"], START_PHASES) for k in lat}
    exit_rows = {k: phase_medians(lat[k]["series"], EXIT_PHASES) for k in lat}
    keys = [("managed", "1"), ("managed", "0"), ("nowm", "1"), ("nowm", "0")]
    heads = ["unlock=1", "unlock=0", "no WM, unlock=1", "no WM, unlock=0"]
    start_detail = table(["phase of the start (median ms)"] + heads,
                         [tuple([label] + [f1(start_rows[k][i][1]) for k in keys])
                          for i, (label, _, _) in enumerate(START_PHASES)])
    exit_detail = table(["phase after the return (median ms)"] + heads,
                        [tuple([label] + [f1(exit_rows[k][i][1]) for k in keys])
                         for i, (label, _, _) in enumerate(EXIT_PHASES)])
    run_rows = []
    for pkg in ("demo", "large"):
        for kind in ("launcher", "msiexec", "msiexec_log"):
            v = inst[pkg][0].get(kind, {}).get("ms", [])
            if v:
                lo, hi = spread(v)
                run_rows.append((pkg, kind, len(v), f0(med(v)), f"{f0(lo)}-{f0(hi)}"))
    for k, h in zip(keys, heads):
        v = lat[k]["own"]
        if v:
            lo, hi = spread(v)
            run_rows.append(("latency double", h, len(v), f0(med(v)), f"{f0(lo)}-{f0(hi)}"))
    runs_table = table(("package", "variant", "runs", "median ms", "min-max ms"), run_rows)

    try:
        total_seconds = sum(int(machine[k]) for k in ("seconds_build", "seconds_prefix", "seconds_measure"))
    except (KeyError, ValueError):
        total_seconds = "?"
    prose = hand_written(a.out) or "(not written yet)"
    md = []
    md.append("# Benchmark results\n")
    md.append("Written by `./bench/run.sh` from its last run; every figure is that run's, and every ratio is "
              "against a baseline measured in the same run. The part headed \"What the figures say\" is written by "
              "hand after a run and kept by the script.\n")
    md.append("## Machine\n")
    md.append(table(("", ""), [
        ("CPU", machine.get("cpu", "?")),
        ("cores", machine.get("cores", "?")),
        ("memory", f"{int(machine.get('memory_kb', '0')) / 1024 / 1024:.1f} GiB"),
        ("kernel", machine.get("kernel", "?")),
        ("Wine", machine.get("wine", "?")),
        ("compiler", machine.get("compiler", "?")),
        ("mingw-w64 runtime / binutils", f"{machine.get('mingw_runtime', '?')} / {machine.get('binutils', '?')}"),
        ("msitools (wixl)", machine.get("msitools", "?")),
        ("display", machine.get("display", "?")),
        ("load before / after", f"{load_before.split('load average:')[-1].strip()} / "
                                 f"{load_after.split('load average:')[-1].strip()}"),
        ("runs", f"{runs} (log {machine.get('log_runs', '?')}, copy {machine.get('copy_runs', '?')}, "
                 f"without a window manager {machine.get('nowm_runs', '?')}), each after one warm-up run"),
        ("time", f"{machine.get('seconds_measure', '?')} s measuring, {total_seconds} s in all"),
    ]))
    md.append("")
    md.append("## Targets\n")
    md.append(target_table)
    md.append("")
    md.append("## Figures\n")
    md.append(main_table)
    md.append("")
    md.append(HAND_WRITTEN_BEGIN)
    md.append(prose)
    md.append(HAND_WRITTEN_END)
    md.append("")
    md.append("## Details\n")
    md.append("### Where an installation through the launcher goes (launcher's log, module's records included)\n")
    md.append(install_detail)
    md.append("")
    md.append("### Where the start goes, install-actions double (launcher's log records)\n")
    md.append(start_detail)
    md.append("")
    md.append("### Where the end goes, install-actions double\n")
    md.append(exit_detail)
    md.append("")
    md.append("### Runs\n")
    md.append(runs_table)
    md.append("")
    md.append("## Sizes and imports of build/product\n")
    md.append(size_table)
    md.append("")
    with open(a.out, "w", encoding="utf-8") as f:
        f.write("\n".join(md))


if __name__ == "__main__":
    main()
