#!/usr/bin/env python3
"""The target checker on made-up runs: a run that meets every target passes, one figure over its
limit, a verdict its turns do not agree on, or one benchmark missing from the run fails it, and
the page says which row missed."""

import json
import os
import subprocess
import sys
import tempfile
import unittest

CHECKER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "check_targets.py")


def result(name, real_time=1.0, unit="us", **counters):
    return {"name": name + "_median", "run_name": name, "run_type": "aggregate", "aggregate_name": "median",
            "real_time": real_time, "time_unit": unit, **counters}


def paired(name, figure_us, floor_us):
    return result(name, figure_us, figure_us=figure_us, floor_us=floor_us, ratio=figure_us / floor_us)


def passing_run():
    """One file per benchmark program, every figure comfortably inside its target."""
    plugin = []
    for present in (1, 0):
        for entries in (100, 1000, 10000, 100000):
            plugin.append(paired(f"PlayReplay/entries:{entries}/present:{present}/manual_time", 2.0, 1.0))
            plugin.append(result(f"NaiveListing/entries:{entries}/present:{present}/manual_time", entries / 10))
        plugin.append(paired(f"PlayReplayFlat/present:{present}/manual_time", 2.1, 2.0))
    for size in (1, 10, 100):
        plugin.append(paired(f"RepairReply/MB:{size}/iterations:4/manual_time", 1000.0 * size, 1000.0 * size))
        plugin.append(result(f"PlainWrite/MB:{size}/iterations:4/manual_time", 0.5 * size, "ms"))
    plugin.append(result("EmptyFrame/manual_time", 300.0, batch=100))
    for state in range(4):
        plugin.append(paired(f"Frame/state:{state}/manual_time", 8.0, 8.0))
    devhost = [
        result("DevhostIdle/iterations:1/manual_time", 40, "ms", peak_MB=17.0),
        paired("Upload100MB/iterations:1/manual_time", 1.6e6, 1.6e6) | {"peak_MB": 18.0},
        result("DevhostReply100MB/iterations:1/manual_time", 1800, "ms", peak_MB=117.0, body_MB=100.0),
        result("DevhostScriptPlays/iterations:1/manual_time", 900, "ms", first_us_per_play=50.0,
               last_us_per_play=51.0, first_cpu_us_per_play=20.0, last_cpu_us_per_play=20.5),
    ]
    service = [
        result("SmallUploads/min_time:3.000/real_time/threads:1", requests_per_s=400.0),
        result("SmallUploads/min_time:3.000/real_time/threads:4", requests_per_s=900.0),
        result("SmallUploads/min_time:3.000/real_time/threads:16", requests_per_s=880.0, max_tcp_connect_ms=12.0,
               max_connection_ready_ms=40.0),
        result("ClientScaling/iterations:10/manual_time", 1000, "ms", rate_4=900.0, rate_16=880.0, ratio=1.02),
        result("LargeUploadMemory/iterations:1/real_time", peak_above_idle_MB=110.0, upload_MB=100.0,
               after_above_idle_MB=1.0),
    ]
    return {"plugin_bench": plugin, "devhost_bench": devhost, "service_bench": service}


class CheckTargetsTest(unittest.TestCase):
    def check(self, run):
        with tempfile.TemporaryDirectory() as folder:
            files = []
            for program, benchmarks in run.items():
                files.append(os.path.join(folder, program + ".json"))
                with open(files[-1], "w") as stream:
                    json.dump({"context": {"date": "2026-01-01T00:00:00"}, "benchmarks": benchmarks}, stream)
            page = os.path.join(folder, "performance.md")
            done = subprocess.run([sys.executable, CHECKER, "--markdown", page, *files], capture_output=True,
                                  text=True)
            with open(page) as stream:
                return done.returncode, stream.read()

    def test_a_run_within_every_target_passes(self):
        status, page = self.check(passing_run())
        self.assertEqual(status, 0)
        self.assertIn("Verdict: every target holds", page)
        self.assertNotIn("**no**", page)

    def test_each_kind_of_miss_fails_the_run_on_its_own_row(self):
        misses = {
            "ratio over its limit": ("devhost_bench", "DevhostScriptPlays", "last_us_per_play", 61.0,
                                     "wall time per play"),
            "CPU ratio over its limit": ("devhost_bench", "DevhostScriptPlays", "last_cpu_us_per_play", 25.0,
                                         "CPU time per play"),
            "memory over its allowance": ("devhost_bench", "Upload100MB", "peak_MB", 33.5, "peak memory, 100 MB"),
            "turns' own ratio over its limit": ("plugin_bench", "Frame/state:2", "ratio", 1.3, "rate-limit notice"),
            "a figure with no floor over its bound": ("service_bench", "SmallUploads/min_time:3.000/real_time/threads:16",
                                                      "max_tcp_connect_ms", 150.0, "longest TCP connect"),
        }
        for kind, (program, benchmark, key, value, row) in misses.items():
            with self.subTest(kind):
                run = passing_run()
                for entry in run[program]:
                    if entry["run_name"].startswith(benchmark + "/") or entry["run_name"] == benchmark:
                        entry[key] = value
                status, page = self.check(run)
                self.assertEqual(status, 1)
                missed = [line for line in page.splitlines() if "**no**" in line]
                self.assertEqual(len(missed), 1, missed)
                self.assertIn(row, missed[0])

    def test_a_median_within_its_limit_is_no_pass_while_a_quarter_of_the_turns_miss_it(self):
        for high, status in ((1.15, 0), (1.3, 1)):
            with self.subTest(high=high):
                run = passing_run()
                for entry in run["plugin_bench"]:
                    if entry["run_name"].startswith("RepairReply/MB:10/"):
                        entry.update(ratio=1.1, ratio_low=1.0, ratio_high=high)
                code, page = self.check(run)
                self.assertEqual(code, status)
                row = next(line for line in page.splitlines() if "10 MB reply written" in line)
                self.assertIn(f"1.00–{high:.2f}×", row)
                self.assertEqual("**unsteady**" in row, status == 1, row)

    def test_a_program_missing_from_the_run_counts_as_missed(self):
        run = passing_run()
        del run["service_bench"]
        status, page = self.check(run)
        self.assertEqual(status, 1)
        self.assertIn("3 of 25 targets missed", page)
        missed = [line for line in page.splitlines() if "**no**" in line]
        self.assertEqual(len(missed), 3)
        for line in missed:
            self.assertIn("Repair service", line)
            self.assertIn("not measured", line)


if __name__ == "__main__":
    unittest.main()
