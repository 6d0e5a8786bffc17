#!/usr/bin/env python3
"""Judges one benchmark run against the performance targets.

Reads the Google Benchmark JSON files of one run (plugin_bench, devhost_bench and, when it was
built, service_bench), prints every target with its figure, floor, ratio and verdict, optionally
writes them as a Markdown page, and exits 1 when a target is missed. A target whose figures are
missing from the run counts as missed: a run that did not measure something has not shown it.

    check_targets.py [--markdown FILE] RESULT.json...
"""

import argparse
import json
import os
import platform
import sys
from dataclasses import dataclass
from typing import Callable, Optional

FRAME_144HZ_US = 1e6 / 144
UNIT_SECONDS = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}


class Run:
    """The results of one run by benchmark name, the median when repetitions were made."""

    def __init__(self, files):
        self.results = {}
        self.context = {}
        for path in files:
            with open(path) as stream:
                data = json.load(stream)
            self.context = self.context or data.get("context", {})
            for result in data.get("benchmarks", []):
                self._add(result)

    def _add(self, result):
        if result.get("error_occurred"):
            return
        kind = result.get("run_type", "iteration")
        if kind == "aggregate" and result.get("aggregate_name") != "median":
            return
        name = self._short_name(result.get("run_name", result["name"]))
        if kind == "aggregate" or name not in self.results:
            self.results[name] = result

    @staticmethod
    def _short_name(name):
        # "PlayReplay/entries:100/present:1/manual_time" -> "PlayReplay/entries:100/present:1"
        kept = [part for part in name.split("/")
                if part not in ("manual_time", "real_time")
                and not part.startswith(("iterations:", "min_time:", "repeats:"))]
        return "/".join(kept)

    def seconds(self, name):
        """Time of one iteration, in seconds; None when not measured."""
        result = self.results.get(name)
        if result is None:
            return None
        return result["real_time"] * UNIT_SECONDS[result.get("time_unit", "ns")]

    def counter(self, name, counter):
        result = self.results.get(name)
        if result is None or counter not in result:
            return None
        return result[counter]

    def paired(self, name, unit="µs"):
        """Both sides, per call, of a benchmark that timed a figure and its floor in turn."""
        scale = {"µs": 1.0, "ms": 1e-3}[unit]
        side = lambda key: None if self.counter(name, key) is None else self.counter(name, key) * scale
        return Figure(side("figure_us"), unit), Figure(side("floor_us"), unit)

    def spread(self, name):
        """The lower and upper quartile of a benchmark's turns' ratios; None when not given."""
        low, high = self.counter(name, "ratio_low"), self.counter(name, "ratio_high")
        return None if low is None or high is None else (low, high)

    def paired_target(self, group, what, name, limit, floor_name, unit="µs"):
        figure, floor = self.paired(name, unit)
        return Target(group, what, figure, floor, limit, floor_name=floor_name, ratio=self.counter(name, "ratio"),
                      spread=self.spread(name))

    def per_call_us(self, name):
        """Microseconds per call of a benchmark whose iteration is a batch of calls."""
        seconds, batch = self.seconds(name), self.counter(name, "batch")
        if seconds is None or not batch:
            return None
        return seconds / batch * 1e6


@dataclass
class Figure:
    value: Optional[float]
    unit: str

    def text(self):
        if self.value is None:
            return "not measured"
        if self.value >= 100:
            return f"{self.value:,.0f} {self.unit}"
        return f"{self.value:.3g} {self.unit}"


@dataclass
class Target:
    group: str
    what: str
    figure: Figure
    floor: Figure
    limit: float
    # "ratio": figure / floor must be at most limit; "excess": figure - floor at most limit;
    # "bound": figure itself at most limit (there is no floor).
    kind: str = "ratio"
    floor_name: str = ""
    # The benchmark's own ratio, when it timed figure and floor in turn (median of the turns), and
    # its spread (the turns' lower and upper quartile).
    ratio: Optional[float] = None
    spread: Optional[tuple] = None

    def measure(self):
        if self.kind == "bound":
            return self.figure.value
        if self.figure.value is None or self.floor.value is None or self.floor.value <= 0:
            return None
        if self.kind == "excess":
            return self.figure.value - self.floor.value
        if self.ratio is not None:
            return self.ratio
        return self.figure.value / self.floor.value

    def holds(self):
        measured = self.measure()
        return measured is not None and measured <= self.limit and not self.unsteady()

    def unsteady(self):
        """Whether the median holds while a quarter of the turns or more miss the limit: a verdict
        that depends on which turns land where is no pass."""
        measured = self.measure()
        return (self.kind == "ratio" and self.spread is not None and measured is not None
                and measured <= self.limit < self.spread[1])

    def verdict(self):
        return "unsteady" if self.unsteady() else "yes" if self.holds() else "no"

    def spread_text(self):
        return "—" if self.spread is None else f"{self.spread[0]:.2f}–{self.spread[1]:.2f}×"

    def measured_text(self):
        measured = self.measure()
        if measured is None:
            return "not measured"
        if self.kind == "ratio":
            return f"{measured:.2f}×"
        return f"{measured:+.1f} {self.figure.unit}" if self.kind == "excess" else f"{measured:.1f} {self.figure.unit}"

    def limit_text(self):
        if self.kind == "ratio":
            return f"≤ {self.limit:g}×"
        return f"≤ {'+' if self.kind == 'excess' else ''}{self.limit:g} {self.figure.unit}"


def ms(run, name):
    seconds = run.seconds(name)
    return Figure(None if seconds is None else seconds * 1e3, "ms")


def counter(run, name, key, unit):
    return Figure(run.counter(name, key), unit)


ENTRIES = (100, 1000, 10000, 100000)
MEGABYTES = (1, 10, 100)
PANEL_STATES = ("entry", "warning", "rate-limit notice", "warning and 10 repairs listed")


def play_replay_targets(run):
    play = lambda entries, present: f"PlayReplay/entries:{entries}/present:{present}"
    targets = []
    floors = {1: "a stat of the file and the host's hand-off of the same request",
              0: "a stat of the file and an access of its folder"}
    # A present file costs the plugin more of its own work: it fills the request's fields and the
    # reply's context.
    for present, word, limit in ((1, "present", 3.0), (0, "absent", 2.0)):
        targets.append(run.paired_target("1. OnPlayReplay", f"file {word}: 100,000 entries against 100 entries",
                                         f"PlayReplayFlat/present:{present}", 1.2, "the same call, 100 entries"))
        for entries in ENTRIES:
            targets.append(run.paired_target("1. OnPlayReplay", f"file {word}, {entries:,} entries",
                                             play(entries, present), limit, floors[present]))
    return targets


def repair_reply_targets(run):
    targets = []
    for size in MEGABYTES:
        targets.append(run.paired_target("2. OnRepairReply (200)", f"{size} MB reply written",
                                         f"RepairReply/MB:{size}", 1.2,
                                         "write + fsync under a temporary name, renamed into place, "
                                         "old file to the backup folder", "ms"))
    targets.append(Target("2. OnRepairReply (200)", "devhost peak memory above idle, 100 MB reply",
                          Figure(excess_mb(run, "DevhostReply100MB"), "MB"),
                          counter(run, "DevhostReply100MB", "body_MB", "MB"), 1.1,
                          floor_name="the reply body"))
    return targets


def excess_mb(run, name):
    peak, idle = run.counter(name, "peak_MB"), run.counter("DevhostIdle", "peak_MB")
    return None if peak is None or idle is None else peak - idle


def upload_targets(run):
    return [
        Target("3. Upload", "devhost peak memory, 100 MB replay",
               counter(run, "Upload100MB", "peak_MB", "MB"), counter(run, "DevhostIdle", "peak_MB", "MB"),
               16, kind="excess", floor_name="devhost peak with a 1 KB replay"),
        run.paired_target("3. Upload", "devhost: play to handled reply, 100 MB replay", "Upload100MB", 1.1,
                          "curl -F of the same file to the same service", "ms"),
    ]


def window_targets(run):
    targets = []
    for index, state in enumerate(PANEL_STATES):
        targets.append(run.paired_target("4. UI frame", f"panel: {state}", f"Frame/state:{index}", 1.2,
                                         "the same widgets drawn directly"))
    return targets


def service_targets(run):
    rate = lambda clients: Figure(run.counter("ClientScaling", f"rate_{clients}"), "req/s")
    stall = Figure(run.counter("SmallUploads/threads:16", "max_tcp_connect_ms"), "ms")
    return [
        # The faster of the two is the floor: 16 clients must keep at least 0.9 of the 4-client rate.
        Target("5. Repair service", "4 clients against 16 clients (requests/s)", rate(4), rate(16), 1 / 0.9,
               floor_name="16 clients", ratio=run.counter("ClientScaling", "ratio"), spread=run.spread("ClientScaling")),
        Target("5. Repair service", "longest TCP connect, 16 clients", stall, Figure(None, ""), 100, kind="bound",
               floor_name="none"),
        Target("5. Repair service", "peak memory above idle, one 100 MB upload",
               counter(run, "LargeUploadMemory", "peak_above_idle_MB", "MB"),
               counter(run, "LargeUploadMemory", "upload_MB", "MB"), 1.25, floor_name="the upload's size"),
    ]


def script_targets(run):
    # Wall time shows what a script's user waits; CPU time (all of devhost's threads) shows what
    # devhost itself spends, which a thread waiting busily would raise and wall time would hide.
    name = "DevhostScriptPlays"
    return [Target("6. devhost script", f"{what}, last 10,000 of 50,000 against the first 10,000",
                   counter(run, name, f"last_{key}", "µs"), counter(run, name, f"first_{key}", "µs"), 1.2,
                   floor_name="the first 10,000 plays")
            for what, key in (("wall time per play", "us_per_play"), ("CPU time per play", "cpu_us_per_play"))]


def all_targets(run):
    return (play_replay_targets(run) + repair_reply_targets(run) + upload_targets(run) + window_targets(run)
            + service_targets(run) + script_targets(run))


def context_figures(run):
    """Figures shown beside the targets: what the floors and the naive ways cost."""
    lines = []
    for entries in ENTRIES:
        listing = run.seconds(f"NaiveListing/entries:{entries}/present:0")
        plugin = run.paired(f"PlayReplay/entries:{entries}/present:0")[0].value
        if listing is not None and plugin:
            lines.append(f"Naive listing that compares every name, file absent, {entries:,} entries: "
                         f"{listing * 1e6:,.0f} µs, {listing * 1e6 / plugin:,.0f}× the plugin's lookup.")
    for size in MEGABYTES:
        plain, flushed = run.seconds(f"PlainWrite/MB:{size}"), run.paired(f"RepairReply/MB:{size}", "ms")[1].value
        if plain is not None and flushed is not None:
            lines.append(f"{size} MB: plain write without flush {plain * 1e3:.1f} ms, write + fsync and the two "
                         f"renames {flushed:.1f} ms.")
    empty = run.per_call_us("EmptyFrame")
    for index, state in enumerate(PANEL_STATES):
        frame = run.paired(f"Frame/state:{index}")[0].value
        if frame is not None and empty is not None:
            lines.append(f"UI frame with the panel ({state}): {frame:.1f} µs, "
                         f"{frame / FRAME_144HZ_US:.2%} of a 144 Hz frame ({FRAME_144HZ_US:,.0f} µs); the window "
                         f"adds {frame - empty:.1f} µs ({(frame - empty) / FRAME_144HZ_US:.2%}) to an empty host "
                         f"frame of {empty:.1f} µs.")
    rates = [run.counter(f"SmallUploads/threads:{clients}", "requests_per_s") for clients in (1, 4, 16)]
    if None not in rates:
        ready = run.counter("SmallUploads/threads:16", "max_connection_ready_ms")
        lines.append(f"Repair service, small uploads: {rates[0]:,.0f} / {rates[1]:,.0f} / {rates[2]:,.0f} "
                     f"requests/s with 1 / 4 / 16 clients; with 16, the longest wait for a usable (TLS) "
                     f"connection was {ready:.0f} ms.")
    cpu = {key: run.counter("ClientScaling", key) for key in
           ("service_cpu_us_4", "service_cpu_us_16", "client_cpu_us_4", "client_cpu_us_16", "busy_4", "busy_16")}
    if None not in cpu.values():
        lines.append(f"Repair service, 4 against 16 clients: CPU per request {cpu['service_cpu_us_4']:.0f} µs in the "
                     f"service and {cpu['client_cpu_us_4']:.0f} µs in the clients with 4, "
                     f"{cpu['service_cpu_us_16']:.0f} µs and {cpu['client_cpu_us_16']:.0f} µs with 16; the two kept "
                     f"{cpu['busy_4']:.0%} and {cpu['busy_16']:.0%} of the machine's CPUs busy.")
    after = run.counter("LargeUploadMemory", "after_above_idle_MB")
    if after is not None:
        lines.append(f"Repair service memory 200 ms after the 100 MB upload: {after:.1f} MB above idle.")
    idle = run.counter("DevhostIdle", "peak_MB")
    if idle is not None:
        lines.append(f"devhost peak memory with a 1 KB replay and a 1 KB reply (the idle floor): {idle:.1f} MB.")
    return lines


HOW_MEASURED = """
- **Spread.** Where a figure and its floor take turns, the ratio judged is the median of the turns' own
  ratios, and the spread beside it is their lower and upper quartile. A median within its limit whose
  upper quartile is past it is reported as **unsteady**, not as a pass: a quarter of the turns or more
  missed, so the verdict depends on which turns land where.
- **1.** `plugin_bench` links the plugin in and loads it into the stand-in host, as the pipeline tests do.
  Batches of 200 `OnPlayReplay` calls run inside one game event on the host's game thread, taking turns
  with batches of 200 floors (or with the same calls in the 100-entry folder). The floor is what a call
  must have done outside the plugin's own code: a `stat` of the file, then, when it is absent, an
  `access` of the folder (which tells a missing file from a missing folder), or, when it is present,
  the host's hand-off of the same upload request. The limits let the plugin's own work (identifier,
  date, names) cost at most as much again, and twice as much when it also fills the request. (Against one `stat` alone the figure
  measured how cheap a system call is on the machine: this machine's `stat` went from 1.5 µs to 0.44 µs
  between two runs of unchanged code.) The requests each batch sends go to a transport that holds
  them until the batch is timed.
  The ratio is the median of the turns' own ratios.
  The naive listing walks the folder with `std::filesystem::directory_iterator` and compares every name.
- **2.** `OnRepairReply` with status 200 takes turns with the least a crash-safe replacement must do
  with the same bytes in the same folders (under the build tree, a real disk): `open` + `write` +
  `fsync` + `close` under a temporary name, a rename into place, and a rename of an old file into the
  backup folder. The floor was the write and flush alone; `strace -T` of the reply showed its other
  calls (the folder lock, the temporary file's name, three renames) costing a median 0.45 ms a
  turn, with an occasional 7–10 ms when a rename or unlink waited on the journal the flush had just
  committed: work the reply must do that the floor left out, 7% of a 10 MB floor of 6 ms. The flush
  itself varied from 18 to 270 ms a turn on a busy disk, hence 40 turns at 10 MB; at 1 MB a turn
  is five replies (and five floors), so that one slow journal commit does not decide it. Each reply
  and each floor starts after a `sync` of its set-up, so neither flush commits the other's leftovers. devhost's peak memory is the peak
  resident size of the whole devhost process (`wait4`), playing a 1 KB replay against a stand-in
  service whose repair command answers with 100 MB, less the peak of the same run answered with 1 KB.
- **3.** devhost plays a 100 MB replay against a service that answers with 1 KB; the time runs from
  the script line before the play to the line after `settle` (the reply handled), and takes turns with
  `curl -F file=@...` (a whole process run) sending the same file to the same service, nine turns per
  repetition. The replay's copy is synced to disk before devhost starts.
- **4.** Host UI frames (new frame, windows, render) in batches of 100: with the plugin's window
  open, taking turns with frames where the window is closed and the benchmark draws the same widgets
  with Dear ImGui in the same host frame. They run in a `plugin_bench` process of their own: the
  panel's states without the repairs list need a plugin that has sent no upload yet.
- **5.** `service_bench`: 1, 4 and 16 concurrent clients (threads of libcurl) sending 4 KB uploads for
  3 s each and the longest TCP connect among them; then 4 against 16 clients in 36 turns of four
  rounds of 0.6 s (4, 16, 16, 4 clients), the ratio being the median of the turns' own ratios, with the
  CPU time each request cost in the service (its `/proc` stat) and in the clients (`getrusage`); and
  the service's peak memory (VmHWM) for one 100 MB upload above its resident size before it. Service
  and clients share the machine and keep its cores busy, so the rate is bound by CPU: the ratio
  is what a request costs with 16 connections against 4, and rises when other processes take CPU.
- **6.** One devhost process runs a script of 50,000 plays (each a new replay of the host's, file
  absent) with a marker line after every 1,000; the first 10,000 plays are the floor of the last
  10,000, each figure the median of its ten chunks' cost per play. Wall time runs from marker to
  marker as the benchmark reads them; CPU time is devhost's user plus system time over the same
  chunk, all threads together, read from the kernel's per-process CPU clock at each marker.

Wherever a figure takes turns with its floor, the two alternate which goes first.
"""


def machine():
    model = "unknown CPU"
    try:
        with open("/proc/cpuinfo") as stream:
            for line in stream:
                if line.startswith("model name"):
                    model = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    return model, os.cpu_count(), f"{platform.system()} {platform.release()}"


def markdown(run, targets):
    model, cores, kernel = machine()
    date = run.context.get("date", "unknown date")
    missed = sum(not target.holds() for target in targets)
    out = ["# Performance", "",
           "Generated by `bash scripts/bench.sh` from one run of the benchmarks in `bench/` (Release build, "
           "bench preset). Every figure is set against a floor measured in the same run, so the ratios hold on "
           "a noisy shared machine where the absolute times do not. Times are medians of the repetitions.", "",
           f"Machine: {model}, {cores} cores, {kernel}; run of {date}.", "",
           f"Verdict: {'every target holds' if missed == 0 else f'{missed} of {len(targets)} targets missed'}.", "",
           "| Target | What | Figure | Floor | Ratio | Spread of the turns | Limit | Holds |",
           "|---|---|---|---|---|---|---|---|"]
    for target in targets:
        floor = "—" if target.kind == "bound" else f"{target.floor.text()} ({target.floor_name})"
        verdict = target.verdict()
        out.append(f"| {target.group} | {target.what} | {target.figure.text()} | {floor} | "
                   f"{target.measured_text()} | {target.spread_text()} | {target.limit_text()} | "
                   f"{verdict if verdict == 'yes' else f'**{verdict}**'} |")
    out += ["", "## Beside the targets", ""]
    out += [f"- {line}" for line in context_figures(run)]
    out += ["", "## How the figures are taken", "", HOW_MEASURED.strip(), "",
            "A target whose figures are missing from the run (\"not measured\") counts as missed.", ""]
    return "\n".join(out)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--markdown", help="write the results as a Markdown page to this file")
    parser.add_argument("results", nargs="+", help="Google Benchmark JSON files of one run")
    arguments = parser.parse_args()

    run = Run(arguments.results)
    targets = all_targets(run)
    for target in targets:
        verdict = {"yes": "ok  ", "no": "MISS", "unsteady": "UNSTEADY"}[target.verdict()]
        spread = f", turns {target.spread_text()}" if target.spread else ""
        print(f"{verdict} {target.group}: {target.what}: {target.figure.text()} against {target.floor.text()} "
              f"-> {target.measured_text()}{spread} (limit {target.limit_text()})")
    if arguments.markdown:
        with open(arguments.markdown, "w") as stream:
            stream.write(markdown(run, targets))
    missed = sum(not target.holds() for target in targets)
    print(f"check_targets: {len(targets) - missed} of {len(targets)} targets hold")
    return 1 if missed else 0


if __name__ == "__main__":
    sys.exit(main())
