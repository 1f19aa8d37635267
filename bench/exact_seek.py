#!/usr/bin/python3
"""Measures an exact seek in a large capture: `zvhost run MODE --input
CAPTURE --from N --to N`, which shows batch N with every display as a whole
run leaves it there (goal: under a second in a capture of 10 GB).

The capture is recorded once with the Capture page (the mode's results of
a simulated station, as long as the size asks) in the temporary folder and
kept there for later runs. Timed, each a whole zvhost process:
 - the first replay, which indexes the capture when it has no index yet
   (once per capture; --reindex makes it again);
 - seeks to batches spread over the capture, the last one included, each
   checked against what the whole run left (the Statistics of Detection,
   the Encoder table of Free) where --baseline runs it;
 - with --baseline, in the same run: the whole replay up to the last batch,
   and the ratio of the slowest seek to it.

  bench/exact_seek.py --zvhost build/host/zvhost [--mode Detection] [--gb 1] [--seeks 8] [--baseline]

Prints one line per measurement and a JSON summary at the end."""

import argparse
import json
import os
import subprocess
import sys
import tempfile
import time

TABLE = {"Detection": "Statistics", "Free": "Encoder"}


def run(command, **kwargs):
    started = time.monotonic()
    done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, **kwargs)
    if done.returncode != 0:
        sys.exit("failed: %s\n%s" % (" ".join(command), done.stderr[-2000:]))
    return time.monotonic() - started, done.stdout


def folder_bytes(folder):
    return sum(os.path.getsize(os.path.join(folder, f)) for f in os.listdir(folder))


def record(zvhost, files, mode, seconds):
    """A capture of `seconds` of simulated time of `mode`; its folder."""
    capture_root = os.path.join(files, "Capture")
    before = set(os.listdir(capture_root)) if os.path.isdir(capture_root) else set()
    script = "select 1031 %s\nplay %g\n" % (mode, seconds)
    subprocess.run([zvhost, "page", "--files", files, "--node", "Capture", "--page", "Capture", "--script", "-"],
                   input=script, text=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, check=True)
    made = sorted(set(os.listdir(capture_root)) - before)
    if len(made) != 1:
        sys.exit("the Capture page made %d captures" % len(made))
    return os.path.join(capture_root, made[0])


def prepare(zvhost, mode, gigabytes):
    """The station's file space and the capture, made when not there yet."""
    files = os.path.join(tempfile.gettempdir(), "zv-exact-seek-%s-%gg" % (mode, gigabytes))
    done = os.path.join(files, "complete")
    if os.path.exists(done):
        with open(done) as f:
            return files, f.read().strip()
    os.makedirs(files, exist_ok=True)
    run([zvhost, "demo", "--files", files, "--seconds", "0.1", "--out", os.path.join(files, "demo")])
    sample = record(zvhost, files, mode, 20)
    rate = folder_bytes(sample) / 20
    seconds = gigabytes * (1 << 30) / rate
    print("recording %.0f s of %s (%.1f MB a simulated second) for %g GB ..." % (seconds, mode, rate / 1e6, gigabytes),
          flush=True)
    started = time.monotonic()
    capture = record(zvhost, files, mode, seconds)
    print("recorded %.2f GB in %.0f s" % (folder_bytes(capture) / (1 << 30), time.monotonic() - started), flush=True)
    with open(done, "w") as f:
        f.write(capture + "\n")
    return files, capture


def table(output, mode):
    summary = [json.loads(line) for line in output.splitlines() if '"event":"summary"' in line][-1]
    return summary.get("tables", {}).get(TABLE.get(mode, ""), None), summary["batches"]


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--zvhost", required=True)
    parser.add_argument("--mode", default="Detection", choices=["Detection", "Free"])
    parser.add_argument("--gb", type=float, default=1.0, help="the capture's size in GB")
    parser.add_argument("--seeks", type=int, default=8)
    parser.add_argument("--baseline", action="store_true", help="also the whole replay up to the last batch")
    parser.add_argument("--reindex", action="store_true", help="make the capture's index again (timed)")
    args = parser.parse_args()

    files, capture = prepare(args.zvhost, args.mode, args.gb)
    base = [args.zvhost, "run", args.mode, "--files", files, "--input", capture, "--json"]
    index = os.path.join(capture, "replay.index")
    if args.reindex and os.path.exists(index):
        os.remove(index)
    indexed = not os.path.exists(index)
    first, _ = run(base + ["--from", "0", "--to", "0"])
    # The batch count: the refusal of a batch beyond the end names it.
    probe = subprocess.run(base + ["--from", "999999999999"], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    count = None
    for word in probe.stderr.split("holds ")[1:]:
        count = int(word.split()[0])
    if count is None:
        sys.exit("cannot learn the batch count: " + probe.stderr)
    size = folder_bytes(capture) / (1 << 30)
    print("capture: %s, %.2f GB, %d batches; the first replay%s: %.1f s"
          % (capture, size, count, " (indexing)" if indexed else ", with the index kept", first))

    targets = sorted({count - 1} | {count * (i + 1) // (args.seeks + 1) for i in range(args.seeks - 1)})
    seeks = []
    for n in targets:
        seconds, out = run(base + ["--from", str(n), "--to", str(n)])
        seeks.append({"batch": n, "seconds": seconds, "table": table(out, args.mode)[0]})
        print("seek to batch %d: %.3f s" % (n, seconds), flush=True)
    result = {"mode": args.mode, "gigabytes": size, "batches": count, "firstReplaySeconds": first, "indexed": indexed,
              "seekSeconds": [s["seconds"] for s in seeks], "slowestSeekSeconds": max(s["seconds"] for s in seeks)}
    if args.baseline:
        seconds, out = run(base + ["--to", str(count - 1)])
        whole, _ = table(out, args.mode)
        exact = whole == seeks[-1]["table"]
        print("whole replay to batch %d: %.1f s; the seek shows the same: %s" % (count - 1, seconds, exact))
        result.update({"wholeSeconds": seconds, "ratio": result["slowestSeekSeconds"] / seconds, "exact": exact})
    ok = result["slowestSeekSeconds"] < 1.0 and result.get("exact", True)
    print(json.dumps(result))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
