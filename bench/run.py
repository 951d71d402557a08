#!/usr/bin/env python3
"""Benchmark kit: times every mode of trevlin against the cost of its I/O.

    python3 bench/run.py                  # medium data, both mixes, 5 runs of everything
    python3 bench/run.py --size large --mix mixed
    python3 bench/run.py --size medium --modes G,S --runs 3
    python3 bench/run.py --digests-only --trevlin BIN --size medium > digests.txt

Builds trevlin (Release, in build-bench-kit/) unless --trevlin names a binary,
builds the data generator, makes the synthetic data once per size and
probability mix under bench/data/<size>-<mix>/ (deterministic: the same bytes
on every machine), then for each mode, plain and gzip, runs trevlin, its
floors and a peer in turn, run after run, and prints median wall time, CPU
time, peak memory, throughput and the ratios as Markdown tables. Installs
nothing; plink2 is the peer of -G, -S and -P only when it is on PATH.
Not part of CI: nothing here asserts a time.

--digests-only runs each mode once, plain and gzip, and prints one line per
run with the sha256 of every output (uncompressed), of standard output and
of the log: stable text, so two builds compare with diff when both are run
with the same --data.
"""

import argparse
import gzip
import hashlib
import os
import shutil
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)

SIZES = {"medium": (1000, 20000), "large": (2000, 50000), "small": (100, 2000)}
MIXES = ("simple", "mixed")
RUN_TIMEOUT = 900  # seconds for any single timed command


def say(text):
    sys.stdout.write(text + "\n")
    sys.stdout.flush()


def die(text):
    say("bench: " + text)
    sys.exit(1)


def run_checked(cmd, **kw):
    r = subprocess.run(cmd, **kw)
    if r.returncode != 0:
        die("command failed (%d): %s" % (r.returncode, " ".join(cmd)))
    return r


# ---- build and data ----

def build_trevlin():
    # Tests are not needed (nor GoogleTest) to time the tool.
    build = os.path.join(REPO, "build-bench-kit")
    run_checked(["cmake", "-S", REPO, "-B", build, "-DCMAKE_BUILD_TYPE=Release",
                 "-DBUILD_TESTING=OFF"],
                stdout=subprocess.DEVNULL)
    run_checked(["cmake", "--build", build, "--target", "trevlin", "-j",
                 str(os.cpu_count() or 4)], stdout=subprocess.DEVNULL)
    return os.path.join(build, "trevlin")


def build_generator(data_root):
    os.makedirs(data_root, exist_ok=True)
    src = os.path.join(HERE, "gen_data.cpp")
    exe = os.path.join(data_root, "gen_data")
    if not os.path.exists(exe) or os.path.getmtime(exe) < os.path.getmtime(src):
        run_checked(["g++", "-O2", "-std=c++17", "-o", exe, src])
    return exe


def file_digest(path):
    """sha256 of a file's text, a gzip file's uncompressed; "none" if missing."""
    if not os.path.exists(path):
        return "none"
    h = hashlib.sha256()
    with (gzip.open(path, "rb") if path.endswith(".gz") else open(path, "rb")) as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    return h.hexdigest()


GZIPPED = ["a.gen", "a.sample", "b.gen", "b.sample", "a.ped", "a.map"]


def make_data(gen_exe, data_root, size, mix):
    samples, snps = SIZES[size]
    d = os.path.join(data_root, "%s-%s" % (size, mix))
    stamp = os.path.join(d, "stamp")
    want = "%d %d %s %s\n" % (samples, snps, mix,
                              file_digest(os.path.join(HERE, "gen_data.cpp")))
    if os.path.exists(stamp) and open(stamp).read() == want:
        return d
    # On stderr: --digests-only output stays the same whether or not data was made.
    sys.stderr.write("bench: making %s %s data (%d samples x %d SNPs) in %s\n"
                     % (size, mix, samples, snps, d))
    os.makedirs(d, exist_ok=True)
    if os.path.exists(stamp):
        os.remove(stamp)
    run_checked([gen_exe, str(samples), str(snps), d, mix])
    # gzip -n: no name or time in the header, so the files are the same everywhere.
    procs = []
    for name in GZIPPED:
        out = open(os.path.join(d, name + ".gz"), "wb")
        procs.append((subprocess.Popen(["gzip", "-6", "-n", "-c", os.path.join(d, name)],
                                       stdout=out), out))
    for p, out in procs:
        p.wait()
        out.close()
        if p.returncode != 0:
            die("gzip failed")
    with open(stamp, "w") as f:
        f.write(want)
    return d


# ---- timing ----

def parse_time_v(path):
    """Wall seconds, CPU seconds and peak RSS in KB from /usr/bin/time -v."""
    wall = None
    rss = 0
    user = system = 0.0
    with open(path) as f:
        for line in f:
            line = line.strip()
            if line.startswith("User time (seconds):"):
                user = float(line.split(":")[1])
            elif line.startswith("System time (seconds):"):
                system = float(line.split(":")[1])
            elif line.startswith("Elapsed (wall clock) time"):
                t = line.rsplit(" ", 1)[1]
                parts = [float(x) for x in t.split(":")]
                wall = 0.0
                for p in parts:
                    wall = wall * 60 + p
            elif line.startswith("Maximum resident set size (kbytes):"):
                rss = int(line.split(":")[1])
    cpu = user + system
    return wall, cpu, rss


def timed(cmd, work, stdout_path=None):
    """Runs one command (a string goes to sh) under /usr/bin/time -v;
    returns (wall, cpu, rss_kb)."""
    tfile = os.path.join(work, "time.txt")
    if isinstance(cmd, str):
        cmd = ["sh", "-c", cmd]
    full = ["timeout", str(RUN_TIMEOUT), "/usr/bin/time", "-v", "-o", tfile] + cmd
    out = open(stdout_path, "wb") if stdout_path else subprocess.DEVNULL
    try:
        t0 = time.perf_counter()
        r = subprocess.run(full, stdout=out, stderr=subprocess.PIPE)
        elapsed = time.perf_counter() - t0
    finally:
        if stdout_path:
            out.close()
    if r.returncode != 0:
        die("timed command failed (%d): %s\n%s" % (r.returncode, " ".join(cmd),
                                                   r.stderr.decode(errors="replace")[-2000:]))
    # time -v gives CPU and peak memory; its wall clock has 10 ms steps, so
    # the wall time is our own clock's (a few ms of process start included).
    _, cpu, rss = parse_time_v(tfile)
    return elapsed, cpu, rss


def median_of(samples):
    return tuple(statistics.median(s[i] for s in samples) for i in range(3))


def q(path):
    return "'" + path.replace("'", "'\\''") + "'"


# ---- the jobs ----

def jobs(d, snps):
    """One entry per mode: arguments for plain and gzip runs, inputs with the
    number of passes the mode makes over each, and the outputs."""
    start = 10000 + 40 * (snps // 4)
    end = 10000 + 40 * (3 * snps // 4)
    o = os.path.join(d, "out")

    def p(name):
        return os.path.join(d, name)

    def out(name):
        return os.path.join(o, name)

    js = []
    # -S reads its first GEN line once to count the samples, then the whole file.
    for gz in (False, True):
        z = ".gz" if gz else ""
        js.append(dict(mode="S", gz=gz,
                       args=["-S", "--g", p("a.gen" + z), "--s", p("a.sample" + z),
                             "--sample_id", p("keep.txt"), "--start", str(start), "--end", str(end),
                             "--og", out("s.gen" + z), "--os", out("s.sample" + z)],
                       inputs=[(p("a.gen" + z), 1), (p("a.sample" + z), 1), (p("keep.txt"), 1)],
                       outputs=[out("s.gen" + z), out("s.sample" + z)]))
        js.append(dict(mode="G", gz=gz,
                       args=["-G", "--g", p("a.gen" + z), "--s", p("a.sample" + z),
                             "--phenotype", "pheno1", "--sex", "sex",
                             "--ped", out("g.ped" + z), "--map", out("g.map" + z)],
                       inputs=[(p("a.gen" + z), 2), (p("a.sample" + z), 1)],
                       outputs=[out("g.map" + z), out("g.ped" + z)]))
        js.append(dict(mode="P", gz=gz,
                       args=["-P", "--ped", p("a.ped" + z), "--map", p("a.map" + z),
                             "--og", out("p.gen" + z), "--os", out("p.sample" + z)],
                       inputs=[(p("a.map" + z), 1), (p("a.ped" + z), 2)],
                       outputs=[out("p.sample" + z), out("p.gen" + z)]))
        # The merge scans each GEN file, then seeks through it again.
        js.append(dict(mode="M", gz=gz,
                       args=["-M", "--g", p("a.gen" + z), p("b.gen" + z),
                             "--s", p("a.sample" + z), p("b.sample" + z),
                             "--og", out("m.gen" + z), "--os", out("m.sample" + z)],
                       inputs=[(p("a.sample" + z), 1), (p("b.sample" + z), 1),
                               (p("a.gen" + z), 2), (p("b.gen" + z), 2)],
                       outputs=[out("m.sample" + z), out("m.gen" + z)]))
        js.append(dict(mode="O", gz=gz,
                       args=["-O", "--g", p("a.gen" + z), "--strand", p("a.strand"), "--order",
                             "--og", out("o.gen" + z)],
                       inputs=[(p("a.strand"), 1), (p("a.gen" + z), 1)],
                       outputs=[out("o.gen" + z)]))
    return js, start, end


def peers(d, start, end, plink):
    """A peer per mode on the plain inputs, writing into d/out: (name, command)."""
    o = os.path.join(d, "out")
    res = {
        # Lines side by side: the bulk of a merge's bytes, no matching of SNPs or samples.
        "M": ("paste", "paste -d' ' %s %s > %s" % (q(os.path.join(d, "a.gen")),
                                                  q(os.path.join(d, "b.gen")),
                                                  q(os.path.join(o, "peer.gen")))),
        # Every allele letter flipped in one pass: no strand lookup, no reordering.
        "O": ("tr", "tr ACGT TGCA < %s > %s" % (q(os.path.join(d, "a.gen")),
                                                q(os.path.join(o, "peer.gen")))),
    }
    if plink:
        tail = ["--threads", "1", "--out", os.path.join(o, "peer")]
        gen_in = [plink, "--gen", os.path.join(d, "a.gen"), "ref-last",
                  "--sample", os.path.join(d, "a.sample"), "--oxford-single-chr", "1"]
        res["G"] = ("plink2", gen_in + ["--export", "ped"] + tail)
        res["P"] = ("plink2", [plink, "--pedmap", os.path.join(d, "a"),
                               "--export", "oxford"] + tail)
        res["S"] = ("plink2", gen_in + ["--keep", os.path.join(d, "keep.txt"), "--chr", "1",
                                        "--from-bp", str(start), "--to-bp", str(end),
                                        "--export", "oxford"] + tail)
    return res


def plain_name(path):
    return path[:-3] if path.endswith(".gz") else path


def clean_outputs(o):
    for name in os.listdir(o):
        path = os.path.join(o, name)
        if os.path.isfile(path):
            os.remove(path)


def bench_mode(trevlin, job, work, runs, peer):
    """Each run: trevlin, the input floor, the output floor, then the peer,
    so that all of them share the machine's noise."""
    o = work
    log = os.path.join(o, "trevlin.log")
    stdout_path = os.path.join(o, "stdout.txt")
    cmd = [trevlin] + job["args"] + ["--log", log]
    in_list = []
    for path, passes in job["inputs"]:
        in_list += [path] * passes
    # The floors bring every byte into a process's memory: wc reads each
    # plain input, gzip inflates each compressed one (-f passes the plain
    # ID lists and strand file of a gzip run through).
    floor_in = "%s %s > /dev/null" % ("gzip -dcf" if job["gz"] else "wc -l",
                                      " ".join(q(x) for x in in_list))

    t_runs, f_in, f_out, p_runs = [], [], [], []
    plain_outputs = None
    for i in range(runs):
        clean_outputs(o)
        t_runs.append(timed(cmd, o, stdout_path=stdout_path))
        if plain_outputs is None:
            # The floor writes (or compresses) the same bytes trevlin wrote.
            plain_outputs = []
            ref = os.path.join(o, "ref")
            os.makedirs(ref, exist_ok=True)
            for path in job["outputs"]:
                dst = os.path.join(ref, os.path.basename(plain_name(path)))
                if job["gz"]:
                    with open(dst, "wb") as f:
                        run_checked(["gzip", "-dc", path], stdout=f)
                else:
                    shutil.copyfile(path, dst)
                plain_outputs.append(dst)
            digests = [file_digest(x)[:16] for x in plain_outputs]
            if job["gz"]:
                floor_out = "gzip -6 -c %s > %s" % (" ".join(q(x) for x in plain_outputs),
                                                    q(os.path.join(o, "floor.out")))
            else:
                # dd copies through its own buffer, where cat may splice.
                floor_out = " && ".join(
                    "dd if=%s of=%s bs=1M status=none" % (q(x), q(os.path.join(o, "floor.%d" % k)))
                    for k, x in enumerate(plain_outputs))
        f_in.append(timed(floor_in, o))
        f_out.append(timed(floor_out, o))
        if peer:
            p_runs.append(timed(peer[1], o))
    in_bytes = sum(os.path.getsize(plain_name(p)) for p, _ in job["inputs"])
    out_bytes = sum(os.path.getsize(x) for x in plain_outputs)
    res = dict(job=job, trevlin=median_of(t_runs), floor_in=median_of(f_in)[0],
               floor_out=median_of(f_out)[0], in_bytes=in_bytes, out_bytes=out_bytes,
               digests=digests, walls=[t[0] for t in t_runs],
               peer=(peer[0], median_of(p_runs)[0]) if peer else None)
    clean_outputs(o)
    shutil.rmtree(os.path.join(o, "ref"))
    return res


def digest_line(trevlin, job, work, label):
    """One run, untimed: the digests of everything it wrote, on one line."""
    clean_outputs(work)
    log = os.path.join(work, "trevlin.log")
    # A fixed argv[0]: the log echoes the command line, and two builds'
    # binaries live at different paths.
    r = subprocess.run(["trevlin"] + job["args"] + ["--log", log], executable=trevlin, cwd=work,
                       stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=RUN_TIMEOUT)
    parts = ["%s -%s %s rc=%d" % (label, job["mode"], "gzip" if job["gz"] else "plain",
                                  r.returncode)]
    parts += ["%s=%s" % (os.path.basename(plain_name(x)), file_digest(x))
              for x in job["outputs"]]
    parts += ["stdout=" + hashlib.sha256(r.stdout).hexdigest(),
              "stderr=" + hashlib.sha256(r.stderr).hexdigest(),
              "log=" + file_digest(log)]
    say(" ".join(parts))
    clean_outputs(work)


# ---- report ----

def fmt_mb(b):
    return "%.1f" % (b / 1e6)


def report(label, results):
    plain = {r["job"]["mode"]: r for r in results if not r["job"]["gz"]}
    say("")
    say("### %s data" % label)
    say("")
    say("| mode | in | wall s | CPU s | peak MB | in MB | MB/s | floor in s | floor out s "
        "| floor s | ratio | target s | status |")
    say("|---|---|---|---|---|---|---|---|---|---|---|---|---|")
    for r in results:
        j = r["job"]
        wall, cpu, rss = r["trevlin"]
        floor = r["floor_in"] + r["floor_out"]
        if j["gz"]:
            # decompression of every pass + zlib's own time for the output
            # (with 10% room) + what the same work costs on plain files
            p = plain.get(j["mode"])
            target = r["floor_in"] + 1.1 * r["floor_out"] + (p["trevlin"][0] if p else 0.0)
        else:
            target = 1.5 * floor
        say("| -%s | %s | %.2f | %.2f | %.0f | %s | %.0f | %.2f | %.2f | %.2f | %.1f | %.2f | %s |" % (
            j["mode"], "gzip" if j["gz"] else "plain", wall, cpu, rss / 1024.0,
            fmt_mb(r["in_bytes"]), r["in_bytes"] / 1e6 / wall if wall > 0 else 0.0,
            r["floor_in"], r["floor_out"], floor, wall / floor if floor > 0 else 0.0,
            target, "ok" if wall <= target else "over"))
    say("")
    say("Floors: plain = `wc -l` of each input once per pass + `dd bs=1M` of a copy of each"
        " output to a file; gzip = `gzip -dc` of each input once per pass + `gzip -6 -c` of the"
        " uncompressed outputs. Ratio = wall / floor. Target: plain 1.5 x floor; gzip ="
        " decompression + 1.1 x compression + the plain run's wall time.")
    rows = [r for r in results if r["peer"]]
    if rows:
        say("")
        say("| mode | trevlin s | peer | peer s | trevlin / peer |")
        say("|---|---|---|---|---|")
        for r in rows:
            t = r["trevlin"][0]
            name, pt = r["peer"]
            say("| -%s | %.2f | %s | %.2f | %.2f |" % (r["job"]["mode"], t, name, pt,
                                                      t / pt if pt > 0 else 0))
        say("")
        say("Peers, plain inputs, timed in the same loop as trevlin: plink2 `--threads 1`"
            " (-G `--export ped`, -P and -S `--export oxford`, -S with `--keep` and a bp range);"
            " -M `paste -d' '` of the two GEN files to a file (no matching of SNPs or samples);"
            " -O `tr ACGT TGCA` of the GEN file to a file (every allele letter flipped, no"
            " strand lookup, no reordering).")
    say("")
    say("Output digests (sha256 prefix of the uncompressed outputs; plain and gzip runs must agree):")
    say("")
    for r in results:
        j = r["job"]
        say("- -%s %s: %s" % (j["mode"], "gzip" if j["gz"] else "plain", " ".join(r["digests"])))


def report_scaling(all_results, mixes):
    """Large over medium, wall time next to input bytes: near equal is linear."""
    pairs = [(mix, all_results.get(("medium", mix)), all_results.get(("large", mix)))
             for mix in mixes]
    pairs = [p for p in pairs if p[1] and p[2]]
    if not pairs:
        return
    say("")
    say("### large over medium")
    say("")
    say("| mix | mode | in | wall large / medium | input bytes large / medium |")
    say("|---|---|---|---|---|")
    for mix, med, lar in pairs:
        by_job = {(r["job"]["mode"], r["job"]["gz"]): r for r in med}
        for r in lar:
            m = by_job.get((r["job"]["mode"], r["job"]["gz"]))
            if m:
                say("| %s | -%s | %s | %.2f | %.2f |" % (
                    mix, r["job"]["mode"], "gzip" if r["job"]["gz"] else "plain",
                    r["trevlin"][0] / m["trevlin"][0], r["in_bytes"] / m["in_bytes"]))


def machine():
    cpu = "unknown cpu"
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    cpu = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    mem = ""
    try:
        with open("/proc/meminfo") as f:
            kb = int(f.readline().split()[1])
            mem = ", %.0f GB RAM" % (kb / 1024 / 1024)
    except (OSError, ValueError, IndexError):
        pass
    return "%s, %d cores%s, %s" % (cpu, os.cpu_count() or 0, mem, os.uname().release)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--size", default="medium", help="medium, large, both or small")
    ap.add_argument("--mix", default="both", choices=["simple", "mixed", "both"],
                    help="probability words of the GEN data (default both)")
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--modes", default="S,G,P,M,O")
    ap.add_argument("--trevlin", help="binary to time (default: build one in build-bench-kit/)")
    ap.add_argument("--data", default=os.path.join(HERE, "data"),
                    help="where the synthetic data lives (default bench/data)")
    ap.add_argument("--no-gzip", action="store_true", help="plain runs only")
    ap.add_argument("--no-plink", action="store_true")
    ap.add_argument("--digests-only", action="store_true",
                    help="run each mode once and print digests, no timing")
    a = ap.parse_args()

    tools = ["gzip", "g++"] if a.digests_only else ["gzip", "wc", "dd", "paste", "tr",
                                                      "timeout", "g++"]
    if not a.digests_only and not os.path.exists("/usr/bin/time"):
        die("needs GNU time at /usr/bin/time (Debian package 'time')")
    for tool in tools:
        if not shutil.which(tool):
            die("needs " + tool)
    sizes = ["medium", "large"] if a.size == "both" else [a.size]
    for s in sizes:
        if s not in SIZES:
            die("unknown size " + s)
    mixes = list(MIXES) if a.mix == "both" else [a.mix]
    modes = [m.strip().lstrip("-").upper() for m in a.modes.split(",") if m.strip()]

    trevlin = os.path.abspath(a.trevlin) if a.trevlin else build_trevlin()
    gen_exe = build_generator(a.data)
    plink = None if a.no_plink else shutil.which("plink2")

    def selected(js):
        return [j for j in js if j["mode"] in modes and not (j["gz"] and a.no_gzip)]

    if a.digests_only:
        for size in sizes:
            for mix in mixes:
                d = make_data(gen_exe, a.data, size, mix)
                work = os.path.join(d, "out")
                os.makedirs(work, exist_ok=True)
                for j in selected(jobs(d, SIZES[size][1])[0]):
                    digest_line(trevlin, j, work, "%s %s" % (size, mix))
        return

    rev = subprocess.run(["git", "-C", REPO, "rev-parse", "--short", "HEAD"],
                         capture_output=True, text=True).stdout.strip()
    plink_version = ""
    if plink:
        plink_version = subprocess.run([plink, "--version"], capture_output=True,
                                       text=True).stdout.strip()
    say("## Run of %s" % time.strftime("%Y-%m-%d %H:%M %Z"))
    say("")
    say("- machine: %s" % machine())
    say("- command: `python3 bench/run.py %s`" % " ".join(sys.argv[1:]))
    say("- trevlin: %s" % (trevlin if a.trevlin else
                           "%s (built from the tree at %s)" % (trevlin, rev or "unknown")))
    say("- plink2: %s" % (("%s (%s)" % (plink, plink_version)) if plink
                          else "not used, -G -S -P have no peer"))
    say("- %d runs each, medians; page cache warm; each run times trevlin, its floors and"
        " its peer in turn" % a.runs)

    all_results = {}
    for size in sizes:
        for mix in mixes:
            d = make_data(gen_exe, a.data, size, mix)
            work = os.path.join(d, "out")
            os.makedirs(work, exist_ok=True)
            js, start, end = jobs(d, SIZES[size][1])
            pr = peers(d, start, end, plink)
            results = []
            for j in selected(js):
                say("bench: %s %s -%s %s" % (size, mix, j["mode"], "gzip" if j["gz"] else "plain"))
                peer = None if j["gz"] else pr.get(j["mode"])
                results.append(bench_mode(trevlin, j, work, a.runs, peer))
            # plain first, then gzip, in mode order
            order = {m: i for i, m in enumerate("SGPMO")}
            results.sort(key=lambda r: (r["job"]["gz"], order[r["job"]["mode"]]))
            report("%s %s" % (size, mix), results)
            all_results[(size, mix)] = results
    report_scaling(all_results, mixes)


if __name__ == "__main__":
    main()
