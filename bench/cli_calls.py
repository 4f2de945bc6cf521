#!/usr/bin/env python3
"""Times single facetta-cli calls: wall time, CPU time (user + system) and peak memory.

Several builds are run in turn, call by call, so that a busy machine slows them alike;
medians of --runs calls each.

  bench/cli_calls.py [--runs N] [--threads N] BUILD_DIR... -- CLI ARGUMENTS (without -o)

Each call writes to a fresh file in a temporary folder whose extension --ext gives."""
import argparse, os, statistics, subprocess, sys, tempfile, time


def one_call(cli, args, out, env):
    start = time.perf_counter()
    proc = subprocess.Popen([cli, *args, "-o", out], stdout=subprocess.DEVNULL, env=env)
    _, status, usage = os.wait4(proc.pid, 0)
    wall = time.perf_counter() - start
    if status != 0:
        sys.exit(f"{cli} failed with status {status}")
    return wall, usage.ru_utime + usage.ru_stime, usage.ru_maxrss / 1024


def main():
    argv = sys.argv[1:]
    if "--" not in argv:
        sys.exit(__doc__)
    cut = argv.index("--")
    p = argparse.ArgumentParser()
    p.add_argument("--runs", type=int, default=15)
    p.add_argument("--ext", default="png")
    p.add_argument("--threads", default=None, help="FACETTA_THREADS for the calls")
    p.add_argument("builds", nargs="+")
    o = p.parse_args(argv[:cut])
    args = argv[cut + 1:]
    env = dict(os.environ)
    if o.threads:
        env["FACETTA_THREADS"] = o.threads
    results = {b: [] for b in o.builds}
    with tempfile.TemporaryDirectory() as tmp:
        for i in range(o.runs):
            for b in o.builds:
                out = os.path.join(tmp, f"{i}.{o.ext}")
                results[b].append(one_call(os.path.join(b, "cli", "facetta-cli"), args, out, env))
                os.remove(out)
    print(f"{' '.join(args)} -> .{o.ext}, medians of {o.runs} calls")
    print(f"{'build':40} {'wall ms':>9} {'CPU ms':>9} {'peak MB':>9}")
    for b, r in results.items():
        wall, cpu, rss = (statistics.median(x[k] for x in r) for k in range(3))
        print(f"{b:40} {wall * 1000:9.1f} {cpu * 1000:9.1f} {rss:9.1f}")


if __name__ == "__main__":
    main()
