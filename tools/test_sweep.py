#!/usr/bin/env python3
"""Tests of tools/sweep: report parsing, failure detection, statistics, CSV round trip, progress
and plots, and a whole sweep against a stand-in varnel-bench.

Standard library only: `python3 tools/test_sweep.py`. With VARNEL_BENCH set to a built
varnel-bench, one more test sweeps problem 1 with the real driver."""

import contextlib
import csv
import io
import math
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import textwrap
import types
import unittest
from pathlib import Path

SWEEP_PATH = Path(__file__).resolve().parent / "sweep"


def load_sweep():
    # tools/sweep has no .py suffix, so it is executed into a fresh module by hand.
    module = types.ModuleType("sweep")
    module.__file__ = str(SWEEP_PATH)
    sys.modules["sweep"] = module
    exec(compile(SWEEP_PATH.read_text(), str(SWEEP_PATH), "exec"), module.__dict__)
    return module


sweep = load_sweep()

SEPARATOR = "-" * 46


def cpp_double(value):
    """A double as a C++ stream prints it by default (six significant digits), as glibc does."""
    if math.isnan(value):
        return "-nan" if math.copysign(1, value) < 0 else "nan"
    return "%g" % value


def report_lines(pb, threads, mem, main_time, elapsed, thread_times, table=None,
                 ratio_text=None, power_text=None, mean=None):
    """The standard output of one varnel-bench run, line by line, in the driver's formats.

    mean, ratio_text and power_text default to what the driver computes from the times."""
    arity, tuples, upper = table or (10, 500, 10)
    lines = [f"run with pb={pb} numThreads={threads} mem={mem} arity={arity} "
             f"numTuples={tuples} upper={upper}", SEPARATOR, f"#threads {threads}"]
    if pb == 1:
        lines += [f"physical Memory: 25769803776 memThread: "
                  f"{(25769803776 - 1000000000) // (threads + 1) if mem > 0 else 0}",
                  "Creation d'une table ayant:", f"\t{arity} variables",
                  f"\t{upper} valeur par domaine", f"\t{tuples} tuples", "Table creee",
                  "Memory Consumption: 262144 bytes"]
    n = len(thread_times)
    if mean is None:
        mean = sum(thread_times) // n
    if ratio_text is None:
        ratio_text = cpp_double(sweep.quotient(mean, main_time))
    if power_text is None:
        power_text = cpp_double(sweep.quotient(n * main_time, mean))
    lines += [f"splitMem: {1 if mem > 0 else 0}", f"main time: {main_time}",
              f"elapsed time: {elapsed}"]
    lines += [f"thread {k} time: {t}" for k, t in enumerate(thread_times)]
    lines += [f"thread moyenne: {mean}", f"ratio {ratio_text}", f"power: {power_text}",
              SEPARATOR]
    return lines


def text(lines):
    return "\n".join(lines) + "\n"


class ParseCompleteReports(unittest.TestCase):
    def test_problem_zero_with_two_threads(self):
        config = sweep.Config(0, 2, 0)
        out = text(report_lines(0, 2, 0, 1800, 2100, [2000, 2010]))
        run = sweep.parse_run(config, out, "", 0)
        self.assertEqual(run.status, "ok", f"a complete report was refused: {run.message}")
        self.assertEqual(run.main_time, 1800, "main time was not read")
        self.assertEqual(run.elapsed, 2100, "elapsed time was not read")
        self.assertEqual(run.thread_times, [2000, 2010], "thread times were not read in order")
        self.assertEqual(run.mean, 2005, "thread moyenne was not read")
        self.assertAlmostEqual(run.ratio, 2005 / 1800, places=5, msg="ratio was not read")
        self.assertAlmostEqual(run.power, 2 * 1800 / 2005, places=5, msg="power was not read")
        self.assertIsNone(run.physical_memory, "problem 0 has no physical memory line")

    def test_problem_one_verbatim_with_three_threads(self):
        # As the driver prints it, table lines with their tabs and French labels included.
        out = textwrap.dedent("""\
            run with pb=1 numThreads=3 mem=1 arity=10 numTuples=1000000 upper=10
            ----------------------------------------------
            #threads 3
            physical Memory: 25769803776 memThread: 6192450944
            Creation d'une table ayant:
            \t10 variables
            \t10 valeur par domaine
            \t1000000 tuples
            Table creee
            Memory Consumption: 80123904 bytes
            splitMem: 1
            main time: 412
            elapsed time: 530
            thread 0 time: 498
            thread 1 time: 505
            thread 2 time: 511
            thread moyenne: 504
            ratio 1.2233
            power: 2.45238
            ----------------------------------------------
            """)
        config = sweep.Config(1, 3, 1, 10, 1000000, 10)
        run = sweep.parse_run(config, out, "", 0)
        self.assertEqual(run.status, "ok", f"a complete problem-1 report was refused: "
                                           f"{run.message}")
        self.assertEqual(run.thread_times, [498, 505, 511], "three thread lines expected")
        self.assertEqual(run.physical_memory, 25769803776, "physical Memory was misread")
        self.assertEqual(run.mem_thread, 6192450944, "memThread was misread")
        self.assertEqual(run.memory_consumption, 80123904, "Memory Consumption was misread")
        self.assertEqual(run.ratio, 1.2233, "ratio was misread")
        self.assertEqual(run.power, 2.45238, "power was misread")

    def test_windows_line_endings(self):
        config = sweep.Config(0, 1, 0)
        out = "\r\n".join(report_lines(0, 1, 0, 400, 520, [500])) + "\r\n"
        run = sweep.parse_run(config, out, "", 0)
        self.assertEqual(run.status, "ok", f"CRLF output was refused: {run.message}")
        self.assertEqual(run.power, 0.8, "power of a CRLF report was misread")


class ParseNonFiniteValues(unittest.TestCase):
    def test_zero_main_time_gives_infinite_ratio(self):
        config = sweep.Config(0, 2, 0)
        out = text(report_lines(0, 2, 0, 0, 3, [2, 3]))
        self.assertIn("ratio inf", out, "the constructed report should print ratio inf")
        run = sweep.parse_run(config, out, "", 0)
        self.assertEqual(run.status, "ok", f"a report with ratio inf was refused: {run.message}")
        self.assertTrue(math.isinf(run.ratio) and run.ratio > 0, f"ratio {run.ratio} is not +inf")
        self.assertEqual(run.power, 0.0, "power 0 was misread")

    def test_zero_times_give_minus_nan(self):
        config = sweep.Config(1, 2, 0, 10, 500, 10)
        out = text(report_lines(1, 2, 0, 0, 0, [0, 0], ratio_text="-nan", power_text="-nan"))
        run = sweep.parse_run(config, out, "", 0)
        self.assertEqual(run.status, "ok", f"a report with -nan was refused: {run.message}")
        self.assertTrue(math.isnan(run.ratio), f"ratio -nan read as {run.ratio}")
        self.assertTrue(math.isnan(run.power), f"power -nan read as {run.power}")

    def test_legacy_windows_spellings(self):
        self.assertEqual(sweep.parse_double("1.#INF"), math.inf, "1.#INF is +inf")
        self.assertEqual(sweep.parse_double("-1.#INF"), -math.inf, "-1.#INF is -inf")
        self.assertTrue(math.isnan(sweep.parse_double("-1.#IND")), "-1.#IND is NaN")
        with self.assertRaises(ValueError, msg="text that is no number must be refused"):
            sweep.parse_double("fast")


class DetectFailedRuns(unittest.TestCase):
    def test_out_of_memory_exit(self):
        config = sweep.Config(1, 4, 1, 10, 1000000, 10)
        out = text(report_lines(1, 4, 1, 1, 1, [1, 1, 1, 1], table=(10, 1000000, 10))[:4])
        err = "Error: no more memory: 4953962752 is exceeded\n"
        run = sweep.parse_run(config, out, err, 1)
        self.assertEqual(run.status, "out-of-memory", f"status {run.status!r} for an OOM exit")
        self.assertEqual(run.exit_code, 1, "the exit code was not kept")
        self.assertIn("4953962752 is exceeded", run.message, "the error line was not kept")
        self.assertIsNone(run.main_time, "a run cut short has no main time")
        self.assertEqual(run.physical_memory, 25769803776,
                         "lines printed before the failure should still be read")
        self.assertFalse(run.ok, "an out-of-memory run must not count as ok")

    def test_heap_refusal_messages_are_out_of_memory_too(self):
        for message in ("Error: no more memory: 65536 resquested",
                        "Error: no more memory: 16 requested"):
            run = sweep.parse_run(sweep.Config(0, 1, 0), "#threads 1\n", message + "\n", 1)
            self.assertEqual(run.status, "out-of-memory", f"{message!r} gave {run.status!r}")

    def test_problem_not_available(self):
        err = "varnel-bench: problem 1 is not available in this build\n"
        run = sweep.parse_run(sweep.Config(1, 1, 0, 10, 500, 10), SEPARATOR + "\n", err, 2)
        self.assertEqual(run.status, "not-available", f"status {run.status!r}")
        self.assertEqual(run.message, err.strip(), "the driver's message was not kept")

    def test_other_exit_codes_and_signals(self):
        run = sweep.parse_run(sweep.Config(0, 1, 0), "", "", 3)
        self.assertEqual(run.status, "exit 3", f"status {run.status!r} for exit code 3")
        self.assertTrue(run.message, "a silent failure still needs a message")
        run = sweep.parse_run(sweep.Config(0, 1, 0), "#threads 1\n", "", -11)
        self.assertEqual(run.status, "signal 11", f"status {run.status!r} for SIGSEGV")

    def test_report_with_missing_lines_is_incomplete(self):
        lines = report_lines(0, 2, 0, 100, 120, [110, 112])
        out = text([line for line in lines if not line.startswith("power: ")])
        run = sweep.parse_run(sweep.Config(0, 2, 0), out, "", 0)
        self.assertEqual(run.status, "incomplete", f"a report without power gave {run.status!r}")
        self.assertIn("power", run.message, "the message should name the missing line")

    def test_problem_one_without_memory_lines_is_incomplete(self):
        lines = report_lines(1, 1, 0, 100, 120, [110])
        out = text([line for line in lines if not line.startswith("Memory Consumption")])
        run = sweep.parse_run(sweep.Config(1, 1, 0, 10, 500, 10), out, "", 0)
        self.assertEqual(run.status, "incomplete", f"status {run.status!r}")
        self.assertIn("Memory Consumption", run.message, "missing line not named")

    def test_thread_lines_that_do_not_match_the_request(self):
        out = text(report_lines(0, 2, 0, 100, 120, [110, 112]))
        run = sweep.parse_run(sweep.Config(0, 3, 0), out, "", 0)
        self.assertEqual(run.status, "malformed", "2 thread lines for 3 threads went unnoticed")
        lines = report_lines(0, 2, 0, 100, 120, [110, 112])
        lines = [line.replace("thread 1 time", "thread 2 time") for line in lines]
        run = sweep.parse_run(sweep.Config(0, 2, 0), text(lines), "", 0)
        self.assertEqual(run.status, "malformed", "a skipped thread index went unnoticed")

    def test_split_memory_flag_must_match(self):
        out = text(report_lines(0, 1, 0, 100, 120, [110]))
        run = sweep.parse_run(sweep.Config(0, 1, 1), out, "", 0)
        self.assertEqual(run.status, "malformed", "splitMem 0 for mem 1 went unnoticed")

    def test_report_arithmetic_is_checked(self):
        out = text(report_lines(0, 3, 0, 100, 120, [10, 10, 11], mean=11))
        run = sweep.parse_run(sweep.Config(0, 3, 0), out, "", 0)
        self.assertEqual(run.status, "malformed", "a mean rounded up (31 / 3 -> 11) went "
                                                  "unnoticed")
        out = text(report_lines(0, 1, 0, 400, 520, [500], ratio_text="1.3"))
        run = sweep.parse_run(sweep.Config(0, 1, 0), out, "", 0)
        self.assertEqual(run.status, "malformed", "a wrong ratio went unnoticed")
        out = text(report_lines(0, 2, 0, 400, 520, [500, 500], power_text="0.8"))
        run = sweep.parse_run(sweep.Config(0, 2, 0), out, "", 0)
        self.assertEqual(run.status, "malformed", "a power without the thread factor went "
                                                  "unnoticed")


class Statistics(unittest.TestCase):
    def test_median_min_max_against_the_standard_library(self):
        for values in ([5], [3, 1, 2], [4, 1, 3, 2], [10, 10, 11, 9, 250], [0.5, 2.25]):
            median, low, high = sweep.describe(values)
            self.assertEqual(median, statistics.median(values), f"median of {values}")
            self.assertEqual(low, min(values), f"min of {values}")
            self.assertEqual(high, max(values), f"max of {values}")

    def test_nan_is_left_out_and_inf_is_kept(self):
        median, low, high = sweep.describe([1.0, math.nan, 3.0, math.inf])
        self.assertEqual((median, low, high), (3.0, 1.0, math.inf),
                         "NaN must be dropped, inf ordered as the largest value")
        self.assertIsNone(sweep.describe([math.nan, None]), "nothing left must give None")
        self.assertIsNone(sweep.describe([]), "no values must give None")

    def test_summary_uses_successful_runs_and_counts_failures(self):
        config = sweep.Config(0, 2, 1)
        mains = [100, 140, 120]
        runs = [sweep.parse_run(config, text(report_lines(0, 2, 1, m, m + 30, [m + 5, m + 9])),
                                "", 0, rep) for rep, m in enumerate(mains)]
        runs.append(sweep.parse_run(config, "#threads 2\n",
                                    "Error: no more memory: 8 is exceeded\n", 1, 3))
        other = sweep.Config(0, 1, 1)
        runs.append(sweep.parse_run(other, text(report_lines(0, 1, 1, 90, 95, [91])), "", 0))
        summaries = sweep.summarise(runs)
        self.assertEqual([s.config for s in summaries], [config, other],
                         "one summary per configuration, in first-seen order")
        first = summaries[0]
        self.assertEqual((first.runs, first.ok), (4, 3), "runs and successes miscounted")
        self.assertEqual(first.failures, {"out-of-memory": 1}, "the failure was not counted")
        self.assertEqual(first.stats["main_time"], (statistics.median(mains), min(mains),
                                                    max(mains)), "main time statistics")
        means = [(m + 5 + m + 9) // 2 for m in mains]
        self.assertEqual(first.stats["mean"][0], statistics.median(means), "mean median")
        powers = [r.power for r in runs[:3]]
        self.assertEqual(first.stats["power"], (statistics.median(powers), min(powers),
                                                max(powers)), "power statistics")


    def test_short_runs_are_flagged(self):
        def summary(problem, mains):
            config = sweep.Config(problem, 1, 0, *((10, 500, 10) if problem == 1 else ()))
            return sweep.summarise([sweep.parse_run(config, text(report_lines(
                problem, 1, 0, m, m, [m])), "", 0) for m in mains])
        long_runs = summary(0, [900, 1000, 1100])
        self.assertEqual(sweep.short_run_warnings(long_runs), [], "runs of a second are fine")
        warnings = sweep.short_run_warnings(summary(1, [3, 200, 210]))
        self.assertEqual(len(warnings), 1, "one run of 3 ms should be flagged")
        self.assertIn("--tuples", warnings[0], "the warning should say how to lengthen runs")


    def test_other_processes_share_per_configuration(self):
        config = sweep.Config(0, 1, 0)
        runs = []
        for rep, other in enumerate((0.1, 0.9, 0.3)):
            run = sweep.parse_run(config, text(report_lines(0, 1, 0, 500, 510, [505])), "", 0,
                                  rep)
            run.wall_seconds, run.other_cpu_seconds, run.hw_threads = 1.0, other, 2
            runs.append(run)
        summary = sweep.summarise(runs)[0]
        shares = [r.others_share for r in runs]
        self.assertEqual(summary.others, (statistics.median(shares), min(shares), max(shares)),
                         "the others share should be summarised like the other statistics")
        table = sweep.format_table([summary])
        self.assertIn("15% [5%, 45%]", table, f"the others column is missing or wrong:\n{table}")
        warning = sweep.disturbed_warning([summary])
        self.assertIsNotNone(warning, "a median of 15% other work should be flagged")
        self.assertIn("problem 0 1 thread mem 0", warning, "the configuration is not named")
        for run in runs:
            run.other_cpu_seconds = 0.01
        self.assertIsNone(sweep.disturbed_warning(sweep.summarise(runs)),
                          "0.5% of other work is no reason to warn")


class CsvFiles(unittest.TestCase):
    def setUp(self):
        self.dir = Path(tempfile.mkdtemp(prefix="sweep-test-"))
        self.addCleanup(shutil.rmtree, self.dir)

    def test_runs_round_trip(self):
        ok = sweep.parse_run(sweep.Config(1, 3, 1, 10, 1000, 10),
                             text(report_lines(1, 3, 1, 50, 70, [60, 61, 65],
                                               table=(10, 1000, 10))), "", 0, 2)
        ok.wall_seconds, ok.cpu_seconds, ok.other_cpu_seconds, ok.hw_threads = 1.25, 2.5, 0.5, 2
        ok.minor_faults, ok.major_faults, ok.max_rss_bytes = 29500, 3, 123 << 20
        ok.voluntary_switches, ok.involuntary_switches = 7, 41
        nan = sweep.parse_run(sweep.Config(0, 2, 0), text(report_lines(
            0, 2, 0, 0, 0, [0, 0], ratio_text="-nan", power_text="-nan")), "", 0)
        oom = sweep.parse_run(sweep.Config(0, 4, 1), "#threads 4\n",
                              "Error: no more memory: 8 is exceeded\n", 1)
        path = self.dir / "runs.csv"
        sweep.write_runs(path, [ok, nan, oom])
        with open(path, newline="") as f:
            rows = list(csv.DictReader(f))
        self.assertEqual(rows[0]["thread_times_ms"], "60;61;65", "thread times not ';'-joined")
        self.assertEqual(list(rows[0])[19:23], ["wall_seconds", "cpu_seconds",
                         "other_cpu_seconds", "hw_threads"], "older columns moved")
        self.assertEqual(rows[2]["status"], "out-of-memory", "failure status not written")
        self.assertEqual(rows[2]["exit_code"], "1", "exit code not written")
        back = sweep.read_runs(path)
        self.assertEqual(len(back), 3, "rows lost in the round trip")
        for before, after in zip([ok, nan, oom], back):
            for name in ("config", "rep", "main_time", "elapsed", "thread_times", "mean",
                         "physical_memory", "mem_thread", "memory_consumption", "exit_code",
                         "status", "message", "wall_seconds", "cpu_seconds",
                         "other_cpu_seconds", "hw_threads") + sweep.USAGE_METRICS:
                self.assertEqual(getattr(after, name), getattr(before, name),
                                 f"{name} changed in the round trip")
            for name in ("ratio", "power"):
                a, b = getattr(after, name), getattr(before, name)
                same = (a is None and b is None) or (a is not None and b is not None and (
                    a == b or (math.isnan(a) and math.isnan(b))))
                self.assertTrue(same, f"{name} {b} came back as {a}")

    def test_summary_csv_has_statistics_per_configuration(self):
        config = sweep.Config(0, 2, 0)
        mains = [300, 100, 200, 250]
        runs = [sweep.parse_run(config, text(report_lines(0, 2, 0, m, m, [m, m])), "", 0, r)
                for r, m in enumerate(mains)]
        for run, m in zip(runs, mains):
            run.minor_faults, run.involuntary_switches, run.max_rss_bytes = 10 * m, m, m << 20
        path = self.dir / "summary.csv"
        sweep.write_summary(path, sweep.summarise(runs))
        with open(path, newline="") as f:
            rows = list(csv.DictReader(f))
        self.assertEqual(len(rows), 1, "one row per configuration")
        self.assertEqual(float(rows[0]["main_time_median"]), statistics.median(mains),
                         "median of an even count is the mean of the middle two")
        self.assertEqual(int(rows[0]["main_time_min"]), min(mains), "min")
        self.assertEqual(int(rows[0]["main_time_max"]), max(mains), "max")
        self.assertEqual(float(rows[0]["ratio_median"]), 1.0, "ratio of equal times")
        self.assertEqual(list(rows[0])[24:28], ["others_share_median", "others_share_max",
                         "hw_threads", "minor_faults_median"], "new columns go at the end")
        self.assertEqual([rows[0][f"minor_faults_{k}"] for k in ("median", "min", "max")],
                         ["2250", "1000", "3000"], "minor fault statistics")
        self.assertEqual(rows[0]["major_faults_median"], "", "no figures, no statistics")
        table = sweep.format_table(sweep.summarise(runs)).splitlines()
        self.assertEqual(table[1].split()[-5:], ["2250", "-", "-", "225", "225.0"],
                         f"usage medians (max RSS in MiB) missing:\n{table}")


class ProgressAndEstimates(unittest.TestCase):
    class Stream(io.StringIO):
        def __init__(self, tty):
            super().__init__()
            self.tty = tty

        def isatty(self):
            return self.tty

    def test_terminal_line_is_rewritten_in_place(self):
        stream = self.Stream(tty=True)
        progress = sweep.Progress(stream)
        progress.show("configuration 1 of 2 run 1", True)
        progress.show("configuration 1 of 2 run 2", False)
        progress.show("configuration 2 of 2 run 1", True)
        self.assertNotIn("\n", stream.getvalue(), "a terminal line must not scroll")
        self.assertEqual(stream.getvalue().count("\r"), 3, "each update starts with \\r")
        progress.finish("done")
        self.assertTrue(stream.getvalue().endswith("done\n"), "finish must end the line")

    def test_pipe_gets_one_line_per_configuration(self):
        stream = self.Stream(tty=False)
        progress = sweep.Progress(stream)
        progress.show("configuration 1 of 2 run 1", True)
        progress.show("configuration 1 of 2 run 2", False)
        progress.show("configuration 2 of 2 run 1", True)
        lines = stream.getvalue().splitlines()
        self.assertEqual(lines, ["configuration 1 of 2 run 1", "configuration 2 of 2 run 1"],
                         "a pipe should get one line per configuration and no \\r")

    def test_estimate_scales_with_threads_past_the_cores(self):
        hw = 2
        unit = 1.5
        done = [(0, 1, unit * sweep.run_cost(1, hw))]
        left = sweep.estimate_left(done, [(0, 8)], hw)
        self.assertAlmostEqual(left, unit * (1 + 8 / hw), msg="8 threads on 2 cores take four "
                                                               "waves plus the main run")
        self.assertIsNone(sweep.estimate_left([], [(0, 1)], hw), "no data, no estimate")

    def test_busy_machine_is_flagged(self):
        self.assertIsNone(sweep.busy_machine_warning(0.02), "a quiet machine needs no warning")
        self.assertIsNone(sweep.busy_machine_warning(None), "nothing measured, no warning")
        warning = sweep.busy_machine_warning(0.6)
        self.assertIsNotNone(warning, "60% of the machine busy with other work is a lot")
        self.assertIn("60%", warning, "the warning should give the share it saw")

    def test_waiting_for_a_quiet_machine(self):
        shares = iter([0.6, 0.5, 0.05, 0.9])
        calls = []

        def measure():
            calls.append(1)
            return next(shares)
        self.assertEqual(sweep.wait_for_quiet(30, measure), 0.05, "should stop once quiet")
        self.assertEqual(len(calls), 3, "no sampling after the machine is quiet")
        calls.clear()
        self.assertEqual(sweep.wait_for_quiet(2, lambda: calls.append(1) or 0.8), 0.8,
                         "should give up with the last share seen")
        self.assertEqual(len(calls), 3, "2 s of waiting in 1 s samples is 3 samples")
        self.assertIsNone(sweep.wait_for_quiet(5, lambda: None), "unmeasurable: do not wait")

    def test_machine_busy_seconds_from_proc_stat(self):
        ticks = os.sysconf("SC_CLK_TCK")
        line = "cpu  1000 50 300 9000 70 20 10 5 0 0\n"
        busy = sweep.machine_busy_seconds(line)
        self.assertAlmostEqual(busy, (1000 + 50 + 300 + 20 + 10 + 5) / ticks,
                               msg="idle and iowait must not count as busy")
        self.assertIsNone(sweep.machine_busy_seconds("intr 12 3 4\n"), "not a cpu line")
        self.assertIsNotNone(sweep.machine_busy_seconds(), "this Linux machine has /proc/stat")

    def test_share_of_the_machine_used_by_others(self):
        run = sweep.Run(config=sweep.Config(0, 1, 0), wall_seconds=2.0, other_cpu_seconds=1.0,
                        hw_threads=2)
        self.assertAlmostEqual(run.others_share, 0.25, msg="1 s of other work in 2 s on 2 "
                                                           "hardware threads is a quarter")
        run.other_cpu_seconds = None
        self.assertIsNone(run.others_share, "unknown when other work was not measured")

    def test_default_thread_counts(self):
        self.assertEqual(sweep.default_threads(2), [1, 2, 4], "2 hardware threads")
        self.assertEqual(sweep.default_threads(6), [1, 2, 4, 6, 8, 12], "6 hardware threads")
        self.assertEqual(sweep.default_threads(1), [1, 2], "1 hardware thread")


FAKE_BENCH = """\
#!{python}
# Stands in for varnel-bench: prints its report lines with times that change from run to run.
import os, sys
from pathlib import Path
args = [int(a) for a in sys.argv[1:]] + [0, 1, 0, 10, 500, 10][len(sys.argv) - 1:]
pb, n, mem, arity, tuples, upper = args[:6]
counter = Path(__file__).with_name("count")
count = int(counter.read_text()) if counter.exists() else 0
counter.write_text(str(count + 1))
print(f"run with pb={{pb}} numThreads={{n}} mem={{mem}} arity={{arity}} numTuples={{tuples}} "
      f"upper={{upper}}")
print("-" * 46)
if pb == 1 and os.environ.get("FAKE_NO_PROBLEM_1"):
    sys.stdout.flush()
    print("varnel-bench: problem 1 is not available in this build", file=sys.stderr)
    sys.exit(2)
print(f"#threads {{n}}")
if os.environ.get("FAKE_HANG_AT_THREADS") == str(n):
    sys.stdout.flush()
    import time
    time.sleep(30)
if pb == 1:
    print(f"physical Memory: 8000000000 memThread: {{7000000000 // (n + 1) if mem > 0 else 0}}")
    print("Table creee")
    print("Memory Consumption: 4096 bytes")
if mem > 0 and n >= 4:
    sys.stdout.flush()
    print("Error: no more memory: 1750000000 is exceeded", file=sys.stderr)
    sys.exit(1)
touched = bytearray(n * (8 << 20))
main = 100 + 7 * (count % 3)
times = [main + 5 * k + count % 2 for k in range(n)]
mean = sum(times) // n
print(f"splitMem: {{1 if mem > 0 else 0}}")
print(f"main time: {{main}}")
print(f"elapsed time: {{max(times) + 3}}")
for k, t in enumerate(times):
    print(f"thread {{k}} time: {{t}}")
print(f"thread moyenne: {{mean}}")
print("ratio %g" % (mean / main))
print("power: %g" % (n * main / mean))
print("-" * 46)
"""


class WholeSweep(unittest.TestCase):
    def setUp(self):
        self.dir = Path(tempfile.mkdtemp(prefix="sweep-test-"))
        self.addCleanup(shutil.rmtree, self.dir)
        self.bench = self.dir / "fake-bench"
        self.bench.write_text(FAKE_BENCH.format(python=sys.executable))
        self.bench.chmod(0o755)

    def run_main(self, argv):
        out, err = io.StringIO(), io.StringIO()
        with contextlib.redirect_stdout(out), contextlib.redirect_stderr(err):
            code = sweep.main(argv)
        return code, out.getvalue(), err.getvalue()

    def test_sweep_records_every_run_and_its_failures(self):
        code, out, err = self.run_main([
            "--bench", str(self.bench), "--problems", "0,1", "--threads", "1,2,4",
            "--mem", "0,1", "-r", "3", "--output", str(self.dir / "out"), "--no-plot",
            "--tuples", "1000"])
        self.assertEqual(code, 1, f"failed runs must make the exit code 1; stderr: {err}")
        runs = sweep.read_runs(self.dir / "out" / "runs.csv")
        self.assertEqual(len(runs), 2 * 2 * 3 * 3, "one row per run: 2 problems x 2 memory "
                                                   "modes x 3 thread counts x 3 repetitions")
        failed = [r for r in runs if not r.ok]
        self.assertEqual({(r.config.mem, r.config.threads) for r in failed}, {(1, 4)},
                         "only split memory with 4 threads runs out of memory")
        self.assertTrue(all(r.status == "out-of-memory" for r in failed), "failure status")
        self.assertTrue(all(r.cpu_seconds is not None and 0 <= r.cpu_seconds for r in runs),
                        "each run should record the CPU time of the driver")
        self.assertTrue(all(r.other_cpu_seconds is not None and 0 <= r.other_cpu_seconds
                            for r in runs), "each run should record the other processes' CPU")
        faults = {(r.config.threads, r.rep): r.minor_faults for r in runs if r.ok
                  and (r.config.problem, r.config.mem) == (0, 0)}
        self.assertGreater(faults[4, 2] - faults[1, 2], 0.9 * 3 * 2048, "3 x 8 MiB more touched")
        self.assertLess(abs(faults[1, 2] - faults[1, 0]), 1000, "faults of one run, not summed")
        self.assertTrue(all(r.max_rss_bytes >= 8 << 20 and r.involuntary_switches is not None
                            for r in runs), "resource usage of each run")
        p1 = [r for r in runs if r.config.problem == 1]
        self.assertTrue(all(r.config.num_tuples == 1000 for r in p1), "--tuples not passed on")
        self.assertIn("out-of-memory", err, "failed runs should be reported on stderr")
        self.assertIn("configuration 12 of 12", err, "progress should reach the last one")

        with open(self.dir / "out" / "summary.csv", newline="") as f:
            rows = list(csv.DictReader(f))
        self.assertEqual(len(rows), 12, "one summary row per configuration")
        for row in rows:
            mine = [r for r in runs if r.ok and (r.config.problem, r.config.threads,
                                                 r.config.mem) ==
                    (int(row["problem"]), int(row["threads"]), int(row["split_mem"]))]
            if not mine:
                self.assertEqual(row["ok"], "0", "a configuration without success")
                self.assertEqual(row["main_time_median"], "", "no statistics without success")
                continue
            mains = [r.main_time for r in mine]
            self.assertEqual(float(row["main_time_median"]), statistics.median(mains),
                             f"median main time of {row}")
            self.assertEqual(float(row["elapsed_max"]), max(r.elapsed for r in mine),
                             f"max elapsed of {row}")
        self.assertRegex(out, r"0/3 \(3 out-of-memory\)", "the table should show the failures")

    def test_missing_problem_is_reported_and_skipped(self):
        os.environ["FAKE_NO_PROBLEM_1"] = "1"
        self.addCleanup(os.environ.pop, "FAKE_NO_PROBLEM_1")
        code, out, err = self.run_main([
            "--bench", str(self.bench), "--threads", "1,2", "--mem", "0", "-r", "2",
            "--output", str(self.dir / "out"), "--no-plot"])
        self.assertEqual(code, 1, "a missing problem is a failure")
        self.assertIn("does not provide problem 1", err, f"no clear message; stderr: {err}")
        runs = sweep.read_runs(self.dir / "out" / "runs.csv")
        self.assertEqual(sum(r.config.problem == 1 for r in runs), 1,
                         "after the first refusal problem 1 must not be run again")
        self.assertEqual(sum(r.ok for r in runs), 4, "problem 0 should still run 2 x 2 times")

    def test_hung_run_is_killed_and_recorded(self):
        os.environ["FAKE_HANG_AT_THREADS"] = "2"
        self.addCleanup(os.environ.pop, "FAKE_HANG_AT_THREADS")
        code, out, err = self.run_main([
            "--bench", str(self.bench), "--problems", "0", "--threads", "1,2", "--mem", "0",
            "-r", "1", "--timeout", "1", "--output", str(self.dir / "out"), "--no-plot"])
        self.assertEqual(code, 1, "a killed run is a failure")
        runs = sweep.read_runs(self.dir / "out" / "runs.csv")
        self.assertEqual([r.status for r in runs], ["ok", "timeout"],
                         "the hung 2-thread run should be recorded as a time-out")
        self.assertLess(runs[1].wall_seconds, 10, "the hung run was not killed at the time-out")
        self.assertLess(runs[1].cpu_seconds, 5, "a sleeping run should use almost no CPU")

    def test_markdown_table(self):
        code, out, _ = self.run_main([
            "--bench", str(self.bench), "--problems", "1", "--threads", "1", "--mem", "0",
            "-r", "1", "--output", str(self.dir / "out"), "--no-plot", "--markdown"])
        self.assertEqual(code, 0, "a clean sweep should exit with 0")
        lines = out.strip().splitlines()
        self.assertEqual(len(lines), 3, f"header, rule and one row expected:\n{out}")
        self.assertTrue(all(line.startswith("| ") and line.endswith(" |") for line in
                            (lines[0], lines[2])), f"not a Markdown table:\n{out}")
        self.assertIn("10x500x10", lines[2], "the table arguments of problem 1 are missing")

    def test_help_lists_every_option(self):
        out = io.StringIO()
        with contextlib.redirect_stdout(out), self.assertRaises(SystemExit) as stop:
            sweep.parse_arguments(["--help"], 2)
        self.assertEqual(stop.exception.code, 0, "--help should exit with 0")
        for option in ("--bench", "--threads", "--mem", "--reps", "--tuples", "--plot-only",
                       "--wait-quiet", "--timeout"):
            self.assertIn(option, out.getvalue(), f"--help does not mention {option}")

    def test_missing_driver_is_a_usage_error(self):
        code, _, err = self.run_main(["--bench", str(self.dir / "nothing"), "--no-plot"])
        self.assertEqual(code, 2, "a missing driver should exit with 2")
        self.assertIn("no executable varnel-bench", err, "the message should say what is wrong")

    def test_plot_only_redraws_from_the_csv(self):
        self.run_main(["--bench", str(self.bench), "--problems", "0", "--threads", "1,2",
                       "--mem", "0,1", "-r", "3", "--output", str(self.dir / "out"),
                       "--no-plot"])
        csv_path = self.dir / "out" / "runs.csv"
        code, out, err = self.run_main(["--plot-only", str(csv_path)])
        self.assertEqual(code, 0, f"plot-only failed: {err}")
        self.assertEqual(len(out.strip().splitlines()), 5,
                         f"header plus 4 configurations expected in the table:\n{out}")
        if shutil.which("gnuplot") is None:
            self.assertIn("tools/sweep-setup", err, "the user must be told how to get gnuplot")
            return
        for name in ("power.png", "power.svg", "ratio.png", "ratio.svg"):
            path = self.dir / "out" / name
            self.assertTrue(path.is_file() and path.stat().st_size > 1000,
                            f"{name} was not drawn")
        self.assertEqual((self.dir / "out" / "power.png").read_bytes()[:8],
                         b"\x89PNG\r\n\x1a\n", "power.png is not a PNG")
        svg = (self.dir / "out" / "power.svg").read_text()
        self.assertIn("ideal: power = threads", svg, "the ideal line is not in the legend")
        self.assertIn("split memory", svg, "the memory mode is not in the legend")


class PlotScript(unittest.TestCase):
    def test_series_points_and_reference_lines(self):
        runs = []
        for mem in (0, 1):
            for threads in (1, 2, 4):
                for rep, main in enumerate((100, 104, 98)):
                    times = [main + 10 * threads + mem] * threads
                    runs.append(sweep.parse_run(sweep.Config(0, threads, mem), text(
                        report_lines(0, threads, mem, main, main, times)), "", 0, rep))
        summaries = sweep.summarise(runs)
        outputs = {("power", "png"): Path("p.png"), ("ratio", "svg"): Path("r.svg")}
        script = sweep.gnuplot_script(summaries, outputs, hw_threads=2)
        self.assertEqual(script.count("EOD\n") // 2, 4,
                         "one data block per plot per memory mode")
        self.assertIn("ideal: power = threads", script, "the ideal line is missing")
        self.assertIn("set arrow from 2, graph 0 to 2, graph 1", script,
                      "the hardware thread count is not marked")
        self.assertIn("set output 'p.png'", script, "power PNG output missing")
        self.assertIn("set output 'r.svg'", script, "ratio SVG output missing")
        self.assertNotIn("set output 'p.svg'", script, "an output nobody asked for")
        power_median = {s.config.threads: s.stats["power"][0] for s in summaries
                        if s.config.mem == 0}
        block = script.split("$power0 << EOD\n")[1].split("EOD")[0].split("\n")[:-1]
        self.assertEqual(len(block), 3, "three thread counts in the shared-heap series")
        for line, threads in zip(block, (1, 2, 4)):
            x, median, low, high = (float(v) for v in line.split())
            self.assertAlmostEqual(x, threads, delta=0.1, msg="x must stay near its thread count")
            self.assertAlmostEqual(median, power_median[threads], places=6,
                                   msg="plotted power is not the median")
            self.assertLessEqual(low, median, "error bar must start at or below the median")
            self.assertGreaterEqual(high, median, "error bar must end at or above the median")

    def test_quotes_in_paths_are_escaped(self):
        self.assertEqual(sweep.gnuplot_string("it's"), "'it''s'", "quote not doubled")


@unittest.skipUnless(os.environ.get("VARNEL_BENCH"), "set VARNEL_BENCH to a built varnel-bench")
class RealDriver(unittest.TestCase):
    def test_problem_one_report_is_understood(self):
        bench = os.environ["VARNEL_BENCH"]
        done = subprocess.run([bench, "1", "2", "0", "5", "200", "5"], capture_output=True,
                              text=True, timeout=300)
        if done.returncode == 2 and sweep.NOT_AVAILABLE_TEXT in done.stderr:
            self.skipTest("this build has no problem 1 yet")
        run = sweep.parse_run(sweep.Config(1, 2, 0, 5, 200, 5), done.stdout, done.stderr,
                              done.returncode)
        self.assertEqual(run.status, "ok", f"the driver's report was not understood: "
                                           f"{run.message}\n{done.stdout}{done.stderr}")
        self.assertEqual(len(run.thread_times), 2, "two thread lines expected")


if __name__ == "__main__":
    unittest.main()
