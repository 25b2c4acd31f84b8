#!/usr/bin/env python3
"""Installing, packing and stub-size figures of sfxkit against what users
would use instead: unzip of a zip of the same files, zip -9 for packing; and
against the floor a DEFLATE installer can reach: deflate_extract, which
decodes the same files with libdeflate from the same raw DEFLATE streams
(libdeflate at the same level, as `sfx pack` makes them before rewriting them
into its stream format) and writes them into a folder. cp -r of the files
themselves is timed for information.

Builds (once, cached under --cache) a deterministic corpus from the files of
this machine: a "small" set of many small files (source code, text,
executables and libraries, already-compressed data) and a "large" set of a
few large ones, plus two payloads of very different sizes for the stub's peak
memory. Then times every contender several times on the same data and prints
the medians and their ratios.

Every installation writes to a fresh destination on the same file system;
the page cache is warm for all contenders alike (each one runs once untimed
first) and the previous run's output is removed and synced before each timed
run, so no run pays for another's write-back. Wall time and peak memory come
from /usr/bin/time (elapsed, "Maximum resident set size").

    install_bench.py --sfx build/release/src/tool/sfx --stub build/release/src/app/sfx-stub
                     [--cache build/bench-corpus] [--runs 5] [--mem-mib 1024] [--no-mem] ...
"""

import argparse
import hashlib
import json
import os
import shutil
import statistics
import stat
import subprocess
import sys
import tempfile
import time

CORPUS_VERSION = "3"
MIB = 1 << 20


# ---- corpus ---------------------------------------------------------------

def walk_sorted(roots, accept):
    """Regular files (no symlinks) below roots, in sorted path order."""
    out = []
    for root in roots:
        for dirpath, dirnames, filenames in os.walk(root):
            dirnames.sort()
            for name in sorted(filenames):
                path = os.path.join(dirpath, name)
                try:
                    st = os.lstat(path)
                except OSError:
                    continue
                if not stat.S_ISREG(st.st_mode) or not os.access(path, os.R_OK):
                    continue
                if accept(path, st.st_size):
                    out.append((path, st.st_size))
    return out


def is_elf(path):
    try:
        with open(path, "rb") as f:
            return f.read(4) == b"\x7fELF"
    except OSError:
        return False


def spread(files, count):
    """count files taken evenly over the sorted list (not just its start),
    so that the set mixes many packages."""
    if len(files) <= count:
        return files
    step = len(files) / count
    return [files[int(i * step)] for i in range(count)]


def read(path, limit=None):
    with open(path, "rb") as f:
        return f.read() if limit is None else f.read(limit)


def ext_of(path):
    base = os.path.basename(path)
    dot = base.rfind(".")
    ext = base[dot:] if 0 < dot < len(base) - 1 else ""
    return ext if len(ext) <= 5 and ext[1:].isalnum() else ""


SMALL_KINDS = [
    # kind, how many files, roots, accept(path, size)
    ("source", 2400, ["/usr/include", "/usr/lib/python3"],
     lambda p, s: 0 < s <= 128 * 1024 and (p.endswith((".h", ".hpp", ".py")) or p.startswith("/usr/include"))),
    ("text", 1400, ["/usr/share/doc", "/usr/share/common-licenses", "/usr/share/perl5"],
     lambda p, s: 0 < s <= 128 * 1024 and not p.endswith((".gz", ".xz", ".bz2", ".zip"))),
    ("binary", 1200, ["/usr/bin", "/usr/lib/x86_64-linux-gnu", "/usr/libexec"],
     lambda p, s: 512 <= s <= 128 * 1024 and is_elf(p)),
    ("packed", 1000, ["/usr/share/man", "/usr/share/doc", "/usr/share/info"],
     lambda p, s: 0 < s <= 128 * 1024 and p.endswith((".gz", ".xz", ".bz2"))),
]
FILES_PER_FOLDER = 100


def build_small(dest, log):
    listing = []
    for kind, count, roots, accept in SMALL_KINDS:
        chosen = spread(walk_sorted(roots, accept), count)
        for i, (src, _) in enumerate(chosen):
            folder = os.path.join(dest, kind, "d%02d" % (i // FILES_PER_FOLDER))
            os.makedirs(folder, exist_ok=True)
            name = "%s%05d%s" % (kind[0], i, ext_of(src))
            shutil.copyfile(src, os.path.join(folder, name))
            listing.append("%s/%s <- %s" % (os.path.relpath(folder, dest), name, src))
        log("  small/%s: %d files" % (kind, len(chosen)))
    return listing


def concat_files(files, size):
    """size bytes made of whole files from the list, in order (the last cut)."""
    parts, total = [], 0
    for path, _ in files:
        if total >= size:
            break
        data = read(path, size - total)
        parts.append(data)
        total += len(data)
    return b"".join(parts)


def build_large(dest, log):
    os.makedirs(dest, exist_ok=True)
    listing = []
    # Executables and libraries: the largest distinct ELF files, whole up to 24 MiB.
    elves = walk_sorted(["/usr/lib/gcc/x86_64-linux-gnu", "/usr/lib/x86_64-linux-gnu", "/usr/bin"],
                        lambda p, s: 4 * MIB <= s and is_elf(p))
    seen, picked = set(), []
    for path, size in sorted(elves, key=lambda e: (-e[1], e[0])):
        if size in seen:
            continue
        seen.add(size)
        picked.append((path, size))
        if len(picked) == 8:
            break
    for i, (path, size) in enumerate(sorted(picked)):
        name = "program%02d%s" % (i, ext_of(path) or ".bin")
        with open(os.path.join(dest, name), "wb") as f:
            f.write(read(path, 24 * MIB))
        listing.append("%s <- %s" % (name, path))
    # Source bundles and documents: headers and text run together.
    sources = walk_sorted(["/usr/include"], lambda p, s: s > 0)
    texts = walk_sorted(["/usr/share/doc", "/usr/share/perl5"], lambda p, s: s > 0 and not p.endswith(".gz"))
    for i in range(4):
        name = "sources%02d.txt" % i
        with open(os.path.join(dest, name), "wb") as f:
            f.write(concat_files(sources[i * len(sources) // 4:], 8 * MIB))
        listing.append("%s <- /usr/include, part %d" % (name, i))
    for i in range(2):
        name = "manual%02d.txt" % i
        with open(os.path.join(dest, name), "wb") as f:
            f.write(concat_files(texts[i * len(texts) // 2:], 8 * MIB))
        listing.append("%s <- /usr/share/doc, part %d" % (name, i))
    # Already-compressed archives.
    packed = walk_sorted(["/usr/share/man", "/usr/share/doc"], lambda p, s: p.endswith(".gz"))
    for i in range(3):
        name = "archive%02d.gz" % i
        with open(os.path.join(dest, name), "wb") as f:
            f.write(concat_files(packed[i * len(packed) // 3:], 8 * MIB))
        listing.append("%s <- .gz files, part %d" % (name, i))
    log("  large: %d files" % len(listing))
    return listing


def build_variant_set(dest, source_dir, total_bytes, files=8):
    """files files of total_bytes/files each, made of 1 MiB slices of the
    large set taken in a different order for each file (repeated data, but
    far beyond the 32 KB window, so it compresses like the original)."""
    os.makedirs(dest, exist_ok=True)
    pool = b"".join(read(os.path.join(source_dir, n)) for n in sorted(os.listdir(source_dir)))
    slices = max(1, len(pool) // MIB)
    per_file = total_bytes // files
    for j in range(files):
        with open(os.path.join(dest, "part%02d.bin" % j), "wb") as f:
            written, k = 0, j * 7
            while written < per_file:
                start = (k * 37 % slices) * MIB
                chunk = pool[start:start + min(MIB, per_file - written)]
                f.write(chunk)
                written += len(chunk)
                k += 1


def tree_stats(root):
    n, total = 0, 0
    for dirpath, _, filenames in os.walk(root):
        for name in filenames:
            n += 1
            total += os.path.getsize(os.path.join(dirpath, name))
    return n, total


def write_manifest(path, base, tree, main):
    """A manifest that installs every file of base/tree into the matching
    "%inst%\\tree\\..." folder; main is a program that does nothing."""
    files = [{"source": main, "name": "main.sh"}]
    for dirpath, dirnames, filenames in os.walk(os.path.join(base, tree)):
        dirnames.sort()
        rel = os.path.relpath(dirpath, base)
        for name in sorted(filenames):
            files.append({"source": os.path.join(dirpath, name),
                          "dest": "%inst%\\" + rel.replace("/", "\\")})
    with open(path, "w") as f:
        json.dump({"project": "Bench", "mainProgram": "main.sh", "files": files}, f)


# ---- running and measuring ------------------------------------------------

class Runner:
    def __init__(self, args):
        self.args = args
        self.log_lines = []

    def log(self, text):
        print(text, file=sys.stderr, flush=True)

    def run(self, cmd, env=None, cwd=None):
        """(wall seconds, user+sys seconds, peak RSS KiB) of one command."""
        with tempfile.NamedTemporaryFile("r", suffix=".time") as t:
            full = ["/usr/bin/time", "-f", "%e %U %S %M", "-o", t.name] + cmd
            r = subprocess.run(full, env=env, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
            if r.returncode != 0:
                raise RuntimeError("%s failed (%d): %s" % (" ".join(cmd), r.returncode, r.stderr.decode()[-2000:]))
            fields = t.read().split()
        e, u, s, m = (float(x) for x in fields[-4:])
        return e, u + s, m

    def settle(self):
        subprocess.run(["sync"])
        time.sleep(0.2)


def human(n):
    return "%.1f MiB" % (n / MIB)


def median(xs):
    return statistics.median(xs)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--sfx", required=True, help="the sfx tool (release build)")
    ap.add_argument("--stub", required=True, help="the host stub (release build)")
    ap.add_argument("--win32-stub", default="", help="the i686 stub, if built")
    ap.add_argument("--inflate-bench", default="", help="the decoder benchmark, if built")
    ap.add_argument("--deflate-extract", default="", help="the libdeflate extractor (the floor), if built")
    ap.add_argument("--cache", default="build/bench-corpus")
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--mem-mib", type=int, default=1024, help="size of the large payload for peak memory")
    ap.add_argument("--no-mem", action="store_true", help="skip the peak-memory payloads")
    ap.add_argument("--no-pack", action="store_true", help="skip the packing comparison")
    ap.add_argument("--no-decode", action="store_true", help="skip the decoder benchmark")
    ap.add_argument("--sets", default="small,large", help="which sets to install")
    args = ap.parse_args()

    runner = Runner(args)
    log = runner.log
    cache = os.path.abspath(args.cache)
    sfx = os.path.abspath(args.sfx)
    stub = os.path.abspath(args.stub)
    os.makedirs(cache, exist_ok=True)
    corpus = os.path.join(cache, "corpus")
    stamp = os.path.join(cache, "corpus.done")
    work = os.path.join(cache, "work")

    # The corpus, once.
    if not os.path.exists(stamp) or read(stamp).decode().strip() != CORPUS_VERSION:
        log("building the corpus in %s" % corpus)
        shutil.rmtree(cache, ignore_errors=True)
        os.makedirs(corpus)
        listing = build_small(os.path.join(corpus, "small"), log)
        listing += build_large(os.path.join(corpus, "large"), log)
        with open(os.path.join(cache, "corpus-sources.txt"), "w") as f:
            f.write("\n".join(listing) + "\n")
        with open(stamp, "w") as f:
            f.write(CORPUS_VERSION + "\n")
    main_sh = os.path.join(cache, "main.sh")
    if not os.path.exists(main_sh):
        with open(main_sh, "w") as f:
            f.write("#!/bin/sh\nexit 0\n")
        os.chmod(main_sh, 0o755)

    sets = {s: tree_stats(os.path.join(corpus, s)) for s in ("small", "large")}
    nfiles = sum(n for n, _ in sets.values())
    nbytes = sum(b for _, b in sets.values())
    print("corpus: %d files, %s (%s)" % (nfiles, human(nbytes), corpus))
    for s, (n, b) in sets.items():
        print("  %-5s %6d files, %10s, mean %8.1f KiB" % (s, n, human(b), b / max(n, 1) / 1024))

    # Setups and zips, rebuilt when the tool or the stub changed.
    tool_id = hashlib.sha256(read(sfx) + read(stub)).hexdigest()[:16]

    def setup_for(name, tree, level, base=corpus):
        out = os.path.join(cache, "%s-l%d.setup" % (name, level))
        key = out + ".key"
        if os.path.exists(out) and os.path.exists(key) and read(key).decode() == tool_id:
            return out
        manifest = os.path.join(cache, "%s.json" % name)
        write_manifest(manifest, base, tree, main_sh)
        log("packing %s at level %d" % (name, level))
        subprocess.run([sfx, "pack", manifest, "-o", out, "--level", str(level), "--stub", stub],
                       check=True, stdout=subprocess.DEVNULL)
        with open(key, "w") as f:
            f.write(tool_id)
        return out

    def zip_for(tree, level):
        out = os.path.join(cache, "%s-%d.zip" % (tree, level))
        if not os.path.exists(out):
            log("zipping %s at -%d" % (tree, level))
            subprocess.run(["zip", "-q", "-r", "-%d" % level, out, tree], cwd=corpus, check=True)
        return out

    def raw_archive_for(tree, level):
        out = os.path.join(cache, "%s-%d.rawdeflate" % (tree, level))
        if not os.path.exists(out):
            log("raw DEFLATE archive of %s at level %d" % (tree, level))
            subprocess.run([args.deflate_extract, "pack", os.path.join(corpus, tree), out, "--level", str(level)],
                           check=True, stdout=subprocess.DEVNULL)
        return out

    # ---- decoding ---------------------------------------------------------
    rows = []
    if not args.no_decode and args.inflate_bench:
        log("decoding: %s" % args.inflate_bench)
        r = subprocess.run([args.inflate_bench, "--runs", "5", "--no-sizes"], check=True,
                           stdout=subprocess.PIPE, text=True)
        print("\n== decoding (%s --runs 5 --no-sizes; thread CPU time, best of 5) ==" % args.inflate_bench)
        print(r.stdout.rstrip())
        for line in r.stdout.splitlines():
            f = line.split()
            if f and f[0] in ("all", "exe"):
                # kind MiB ratio | ours MB/s zlib MB/s libdeflate MB/s | vs zlib vs libdfl
                ours, zl, ld = float(f[4]), float(f[6]), float(f[8])
                if f[0] == "all":
                    rows.append(("decode MB/s: CInflater / zlib", ours / zl, ">= 1.5", ours / zl >= 1.5))
                    rows.append(("decode MB/s: CInflater / libdeflate", ours / ld, ">= 0.9", ours / ld >= 0.9))
                else:
                    rows.append(("decode MB/s, programs: CInflater / libdfl", ours / ld, ">= 0.85", ours / ld >= 0.85))

    # ---- installing -------------------------------------------------------
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    wanted = [s for s in args.sets.split(",") if s]
    setups = {s: setup_for(s, s, 6) for s in wanted}
    zips = {s: zip_for(s, 6) for s in wanted}
    raws = {s: raw_archive_for(s, 6) for s in wanted} if args.deflate_extract else {}

    # Every run writes into a folder of its own, and a set's folders are
    # removed only after all its runs: ext4 passes over inodes freed in the
    # last minute when it allocates new ones, which would charge a run for
    # the clean-up before it.
    counter = [0]

    def fresh(name):
        counter[0] += 1
        d = os.path.join(work, "%s-%03d" % (name, counter[0]))
        os.makedirs(d)
        return d

    def stub_run(setup):
        prefix = fresh("prefix")
        env = dict(os.environ, SFX_PREFIX=prefix)
        subprocess.run([sfx, "prefix", "init"], env=env, check=True, stdout=subprocess.DEVNULL)
        runner.settle()
        result = runner.run([setup], env=env)
        temp = os.path.join(prefix, "drive_c", "TEMP")
        dirs = [d for d in os.listdir(temp) if d.startswith("cc")]
        if len(dirs) != 1 or not os.path.exists(os.path.join(temp, dirs[0], "_Del.log")):
            raise RuntimeError("the stub did not finish its installation")
        return result

    def unzip_run(archive):
        d = fresh("unzip")
        runner.settle()
        return runner.run(["unzip", "-q", archive, "-d", d])

    def floor_run(archive):
        d = fresh("floor")
        runner.settle()
        return runner.run([args.deflate_extract, "extract", archive, os.path.join(d, "out")])

    def cp_run(tree):
        d = fresh("cp")
        runner.settle()
        return runner.run(["cp", "-r", os.path.join(corpus, tree), d])

    def clean_work():
        shutil.rmtree(work, ignore_errors=True)
        os.makedirs(work)

    install = {}
    for s in wanted:
        contenders = [("sfx", lambda s=s: stub_run(setups[s])),
                      ("unzip", lambda s=s: unzip_run(zips[s])),
                      ("cp", lambda s=s: cp_run(s))]
        if s in raws:
            contenders.insert(1, ("libdfl", lambda s=s: floor_run(raws[s])))
        log("installing %s: 1 warm-up + %d timed runs each, taking turns" % (s, args.runs))
        for _, fn in contenders:
            fn()
        results = {c: [] for c, _ in contenders}
        for _ in range(args.runs):
            for c, fn in contenders:
                results[c].append(fn())
        install[s] = {c: (median([r[0] for r in v]), median([r[1] for r in v]), median([r[2] for r in v]),
                          [r[0] for r in v]) for c, v in results.items()}
        clean_work()

    if install:
        print("\n== installing (warm page cache, output synced away between runs; median of %d) ==" % args.runs)
        print("%-6s %-6s %10s %10s %12s   %s" % ("set", "tool", "wall s", "cpu s", "peak RSS", "wall times"))
        for s, res in install.items():
            for c, (w, cpu, m, all_w) in res.items():
                print("%-6s %-6s %10.3f %10.3f %9.0f KiB   %s" % (s, c, w, cpu, m, " ".join("%.2f" % x for x in all_w)))
        for s, res in install.items():
            r1 = res["sfx"][0] / res["unzip"][0]
            r2 = res["sfx"][0] / res["cp"][0]
            if "libdfl" in res:
                r3 = res["sfx"][0] / res["libdfl"][0]
                large = s == "large"
                rows.append(("install %s: sfx / libdeflate floor (wall)" % s, r3, "<= 1.25" if large else "",
                             (r3 <= 1.25) if large else None))
            rows.append(("install %s: sfx / unzip (wall)" % s, r1, "<= 0.8" if s == "small" else "< 1.0",
                         r1 <= 0.8 if s == "small" else r1 < 1.0))
            rows.append(("install %s: sfx / cp -r (wall, information)" % s, r2, "", None))
            rows.append(("install %s: sfx / unzip (peak RSS)" % s, res["sfx"][2] / res["unzip"][2], "", None))

    # ---- peak memory against payload size -----------------------------------
    if not args.no_mem:
        mem_base = os.path.join(cache, "mem")
        sizes = [("mem10", 10 * MIB), ("mem%d" % args.mem_mib, args.mem_mib * MIB)]
        mems = {}
        for name, size in sizes:
            src = os.path.join(mem_base, name)
            out = os.path.join(cache, "%s-l6.setup" % name)
            key = out + ".key"
            if not (os.path.exists(out) and os.path.exists(key) and read(key).decode() == tool_id):
                log("generating %s (%s)" % (name, human(size)))
                shutil.rmtree(src, ignore_errors=True)
                build_variant_set(src, os.path.join(corpus, "large"), size)
                setup_for(name, name, 6, base=mem_base)
                shutil.rmtree(src, ignore_errors=True)  # only the setup is kept
            log("peak memory: %s" % name)
            stub_run(out)  # warm-up
            runs = [stub_run(out) for _ in range(3)]
            mems[name] = (median([r[2] for r in runs]), median([r[0] for r in runs]), os.path.getsize(out))
            clean_work()
        print("\n== stub peak memory against payload size (median of 3) ==")
        for name, (m, w, sz) in mems.items():
            print("%-9s setup %10s  peak RSS %7.0f KiB  wall %.2f s" % (name, human(sz), m, w))
        (a, b) = [mems[n][0] for n, _ in sizes]
        ratio = b / a
        rows.append(("stub peak RSS: %d MiB / 10 MiB payload" % args.mem_mib, ratio, "within 1.10", abs(ratio - 1) <= 0.10))

    # ---- packing ----------------------------------------------------------
    if not args.no_pack:
        manifest = os.path.join(cache, "all.json")
        write_manifest(manifest, cache, "corpus", main_sh)
        out = os.path.join(cache, "pack-out")
        os.makedirs(out, exist_ok=True)
        log("packing the whole corpus: sfx pack (default level), zip -9, sfx --level 12")
        sfx_default = os.path.join(out, "all.setup")
        sfx12 = os.path.join(out, "all-12.setup")
        zip9 = os.path.join(out, "all-9.zip")
        t_sfx, t_zip = [], []
        for _ in range(max(1, min(args.runs, 3))):
            for p in (sfx_default, zip9):
                if os.path.exists(p):
                    os.remove(p)
            runner.settle()
            t_sfx.append(runner.run([sfx, "pack", manifest, "-o", sfx_default, "--stub", stub])[0])
            runner.settle()
            t_zip.append(runner.run(["zip", "-q", "-9", "-r", zip9, "corpus"], cwd=cache)[0])
        if os.path.exists(sfx12):
            os.remove(sfx12)
        t12 = runner.run([sfx, "pack", manifest, "-o", sfx12, "--level", "12", "--stub", stub])[0]
        stub_size = os.path.getsize(stub)
        s_sfx = os.path.getsize(sfx_default) - stub_size
        s12 = os.path.getsize(sfx12) - stub_size
        s_zip = os.path.getsize(zip9)
        print("\n== packing the whole corpus (%d files, %s; wall time, median of %d) ==" % (nfiles + 1, human(nbytes), len(t_sfx)))
        print("%-26s %10s %14s %8s" % ("", "wall s", "bytes", "of input"))
        print("%-26s %10.2f %14d %7.2f%%" % ("sfx pack (default, 6)", median(t_sfx), s_sfx, 100.0 * s_sfx / nbytes))
        print("%-26s %10.2f %14d %7.2f%%" % ("sfx pack --level 12", t12, s12, 100.0 * s12 / nbytes))
        print("%-26s %10.2f %14d %7.2f%%" % ("zip -9 -r", median(t_zip), s_zip, 100.0 * s_zip / nbytes))
        print("(sfx sizes are the payloads: the setup less the %d-byte host stub)" % stub_size)
        rows.append(("pack size: sfx default / zip -9", s_sfx / s_zip, "< 1.0", s_sfx < s_zip))
        rows.append(("pack time: sfx default / zip -9", median(t_sfx) / median(t_zip), "<= 2.0", median(t_sfx) / median(t_zip) <= 2.0))
        rows.append(("pack size: sfx --level 12 / zip -9", s12 / s_zip, "", None))
        shutil.rmtree(out, ignore_errors=True)

    # ---- the stubs --------------------------------------------------------
    print("\n== stub executables ==")
    print("host stub (release):  %8d bytes  %s" % (os.path.getsize(stub), stub))
    if args.win32_stub and os.path.exists(args.win32_stub):
        w = os.path.getsize(args.win32_stub)
        print("i686 stub:            %8d bytes  %s" % (w, args.win32_stub))
        rows.append(("i686 stub size / 128 KiB", w / (128 * 1024), "<= 1.0 (aim 0.5)", w <= 128 * 1024))
    else:
        print("i686 stub:            not built (no cross compiler?)")

    print("\n== summary ==")
    print("%-42s %8s  %-16s %s" % ("ratio", "value", "target", ""))
    for name, value, target, ok in rows:
        verdict = "" if ok is None else ("met" if ok else "MISSED")
        print("%-42s %8.3f  %-16s %s" % (name, value, target, verdict))


if __name__ == "__main__":
    main()
