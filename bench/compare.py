#!/usr/bin/env python3
"""Velt against its peer, 7-Zip's PPMd at the same order and memory, plus xz -9,
bzip2 -9 and zstd -19, on the same files in the same run. Times are user CPU of
the child process (the machine may be shared: read the ratios). Every
decompression is checked with cmp. See bench/README.md.

  bench/compare.py [--velt BIN] [--runs N] [--orders 4,5,6,8] [--quick]
                   [--no-others] [--velt-switches=-da] [FILE...]
  bench/compare.py --instructions [--cache] [--orders 5] [--velt-switches=-da] [FILE...]
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
SHARED = os.path.normpath(os.path.join(HERE, "..", "..", "shared"))
CORPUS = os.path.join(SHARED, "corpus")


def english_4mb(work):
    """4 MiB of English: the corpus's four long texts in turn, repeated."""
    path = os.path.join(work, "english4mb.txt")
    parts = [open(os.path.join(CORPUS, "text", n), "rb").read()
             for n in ("alice29.txt", "asyoulik.txt", "lcet10.txt", "plrabn12.txt")]
    out = bytearray()
    i = 0
    while len(out) < 4 << 20:
        out += parts[i % len(parts)]
        i += 1
    with open(path, "wb") as f:
        f.write(out[:4 << 20])
    return path


def default_files(work, velt):
    exe = "/usr/bin/cmake" if os.path.exists("/usr/bin/cmake") else velt
    return [english_4mb(work), os.path.join(CORPUS, "text", "lcet10.txt"),
            os.path.join(CORPUS, "binary", "kennedy.xls"), exe,
            os.path.join(CORPUS, "ru", "rachinskii.866")]


def run(cmd, stdout=None):
    """Runs cmd; returns (user seconds, peak RSS in KiB) of the child. User time
    comes from wait4 (microseconds); the peak from GNU time, since a child forked
    from this interpreter would inherit its resident high-water mark."""
    rss_file = os.path.join(tempfile.gettempdir(), f"velt-bench-rss-{os.getpid()}")
    with open(os.devnull, "wb") as devnull:
        p = subprocess.Popen(["/usr/bin/time", "-f", "%M", "-o", rss_file, *cmd],
                             stdout=stdout or devnull, stderr=devnull)
        _, status, ru = os.wait4(p.pid, 0)
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit("failed: " + " ".join(cmd))
    with open(rss_file) as f:
        rss = int(f.read().split()[-1])
    os.remove(rss_file)
    return ru.ru_utime, rss


def memory_for(order):
    return 50 if order >= 8 else 20


def tools(args, order):
    """name -> (compress argv(in, out), decompress argv(in, out) or stdout-writing, suffix)."""
    mem = memory_for(order)
    sw = args.velt_switches.split()
    t = {
        "velt": (lambda i, o: [args.velt, "e", "-si", f"-o{order}", f"-m:{mem}", *sw, i, o],
                 lambda i, o: [args.velt, "d", "-si", i, o], False),
        "ppmd": (lambda i, o: ["7zz", "a", "-bd", "-bso0", "-t7z", "-mmt1",
                               f"-m0=PPMd:o={order}:mem={mem}m", o, i],
                 lambda i, o: ["7zz", "e", "-bd", "-bso0", "-so", i], True),
    }
    if not args.no_others:
        t["xz -9"] = (lambda i, o: ["sh", "-c", f"xz -9 -T1 -c '{i}' > '{o}'"],
                      lambda i, o: ["xz", "-d", "-c", i], True)
        t["bzip2 -9"] = (lambda i, o: ["sh", "-c", f"bzip2 -9 -c '{i}' > '{o}'"],
                         lambda i, o: ["bzip2", "-d", "-c", i], True)
        t["zstd -19"] = (lambda i, o: ["zstd", "-q", "-19", "-T1", "-f", i, "-o", o],
                         lambda i, o: ["zstd", "-q", "-d", "-c", i], True)
    return t


def measure(tool_map, src, work, runs):
    """Compresses and decompresses src with every tool, round by round: each
    round runs every tool once, so a change in the machine's load between
    rounds reaches all tools alike. Returns tool -> (size, c times, d times,
    peak KiB); the times are in round order."""
    names = list(tool_map)
    out = {t: os.path.join(work, f"packed-{i}.pk") for i, t in enumerate(names)}
    back = {t: os.path.join(work, f"restored-{i}") for i, t in enumerate(names)}
    ct = {t: [] for t in names}
    dt = {t: [] for t in names}
    rss = {t: 0 for t in names}
    for _ in range(runs):
        for t in names:
            cmd_c = tool_map[t][0]
            if os.path.exists(out[t]):
                os.remove(out[t])
            u, m = run(cmd_c(src, out[t]))
            ct[t].append(u)
            rss[t] = max(rss[t], m)
    for _ in range(runs):
        for t in names:
            cmd_d, to_stdout = tool_map[t][1], tool_map[t][2]
            if os.path.exists(back[t]):
                os.remove(back[t])
            if to_stdout:
                with open(back[t], "wb") as f:
                    u, m = run(cmd_d(out[t], back[t]), stdout=f)
            else:
                u, m = run(cmd_d(out[t], back[t]))
            dt[t].append(u)
            rss[t] = max(rss[t], m)
    res = {}
    for t in names:
        if subprocess.call(["cmp", "-s", src, back[t]]) != 0:
            sys.exit(f"DECOMPRESSION DIFFERS: {' '.join(tool_map[t][0](src, out[t]))}")
        res[t] = (os.path.getsize(out[t]), ct[t], dt[t], rss[t])
    return res


def ratios(mine, peer):
    """Best time over best time, and the median of the rounds' own ratios."""
    best = min(mine) / max(min(peer), 1e-6)
    paired = statistics.median(a / max(b, 1e-6) for a, b in zip(mine, peer))
    return f"{best:.2f}/{paired:.2f}"


def speed_table(args, files, work):
    print(f"user CPU, {args.runs} rounds, each running every tool once; MB/s = 1e6 bytes/s of input; "
          f"ratio = Velt time / PPMd time, best/best and median of the rounds; "
          f"all decompressions checked with cmp")
    hdr = (f"{'file':<16} {'o':>2} {'tool':<9} {'size':>9} {'bpb':>6} "
           f"{'c MB/s best/med':>15} {'d MB/s best/med':>15} {'peak MB':>8} {'c ratio':>10} {'d ratio':>10}")
    print(hdr)
    print("-" * len(hdr))
    for src in files:
        n = os.path.getsize(src)
        name = os.path.basename(src)[:16]
        for order in args.orders:
            # the others do not take an order: once per file
            tool_map = {t: v for t, v in tools(args, order).items()
                        if t in ("velt", "ppmd") or order == args.orders[0]}
            res = measure(tool_map, src, work, args.runs)
            for tool, (size, ct, dt, rss) in res.items():
                def mbs(ts):
                    return f"{n / 1e6 / max(min(ts), 1e-6):6.2f}/{n / 1e6 / max(statistics.median(ts), 1e-6):<6.2f}"
                ratio_c = ratio_d = ""
                if tool == "velt" and "ppmd" in res:
                    ratio_c = ratios(ct, res["ppmd"][1])
                    ratio_d = ratios(dt, res["ppmd"][2])
                print(f"{name:<16} {order if tool in ('velt', 'ppmd') else '':>2} {tool:<9} {size:>9} "
                      f"{size * 8 / n:6.3f} {mbs(ct):>15} {mbs(dt):>15} {rss / 1024:8.1f} {ratio_c:>10} {ratio_d:>10}")
                sys.stdout.flush()


# Zen 3's private caches; the shared L3 is left out: on a shared machine what
# part of it a run gets depends on its neighbours.
CACHE_SIM = ["--cache-sim=yes", "--I1=32768,8,64", "--D1=32768,8,64", "--LL=524288,8,64"]


def cachegrind_counts(log):
    """Instructions, L1 data misses and last-level (here L2) data misses of a run."""
    got = {}
    for line in open(log):
        for key, name in (("I   refs:", "ir"), ("D1  misses:", "d1"), ("LLd misses:", "l2")):
            if key in line:
                got[name] = int(line.split(key)[1].replace(",", "").split()[0])
    return got


def instructions(args, files, work):
    """Exact instruction counts (valgrind cachegrind), and with --cache simulated
    cache misses: both steady on a shared machine."""
    if args.cache:
        print("per input byte: instructions / L1d misses / L2 misses, 32 KiB L1d and 512 KiB L2 "
              "simulated (valgrind --tool=cachegrind --cache-sim=yes); prefetches are not modelled")
    else:
        print("instructions per input byte (valgrind --tool=cachegrind --cache-sim=no)")
    width = 19 if args.cache else 8
    print(f"{'file':<16} {'o':>2} " + " ".join(f"{h:>{width}}" for h in ("velt c", "velt d", "ppmd c", "ppmd d")))
    for src in files:
        n = os.path.getsize(src)
        for order in args.orders:
            row = []
            for tool in ("velt", "ppmd"):
                c, d, so = tools(args, order)[tool]
                out = os.path.join(work, "packed.pk")
                back = os.path.join(work, "restored")
                for p in (out, back):
                    if os.path.exists(p):
                        os.remove(p)
                for cmd, stdout in ((c(src, out), None), (d(out, back), so)):
                    log = os.path.join(work, "cg.log")
                    sim = CACHE_SIM if args.cache else ["--cache-sim=no"]
                    vg = ["valgrind", "--tool=cachegrind", *sim,
                          "--cachegrind-out-file=/dev/null", f"--log-file={log}", *cmd]
                    if stdout:
                        with open(back, "wb") as f:
                            subprocess.run(vg, stdout=f, check=True)
                    else:
                        subprocess.run(vg, check=True, stdout=subprocess.DEVNULL)
                    got = cachegrind_counts(log)
                    if args.cache:
                        row.append(f"{got['ir'] / n:.0f} / {got['d1'] / n:.2f} / {got['l2'] / n:.2f}")
                    else:
                        row.append(f"{got['ir'] / n:.0f}")
                if subprocess.call(["cmp", "-s", src, back]) != 0:
                    sys.exit(f"DECOMPRESSION DIFFERS: {tool} {src}")
            print(f"{os.path.basename(src)[:16]:<16} {order:>2} " + " ".join(f"{v:>{width}}" for v in row))
            sys.stdout.flush()


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("files", nargs="*")
    ap.add_argument("--velt", default=os.path.join(HERE, "..", "build", "velt"))
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--orders", default="4,5,6,8")
    ap.add_argument("--velt-switches", default="", help='extra velt switches, e.g. "-da"')
    ap.add_argument("--no-others", action="store_true", help="only Velt and PPMd")
    ap.add_argument("--quick", action="store_true", help="1 run, orders 5,6, English 4 MB and lcet10")
    ap.add_argument("--instructions", action="store_true", help="instruction counts per byte instead of times")
    ap.add_argument("--cache", action="store_true",
                    help="with --instructions: also simulated L1d and L2 misses per byte")
    args = ap.parse_args()
    args.velt = os.path.abspath(args.velt)
    args.orders = [int(o) for o in args.orders.split(",")]
    for tool in ("7zz",):
        if not shutil.which(tool):
            sys.exit(f"{tool} not found")
    with tempfile.TemporaryDirectory() as work:
        files = args.files or default_files(work, args.velt)
        if args.quick:
            args.runs = 1
            args.orders = [5, 6]
            args.no_others = True
            if not args.files:
                files = files[:2]
        if args.instructions:
            if not args.files:
                files = [os.path.join(CORPUS, "text", "plrabn12.txt")]
            instructions(args, files, work)
        else:
            speed_table(args, files, work)


if __name__ == "__main__":
    main()
