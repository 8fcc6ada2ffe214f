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

# Targets, as ratios and milliseconds.
INSTALL_OVERHEAD_MAX = 0.10
START_TO_CALL_MAX_MS = 150
RETURN_TO_EXIT_MAX_MS = 120


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

def install_figures(data):
    runs = {}
    for l in lines(os.path.join(data, "install.txt")):
        d = fields(l)
        if int(d["run"]) == 0 or "created" not in d:
            continue
        runs.setdefault(d["kind"], []).append(d)
    result = {}
    for kind, ds in runs.items():
        result[kind] = {
            "ms": [ms(int(d["exited"]) - int(d["created"])) for d in ds],
            "ok": sum(1 for d in ds if d.get("exit") == "0" and d.get("installed") == "1"),
            "n": len(ds),
        }
    # Where the launcher's time goes during a real installation.
    phases = {"start": [], "installer": [], "after": [], "hide_to_end": []}
    for d in runs.get("launcher", []):
        path = os.path.join(data, f"install-launcher-{d['run']}.log")
        if not os.path.exists(path):
            continue
        rec = log_records(path)
        created, exited = int(d["created"]), int(d["exited"])
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
    return result, phases


# (label, from, to): "created", "entered", "returned", "exited" or the start
# of a log record's text.
START_PHASES = [
    ("process start, DLL loading, runtime and log set-up", "created", "Inside QXVSetup.exe"),
    ("pending-restart check and installation guard", "Inside QXVSetup.exe", "Showing Hourglass"),
    ("setup dialog created (to WM_INITDIALOG)", "Showing Hourglass", "Starting Thread for hourglass AVI"),
    ("waiting for the dialog's first 100 ms timer tick", "Starting Thread for hourglass AVI", "Getting Product Info"),
    ("package read (MsiOpenPackageW, three properties)", "Getting Product Info", "Exiting GetProductInfo"),
    ("lock record, worker thread start", "Exiting GetProductInfo", "In CacheInstallSource"),
    ("cache copy of the launcher and modules, SourcePath record", "In CacheInstallSource", "Out CacheInstallSource"),
    ("to the DoInstallActions call", "Out CacheInstallSource", "entered"),
]
EXIT_PHASES = [
    ("cache emptied, worker ends", "returned", "Exiting MsiThreadproc"),
    ("next timer tick, popup hidden, dialog ended", "Exiting MsiThreadproc", "Exiting QXVSetup.exe"),
    ("dialog and worker torn down, process end", "Exiting QXVSetup.exe", "exited"),
]


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
    for wm in ("managed", "unmanaged"):
        for unlock in ("1", "0"):
            s = latency_series(data, f"latency-{wm}-unlock{unlock}")
            result[(wm, unlock)] = {
                "series": s,
                "start": [ms(p["entered"] - p["created"]) for p, _, _ in s],
                "exit": [ms(p["exited"] - p["returned"]) for p, _, _ in s],
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
        else:
            imports = "(installer package)"
        rows.append((name, os.path.getsize(path), imports))
    return rows


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

    inst, inst_phases = install_figures(data)
    lat = latency_figures(data)
    empty = empty_figures(data)
    dialog_end = dialogend_figures(data)
    log_single, log_fan = log_figures(data)
    copy = copy_figures(data)
    size_rows = sizes(a.product, a.objdump)

    # 1. installation
    L = med(inst.get("launcher", {}).get("ms", []))
    M = med(inst.get("msiexec", {}).get("ms", []))
    ML = med(inst.get("msiexec_log", {}).get("ms", []))
    overhead = (L / M - 1) if L and M else None
    overhead_log = (L / ML - 1) if L and ML else None
    t1 = overhead is not None and overhead <= INSTALL_OVERHEAD_MAX

    # 2. latency
    def lm(wm, unlock, what):
        return med(lat[(wm, unlock)][what])

    t2_start = all(lm("managed", u, "start") is not None and lm("managed", u, "start") <= START_TO_CALL_MAX_MS
                   for u in ("1", "0"))
    t2_exit = all(lm("managed", u, "exit") is not None and lm("managed", u, "exit") <= RETURN_TO_EXIT_MAX_MS
                  for u in ("1", "0"))
    t2_exit_unmanaged = all(lm("unmanaged", u, "exit") is not None
                            and lm("unmanaged", u, "exit") <= RETURN_TO_EXIT_MAX_MS for u in ("1", "0"))

    # 4. copy
    cache_in = med(copy.get("cache", {}).get("inside", []))
    cache_proc = med(copy.get("cache", {}).get("process", []))
    xcopy_proc = med(copy.get("xcopy", {}).get("process", []))
    xcopy_empty = med(copy.get("empty", {}).get("process", []))
    xcopy_net = (xcopy_proc - xcopy_empty) if xcopy_proc and xcopy_empty else None
    walk = med(copy.get("profile", {}).get("walk", []))
    lookup = med(copy.get("profile", {}).get("lookup", []))
    tree = fields(" ".join(lines(os.path.join(data, "tree.txt"))))
    tree_mb = int(tree.get("bytes", "0")) / 1e6

    # ---- the table ----
    main_rows = []
    main_rows.append(("1", "installation through the launcher (CALLER=SETUP, real module)", f"{f0(L)} ms",
                      f"{inst.get('launcher', {}).get('ok', 0)}/{inst.get('launcher', {}).get('n', 0)} installed", ""))
    main_rows.append(("1", "msiexec /i /qr (the module's INSTALLUILEVEL_REDUCED)", f"{f0(M)} ms",
                      f"{inst.get('msiexec', {}).get('ok', 0)}/{inst.get('msiexec', {}).get('n', 0)} installed", ""))
    main_rows.append(("1", "launcher against msiexec /qr", pct(overhead), "target <= +10 %", verdict(t1)))
    main_rows.append(("1", "msiexec /i /qr /l*v+! (also the module's installer log)", f"{f0(ML)} ms",
                      f"{inst.get('msiexec_log', {}).get('ok', 0)}/{inst.get('msiexec_log', {}).get('n', 0)} installed",
                      ""))
    main_rows.append(("1", "launcher against msiexec /qr /l*v+!", pct(overhead_log), "(information)", ""))
    for unlock in ("1", "0"):
        v = lm("managed", unlock, "start")
        main_rows.append(("2", f"process start to DoInstallActions, unlock={unlock}", f"{f0(v)} ms", "target <= 150 ms",
                          verdict(v is not None and v <= START_TO_CALL_MAX_MS)))
    for unlock in ("1", "0"):
        v = lm("managed", unlock, "exit")
        main_rows.append(("2", f"DoInstallActions return to process exit, unlock={unlock}", f"{f0(v)} ms",
                          "target <= 120 ms", verdict(v is not None and v <= RETURN_TO_EXIT_MAX_MS)))
    for unlock in ("1", "0"):
        main_rows.append(("2", f"  same, X11 driver Managed=N, unlock={unlock}: start / exit",
                          f"{f0(lm('unmanaged', unlock, 'start'))} / {f0(lm('unmanaged', unlock, 'exit'))} ms",
                          "(diagnosis)", ""))
    main_rows.append(("2", "bare dialog of the popup's style, end to return: EndDialog / hide then EndDialog",
                      f"{f0(dialog_end.get('end'))} / {f0(dialog_end.get('hide'))} ms", "(diagnosis)", ""))
    main_rows.append(("2", "empty program: process start to entry / entry to exit",
                      f"{f1(med(empty['empty']['start']))} / {f1(med(empty['empty']['end']))} ms", "(baseline)", ""))
    main_rows.append(("2", "empty program with the launcher's system DLLs: start to entry",
                      f"{f1(med(empty['empty_imports']['start']))} ms", "(baseline)", ""))
    main_rows.append(("3", "log, one writer", f"{f0(med(log_single['rate']))} records/s",
                      f"{log_single['dropped']} dropped of {log_single['written'] + log_single['dropped']}", ""))
    main_rows.append(("3", "log, four processes into one file (all together)", f"{f0(med(log_fan['rate']))} records/s",
                      f"{log_fan['dropped']} dropped of {log_fan['written'] + log_fan['dropped']}", ""))
    main_rows.append(("3", "  per process while four write", f"{f0(med(log_fan['per_process']))} records/s", "", ""))
    main_rows.append(("4", f"CopyInstallSource, in process ({tree.get('files', '?')} files, {tree_mb:.1f} MB)",
                      f"{f0(cache_in)} ms", f"{(tree_mb / (cache_in / 1000)) if cache_in else 0:.0f} MB/s", ""))
    main_rows.append(("4", "  its driver process, start to exit", f"{f0(cache_proc)} ms", "", ""))
    main_rows.append(("4", "xcopy /E /Y, start to exit", f"{f0(xcopy_proc)} ms", "", ""))
    main_rows.append(("4", "xcopy /E /Y of an empty folder (its start and end)", f"{f0(xcopy_empty)} ms", "", ""))
    main_rows.append(("4", "plain walk with CopyFileW, in process", f"{f0(walk)} ms", "(profile)", ""))
    main_rows.append(("4", "  path look-ups CopyInstallSource makes per file (400)", f"{f0(lookup)} ms", "(profile)",
                      ""))
    main_rows.append(("4", "CopyInstallSource against xcopy's copying (xcopy minus empty xcopy)",
                      f"{f2(cache_in / xcopy_net) if cache_in and xcopy_net else 'n/a'} x", "(lower is faster)", ""))
    main_rows.append(("4", "driver process against xcopy process",
                      f"{f2(cache_proc / xcopy_proc) if cache_proc and xcopy_proc else 'n/a'} x", "(lower is faster)",
                      ""))
    main_table = table(("#", "figure (median)", "value", "note", "target"), main_rows)
    size_table = table(("file", "bytes", "imports"), [(n, f"{s:,}", i) for n, s, i in size_rows])
    print(main_table)
    print()
    print(size_table)

    # ---- details ----
    def phase_table(wm, unlock, phases):
        rows = phase_medians(lat[(wm, unlock)]["series"], phases)
        return rows

    start_rows = {(wm, u): phase_table(wm, u, START_PHASES) for wm in ("managed", "unmanaged") for u in ("1", "0")}
    exit_rows = {(wm, u): phase_table(wm, u, EXIT_PHASES) for wm in ("managed", "unmanaged") for u in ("1", "0")}
    start_detail = table(
        ("phase of the start (median ms)", "unlock=1", "unlock=0", "Managed=N, unlock=1", "Managed=N, unlock=0"),
        [(label, f1(start_rows[("managed", "1")][i][1]), f1(start_rows[("managed", "0")][i][1]),
          f1(start_rows[("unmanaged", "1")][i][1]), f1(start_rows[("unmanaged", "0")][i][1]))
         for i, (label, _, _) in enumerate(START_PHASES)])
    exit_detail = table(
        ("phase after the return (median ms)", "unlock=1", "unlock=0", "Managed=N, unlock=1", "Managed=N, unlock=0"),
        [(label, f1(exit_rows[("managed", "1")][i][1]), f1(exit_rows[("managed", "0")][i][1]),
          f1(exit_rows[("unmanaged", "1")][i][1]), f1(exit_rows[("unmanaged", "0")][i][1]))
         for i, (label, _, _) in enumerate(EXIT_PHASES)])
    spread_rows = []
    for wm in ("managed", "unmanaged"):
        for u in ("1", "0"):
            s = lat[(wm, u)]
            lo, hi = spread(s["start"])
            lo2, hi2 = spread(s["exit"])
            spread_rows.append((("default" if wm == "managed" else "Managed=N") + f", unlock={u}",
                                len(s["start"]), f"{f0(med(s['start']))} ({f0(lo)}-{f0(hi)})",
                                f"{f0(med(s['exit']))} ({f0(lo2)}-{f0(hi2)})", ",".join(s["unlocked"])))
    spread_table = table(("variant", "runs", "start to call, ms (min-max)", "return to exit, ms (min-max)",
                          "module released the lock"), spread_rows)
    inst_rows = []
    for kind, label in (("launcher", "launcher"), ("msiexec", "msiexec /qr"), ("msiexec_log", "msiexec /qr /l*v+!")):
        v = inst.get(kind, {}).get("ms", [])
        lo, hi = spread(v)
        inst_rows.append((label, len(v), f0(med(v)), f"{f0(lo)}-{f0(hi)}"))
    inst_table = table(("variant", "runs", "median ms", "min-max ms"), inst_rows)

    trace_lines = [l for l in lines(os.path.join(data, "latency-trace.txt"))
                   if "wait_for_withdrawn_state" in l or "EndDialog" in l]
    withdrawn_timeouts = sum(1 for l in trace_lines if "wait_for_withdrawn_state" in l)

    # What the exit phases say.
    hide_default = [exit_rows[("managed", u)][1][1] for u in ("1", "0")]
    hide_unmanaged = [exit_rows[("unmanaged", u)][1][1] for u in ("1", "0")]
    hide_cost = med([a - b for a, b in zip(hide_default, hide_unmanaged) if a is not None and b is not None])

    # From the first tick to the module's return, with the double: how far
    # into a tick period the worker ends.
    worker_span = med([ms(p["returned"] - first(rec, "Getting Product Info"))
                       for p, rec, _ in lat[("unmanaged", "1")]["series"] + lat[("unmanaged", "0")]["series"]
                       if first(rec, "Getting Product Info")])
    start_managed = start_rows[("managed", "1")]
    tick = start_managed[3][1]
    proc_start = start_managed[0][1]
    dialog = start_managed[2][1]
    package = start_managed[4][1]
    cache = start_managed[6][1]
    start_total = lm("managed", "1", "start")

    findings = []
    # Installation.
    inst_hide = med(inst_phases["hide_to_end"])
    if t1:
        findings.append(
            f"**Installation, {verdict(t1)}** ({pct(overhead)} against `msiexec /i /qr`). The launcher's own share "
            f"is its start up to the call of the module (median {f0(med(inst_phases['start']))} ms in these runs, of "
            f"which msiexec pays the process start too) "
            f"and its end after the module returns ({f0(med(inst_phases['after']))} ms); the module's verbose, "
            f"line-flushed installer log costs little (`msiexec /qr /l*v+!` is {pct((ML / M - 1) if ML and M else None)} "
            f"on bare msiexec). Note that the launcher hides its popup the moment the module releases the lock, "
            f"and under Xvfb that hide waits about 2 s (see 2.): it runs on the dialog's thread while the worker "
            f"installs, so here it is hidden behind the installation (from the hide to the installer's return: "
            f"{f0(inst_hide)} ms). A package that installs in less than about 2 s would have the rest of that wait "
            f"added to its time.")
    else:
        findings.append(
            f"**Installation, {verdict(t1)}** ({pct(overhead)} against `msiexec /i /qr`). The launcher's start up "
            f"to the module's call takes {f0(med(inst_phases['start']))} ms and its end after the module returns "
            f"{f0(med(inst_phases['after']))} ms; from the popup's hide to the installer's return "
            f"{f0(inst_hide)} ms pass. When the installation is shorter than the ~2 s the hide waits under Xvfb "
            f"(see 2.), the exit waits for the hide. Against msiexec with the module's own installer log "
            f"(`/l*v+!`) the launcher is {pct(overhead_log)}.")
    # Start.
    findings.append(
        f"**Process start to DoInstallActions, {verdict(t2_start)}** (median {f0(start_total)} ms with unlock=1, "
        f"{f0(lm('managed', '0', 'start'))} ms with unlock=0). The launcher's log splits it (table below): "
        f"{f0(tick)} ms of it is waiting for the setup dialog's first timer tick - `CSetupDlg::OnInitDialog` "
        f"(ui/SetupDlg.cpp) starts a {100} ms timer (`kSetupTimerMs`, ui/SetupDlg.h) and only "
        f"`CSetupDlg::OnTimer` -> `FirstTick` reads the package and starts the worker, so every start waits one "
        f"whole tick doing nothing. From the process's creation to its first log record takes {f0(proc_start)} ms, "
        f"about what a program importing the same system DLLs takes to reach its entry point "
        f"({f1(med(empty['empty_imports']['start']))} ms; an empty program {f1(med(empty['empty']['start']))} ms): "
        f"that part is Wine's process start and DLL loading, not the launcher's code. Creating the "
        f"dialog {f0(dialog)} ms, reading the package {f0(package)} ms, the cache copy {f0(cache)} ms. Without the "
        f"idle tick the start would be about {f0(start_total - tick if start_total and tick else None)} ms.")
    # Exit.
    findings.append(
        f"**DoInstallActions return to process exit, {verdict(t2_exit)}** (median "
        f"{f0(lm('managed', '1', 'exit'))} ms with unlock=1, {f0(lm('managed', '0', 'exit'))} ms with unlock=0). "
        f"Nearly all of it ({f0(hide_default[0])} / {f0(hide_default[1])} ms) lies between the worker's last "
        f"record and DoModal's return: `CSetupDlg::PollWorker` (and `EndAfterWorker`) in ui/SetupDlg.cpp call "
        f"`ShowWindow(m_hWnd, SW_HIDE)` on the popup before `EndDialog`, and Wine's X11 driver, for a window it "
        f"has handed to a window manager, waits for the manager to withdraw it - under Xvfb there is none, so it "
        f"waits its full 2 s timeout. The traced run shows it ({withdrawn_timeouts} "
        f"`wait_for_withdrawn_state ... wait timed out` line(s), followed by EndDialog). The wait belongs to "
        f"taking such a window down at all, not to the extra call: a bare dialog of the popup's style (activated "
        f"as it appears, so Wine's X11 driver hands it to the window manager too) takes {f0(dialog_end.get('end'))} ms from "
        f"EndDialog alone to DialogBox's return, and {f0(dialog_end.get('hide'))} ms with ShowWindow(SW_HIDE) "
        f"first, so leaving out the launcher's hide would only move the wait into EndDialog. With the X11 driver's "
        f"`Managed=N` (no hand-over, HKCU\\Software\\Wine\\X11 Driver) the same phase takes "
        f"{f0(hide_unmanaged[0])} / {f0(hide_unmanaged[1])} ms, and return to exit is "
        f"{f0(lm('unmanaged', '1', 'exit'))} / {f0(lm('unmanaged', '0', 'exit'))} ms "
        f"({verdict(t2_exit_unmanaged)} against 120 ms). What remains is almost all the wait for the next "
        f"100 ms tick: the end of the worker is only noticed by `PollWorker` on WM_TIMER, and as the worker is "
        f"started by the first tick and, with a module that returns at once, is done "
        f"{f0(worker_span)} ms later, the tick that notices it comes about {f0(100 - worker_span if worker_span else None)} ms "
        f"after the return, nearly the whole budget (a module that runs longer returns at any point of a tick "
        f"period: up to 100 ms, 50 ms on average). "
        f"The emptying of the cache (`DeleteInstallSourceCache`, SHFileOperationW, "
        f"{f1(exit_rows[('unmanaged', '1')][0][1])} ms) and the teardown and process end "
        f"({f1(exit_rows[('unmanaged', '1')][2][1])} ms) are small. The cost of the hide itself is the difference, "
        f"{f0(hide_cost)} ms; Wine waits for it only where it expects a window manager to answer, so a desktop "
        f"with one does not pay it.")
    # Log.
    r1, r4 = med(log_single["rate"]), med(log_fan["rate"])
    if r1 and r4 and r4 > 1.2 * r1:
        sharing = (f"Four writers together get {r4 / r1:.1f} x one writer's rate. A record is a chain of calls "
                   f"into the wineserver (create the mutex, wait, open, append, close, release, close the handle), "
                   f"and a lone writer leaves the second core idle between them; with four, the parts of a record "
                   f"outside the mutex (formatting, creating and closing the mutex handle, the wake-up) overlap "
                   f"with another process's write.")
    elif r1 and r4:
        sharing = (f"Four writers together get {r4 / r1:.1f} x one writer's rate: every record holds the global "
                   f"mutex while it opens, appends and closes the file, so the writers take turns.")
    else:
        sharing = ""
    findings.append(
        f"**Log.** One writer: {f0(r1)} records/s; four processes together: {f0(r4)} records/s in all "
        f"({f0(med(log_fan['per_process']))} each). {sharing} The bounded wait dropped "
        f"{log_single['dropped'] + log_fan['dropped']} records; the files hold {log_single['in_file']} + "
        f"{log_fan['in_file']} records for {log_single['written']} + {log_fan['written']} reported written.")
    # Copy.
    if cache_in and xcopy_net:
        ratio = cache_in / xcopy_net
        where = ""
        if walk and lookup:
            where = (f" A plain walk of the same tree with CopyFileW (the call xcopy makes too) takes {f0(walk)} ms; "
                     f"the path look-ups CopyInstallSource adds take {f0(lookup)} ms on their own: "
                     f"`CopyOneFile` in cache/CacheCopy.cpp calls `Canonical` on the source and on the destination "
                     f"of every file (GetFullPathNameW, then GetLongPathNameW, which under Wine looks up every "
                     f"component of the path on disk, then CharLowerBuffW) only to skip a copy onto itself - a case "
                     f"that the comparison of the two top folders in `CopyInstallSource` already rules out, since both "
                     f"paths of a file are built from the same relative names (only a link inside the tree could "
                     f"still make them meet). That is "
                     f"{lookup / cache_in * 100:.0f} % of the launcher's copy time.")
        expected = (tree.get("files"), tree.get("bytes"))
        checked = all(copy.get(k, {}).get("trees") == [expected] for k in ("cache", "xcopy", "profile"))
        check = (f"each destination was checked to hold all {tree.get('files', '?')} files and all bytes" if checked
                 else "NOT every destination held the whole tree: " + "; ".join(
                     f"{k}: {copy.get(k, {}).get('trees')}" for k in ("cache", "xcopy", "profile")))
        findings.append(
            f"**Cache copy.** In process, CopyInstallSource copies the {tree.get('files', '?')} files "
            f"({tree_mb:.1f} MB) in {f0(cache_in)} ms; `xcopy /E /Y` takes {f0(xcopy_proc)} ms from its start to its "
            f"end, of which {f0(xcopy_empty)} ms are its start and end alone (the same xcopy of an empty folder), "
            f"leaving {f0(xcopy_net)} ms of copying: the launcher's copy takes {f2(ratio)} x that time. As whole "
            f"processes (the driver loads the launcher's library with all its DLLs) it is {f0(cache_proc)} ms against "
            f"{f0(xcopy_proc)} ms.{where} Every run reads the same tree from the page cache and writes it to a new "
            f"folder (deleted and synced before each run); {check}.")
    # Sizes.
    findings.append(
        "**Sizes.** Every binary links its C and C++ runtimes statically and imports only system DLLs and the "
        "product's own modules; the launcher reaches msi.dll by ordinal only.")

    try:
        total_seconds = sum(int(machine[k]) for k in ("seconds_build", "seconds_prefix", "seconds_measure"))
    except (KeyError, ValueError):
        total_seconds = "?"
    md = []
    md.append("# Benchmark results\n")
    md.append("Written by `./bench/run.sh` from its last full run; every figure is that run's. Compare ratios, "
              "not absolute times: the machine is shared and Wine's timings move with its load.\n")
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
    ]))
    md.append("")
    md.append("## How it was measured\n")
    md.append(
        f"One run of `./bench/run.sh` on one Wine prefix created for it (`<build>/bench-prefix`), with a "
        f"persistent wineserver. Each figure is the median of {runs} timed runs (the log figures "
        f"{machine.get('log_runs', '?')}, the copy figures {machine.get('copy_runs', '?')}), after one warm-up "
        f"run of each program that is not counted. Variants that are compared run interleaved, their order turning "
        f"from round to round. The targets are judged as the tests and the demo run: Xvfb without a window manager, Wine's default window handling; the `Managed=N` series only serves to find where the time goes. The benchmark took {machine.get('seconds_measure', '?')} s of measuring, "
        f"{machine.get('seconds_prefix', '?')} s to create the prefix and {machine.get('seconds_build', '?')} s to build "
        f"(an up-to-date build folder), {total_seconds} s in all.\n")
    md.append(
        "1. The product folder is copied to `C:\\bench\\install\\`. `bench_launch.exe` starts "
        "`QXVSetup64.exe CALLER=SETUP` with CreateProcessW, waits, and takes the process's creation and exit "
        "times (GetProcessTimes); the real QXVInstallActions64.dll installs QXPRP4005.msi. The module sets "
        "`MsiSetInternalUI(INSTALLUILEVEL_REDUCED)`, which is msiexec's `/qr`, so the comparison is "
        "`msiexec /i C:\\bench\\install\\QXPRP4005.msi /qr` started and timed the same way; a third variant adds "
        "`/l*v+!`, the verbose, appended, line-flushed installer log the module enables. Before every run the "
        "product is uninstalled (`msiexec /x {7E21C5B9-3D40-4F8A-9C62-1B5E8D0A4F73} /qn`, not timed); every run "
        "is checked to end with 0 and the product installed.\n"
        "2. The same folder with the install-actions double (`tests/doubles/actions`), scripted `unlock=1` or "
        "`unlock=0`: process creation to the double's `entered=` time, and its `returned=` time to the process's "
        "exit. The launcher's own log records (millisecond times) split both spans into phases. The series is "
        "repeated with Wine's X11 driver set to `Managed=N`, to tell Wine's window-manager hand-over from the "
        "launcher's own work, and one run is traced (`WINEDEBUG=+timestamp,+tid,fixme+event,+dialog`). An empty "
        "program (`bench_empty.exe`, and the same importing the launcher's system DLLs) gives Wine's own process "
        "start and end.\n"
        f"3. `bench_logwriter.exe` links qxlog and writes records through `CLogger::Write`: "
        f"{machine.get('single_records', '?')} records from one process, and {machine.get('fan_records', '?')} "
        f"records from each of four processes released at the same moment into one file. Records/s is written "
        f"records over the span from the first write's start to the last one's end; a record counts as dropped "
        f"when Write returned false. The file's records are counted afterwards.\n"
        "4. A tree of 200 files of 256 KiB (80 at the top, four `*.dll` folders of 25 files and a `x64.dll` "
        "folder of 5; every name `*.dll`, so both copies take the same set), 52.4 MB. `bench_cachecopy.exe` links "
        "qxsetup_core (with its own `CSetupApp theApp;`) and times `CopyInstallSource(src, dst)` inside the "
        "process with QueryPerformanceCounter; it is also timed as a process by `bench_launch.exe`, like "
        "`xcopy /E /Y src dst\\` and the same xcopy of an empty folder.\n"
        "5. File sizes of `build/product` and the DLLs each binary imports (`x86_64-w64-mingw32-objdump -p`).\n")
    md.append("## Results\n")
    md.append(main_table)
    md.append("")
    md.append("## Targets\n")
    md.append(table(("target", "figure", "verdict"), [
        ("launcher costs at most 10 % more than msiexec", pct(overhead), verdict(t1)),
        ("process start to DoInstallActions <= 150 ms (unlock=1 / unlock=0)",
         f"{f0(lm('managed', '1', 'start'))} / {f0(lm('managed', '0', 'start'))} ms", verdict(t2_start)),
        ("DoInstallActions return to exit <= 120 ms (unlock=1 / unlock=0)",
         f"{f0(lm('managed', '1', 'exit'))} / {f0(lm('managed', '0', 'exit'))} ms", verdict(t2_exit)),
    ]))
    md.append("")
    md.append("## What the figures say\n")
    for f in findings:
        md.append(f"- {f}")
    md.append("")
    md.append("### Installation runs\n")
    md.append(inst_table)
    md.append("")
    md.append("### Latency, run by run spread\n")
    md.append(spread_table)
    md.append("")
    md.append("### Where the start goes (launcher's log records)\n")
    md.append(start_detail)
    md.append("")
    md.append("### Where the end goes\n")
    md.append(exit_detail)
    md.append("")
    if trace_lines:
        md.append("### Traced run (unlock=0), the end\n")
        md.append("```")
        md.extend(trace_lines[-6:])
        md.append("```")
        md.append("")
    md.append("## Sizes and imports of build/product\n")
    md.append(size_table)
    md.append("")
    with open(a.out, "w", encoding="utf-8") as f:
        f.write("\n".join(md))


if __name__ == "__main__":
    main()
