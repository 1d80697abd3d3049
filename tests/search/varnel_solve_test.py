#!/usr/bin/env python3
"""varnel-solve end to end from outside: --json parses with Python's json module in every mode
and says what the text lines say; every printed solution is allowed by every table of the
instance file (read here, independently of the library); SIGINT and SIGTERM stop a search
with its counts printed and exit codes 130 and 143; --progress reports on standard error only.
No check races the machine: the interrupts wait for the search's first progress line, and the
searches that a limit or a signal must stop could not end on their own within days.
VARNEL_SOLVE names the program."""
import json
import os
import signal
import subprocess
import sys
import tempfile

SOLVE = os.environ["VARNEL_SOLVE"]
SMALL = "--vars 12 --domain 5 --constraints 30 --tightness 0.3".split()
# Loose enough that its solutions (about 10^47) cannot be counted within any run's lifetime.
ENDLESS = "--vars 50 --domain 10 --constraints 60 --tightness 0.1 --all".split()
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL", what, flush=True)


def run(args):
    done = subprocess.run([SOLVE, *args], capture_output=True, text=True)
    return done.returncode, done.stdout, done.stderr


def text_fields(out):
    fields = {}
    for line in out.splitlines():
        label, _, value = line.partition(": ")
        if label in ("solutions", "failures", "nodes", "depth"):
            fields[label] = int(value)
        elif label in ("complete", "stopped", "subproblems", "workers"):
            fields[label] = value
    fields["solution"] = [[int(v) for v in line.split()[1:]] for line in out.splitlines()
                          if line.startswith("solution: ")]
    return fields


def read_tables(path):
    """The instance file's tables as (scope, set of allowed value tuples)."""
    lines = [line.split("#")[0].split() for line in open(path)]
    lines = [tokens for tokens in lines if tokens]
    tables, i = [], 0
    while i < len(lines):
        if lines[i][0] == "table":
            arity, count = int(lines[i][1]), int(lines[i][2])
            scope = [int(v) for v in lines[i][3:3 + arity]]
            rows = {tuple(int(v) for v in row) for row in lines[i + 1:i + 1 + count]}
            tables.append((scope, rows))
            i += count
        i += 1
    return tables


# Every mode: exit code, stopped, and the JSON object against the text lines.
MODES = [
    ("first", [], 0, "first solution"),
    ("all", ["--all", "--print-solutions", "4"], 0, "exhausted"),
    ("node limit", ["--all", "--node-limit", "300"], 0, "node limit"),
    ("parallel", ["--all", "--parallel", "3", "--print-solutions", "4"], 0, "exhausted"),
    ("parallel first", ["--parallel", "2"], 0, "first solution"),
    ("threads", ["--all", "--threads", "2"], 0, "exhausted"),
    ("time limit", ["--all", "--time-limit", "0.3", "--parallel", "2"], 0, "time limit"),
]
with tempfile.TemporaryDirectory() as work:
    path = os.path.join(work, "instance.txt")
    run(SMALL + ["--write-instance", path])
    tables = read_tables(path)
    one_thread = text_fields(run(["--instance", path, "--all", "--print-solutions", "4"])[1])
    for name, extra, code, stopped in MODES:
        source = ["--instance", path] if name != "time limit" else ENDLESS[:-1]
        rc, out, err = run(source + extra)
        rcj, jout, jerr = run(source + extra + ["--json"])
        check(rc == code and rcj == code, f"{name}: exit codes {rc}, {rcj}: {err}{jerr}")
        try:
            report = json.loads(jout)  # the whole of standard output: one object, nothing else
        except ValueError as e:
            check(False, f"{name}: --json output does not parse: {e}: {jout[:200]!r}")
            continue
        text = text_fields(out)
        check(report["stopped"] == stopped and text["stopped"] == stopped,
              f"{name}: stopped {report['stopped']!r} / {text['stopped']!r}, not {stopped!r}")
        check(report["complete"] == (text["complete"] == "yes"), f"{name}: complete differs")
        if name not in ("parallel first", "time limit"):
            for key in ("solutions", "failures", "nodes", "depth"):
                check(report[key] == text[key], f"{name}: {key} {report[key]} in JSON, "
                      f"{text[key]} in text")
        printed = report.get("printed_solutions") or ([report["solution"]]
                                                      if report.get("solution") else [])
        # Which worker finds a first solution, or where a time limit falls, varies by run.
        if name not in ("parallel first", "time limit"):
            check(printed == text["solution"], f"{name}: JSON and text print other solutions")
        check(len(printed) == len(text["solution"]), f"{name}: JSON and text print "
              f"{len(printed)} and {len(text['solution'])} solutions")
        for values in printed + text["solution"]:
            for scope, rows in tables:
                check(tuple(values[x] for x in scope) in rows,
                      f"{name}: solution {values} is not allowed by the table over {scope}")
        if "--print-solutions" in extra:
            check(text["solution"] == one_thread["solution"],
                  f"{name}: the first solutions are not the one-thread search's")
        check(all(k in report for k in ("instance", "time_ms", "nodes_per_second", "variables")),
              f"{name}: JSON fields missing: {sorted(report)}")
    rc, out, err = run(["--instance", os.path.join(work, "missing.txt"), "--json"])
    check(rc == 2 and out == "" and "cannot open" in err, f"a missing file with --json: {rc} {out!r}")

# Progress goes to standard error only, one line per report when it is not a terminal, and the
# report on standard output is the one a run without it prints.
rc, out, err = run(SMALL + ["--all", "--progress", "0.01", "--json"])
plain = run(SMALL + ["--all", "--json", "--no-progress"])[1]
drop_time = lambda text: {k: v for k, v in json.loads(text).items()
                          if k not in ("time_ms", "nodes_per_second", "memory")}
check(rc == 0 and drop_time(out) == drop_time(plain), "--progress changed standard output")
check(all(line.startswith("progress: ") for line in err.splitlines()),
      f"--progress wrote something else on standard error: {err[:200]!r}")

# A run that fits physical memory but not the control group the process runs in is refused at
# once, naming that limit: in a group made here (cgroup v2 or v1) where the machine lets us.
def own_memory_group():
    for line in open("/proc/self/cgroup"):
        number, controllers, path = line.rstrip("\n").split(":", 2)
        if number == "0" and controllers == "" and os.path.exists("/sys/fs/cgroup/cgroup.procs"):
            return "/sys/fs/cgroup" + path.rstrip("/"), "memory.max"
        if "memory" in controllers.split(","):
            return "/sys/fs/cgroup/memory" + path.rstrip("/"), "memory.limit_in_bytes"
    return None, None


if os.name == "posix":
    parent, limit_file = own_memory_group()
    group = os.path.join(parent, f"varnel-test-{os.getpid()}") if parent else None
    try:
        os.mkdir(group)
        with open(os.path.join(group, limit_file), "w") as f:
            f.write("2000000000")
    except (OSError, TypeError) as e:
        print(f"skipped the control-group case: cannot make a memory group here ({e})")
        group = None
    if group:
        try:
            done = subprocess.run(["sh", "-c", 'echo $$ > "$0/cgroup.procs" && exec "$@"', group,
                                   SOLVE, "--constraints", "10000000", "--node-limit", "1"],
                                  capture_output=True, text=True)
            check(done.returncode == 1 and "control group's memory limit" in done.stderr,
                  f"the control group's limit: exit {done.returncode}: {done.stderr[:300]!r}")
        finally:
            os.rmdir(group)

# The same instance as XCSP3, written here from the text file: plain, .xz and .lzma give the
# text file's counts, and the competition lines' solution is allowed by every table.
def read_domains(path):
    return [[int(v) for v in tokens[2:]] for tokens in
            (line.split("#")[0].split() for line in open(path)) if tokens and tokens[0] == "domain"]


with tempfile.TemporaryDirectory() as work:
    text_path = os.path.join(work, "small.txt")
    run(SMALL + ["--write-instance", text_path])
    domains, tables = read_domains(text_path), read_tables(text_path)
    xml = ['<instance format="XCSP3" type="CSP">', "<variables>"]
    xml += [f'<var id="v{x}"> {" ".join(map(str, d))} </var>' for x, d in enumerate(domains)]
    xml += ["</variables>", "<constraints>"]
    for scope, rows in tables:
        tuples = "".join("(" + ",".join(map(str, row)) + ")" for row in sorted(rows))
        xml.append(f"<extension><list> {' '.join(f'v{x}' for x in scope)} </list>"
                   f"<supports> {tuples} </supports></extension>")
    data = ("\n".join(xml + ["</constraints>", "</instance>"]) + "\n").encode()
    import lzma
    files = {"small.xml": data, "small.xml.xz": lzma.compress(data),
             "small.xml.lzma": lzma.compress(data, format=lzma.FORMAT_ALONE)}
    for name, content in files.items():
        open(os.path.join(work, name), "wb").write(content)
    open(os.path.join(work, "cut.xml.xz"), "wb").write(files["small.xml.xz"][:-40])
    rc, out, err = run(["--instance", os.path.join(work, "small.xml")])
    if "reads no XCSP3" in err:
        print("skipped: this build reads no XCSP3", flush=True)
    else:
        expected = text_fields(run(["--all", "--instance", text_path])[1])
        for name in files:
            rc, out, err = run(["--all", "--instance", os.path.join(work, name)])
            got = text_fields(out)
            check(rc == 0 and all(got.get(k) == expected[k] for k in ("solutions", "nodes")),
                  f"{name}: {rc} {err} counts {got} against the text file's {expected}")
            rc, out, err = run(["--output", "xcsp3", "--instance", os.path.join(work, name)])
            answer = [line for line in out.splitlines() if not line.startswith("c ")]
            check(rc == 0 and len(answer) == 2 and answer[0] == "s SATISFIABLE",
                  f"{name}: competition lines {answer}")
            names, _, values = answer[-1].partition("</list> <values>")
            values = [int(v) for v in values.split()[:-2]]
            check(names.split()[3:] == [f"v{x}" for x in range(len(domains))],
                  f"{name}: the v line names {names}")
            for scope, rows in tables:
                check(tuple(values[x] for x in scope) in rows,
                      f"{name}: solution {values} is not allowed by the table over {scope}")
        # XCSP3 -> text -> the same counts.
        again = os.path.join(work, "again.txt")
        run(["--node-limit", "1", "--instance", os.path.join(work, "small.xml.xz"),
             "--write-instance", again])
        got = text_fields(run(["--all", "--instance", again])[1])
        check(all(got.get(k) == expected[k] for k in ("solutions", "nodes")),
              f"XCSP3 written back as text counts {got}, the text file {expected}")
        rc, out, err = run(["--instance", os.path.join(work, "cut.xml.xz")])
        check(rc == 2 and "truncated" in err, f"a truncated .xz: {rc} {err}")
        # 15 KB of .xz holding 100 MB of blanks: stopped, not parsed to the end.
        bomb = os.path.join(work, "bomb.xml.xz")
        open(bomb, "wb").write(lzma.compress(b"<instance>" + b" " * (100 << 20) + b"</instance>",
                                             preset=0))
        rc, out, err = run(["--instance", bomb])
        check(rc == 2 and "decompression bomb" in err, f"a decompression bomb: {rc} {err}")
        # Beyond its first megabyte the XML is decoded on a second thread: the answer, a
        # refusal the parser finds while the decoder has more to give, and a truncation end as
        # on one thread, with their lines.
        pad = b"<!-- padding -->\n" * 150000
        padded = data.replace(b"<constraints>", b"<constraints>\n" + pad, 1)
        refused = padded.replace(pad, pad + b"<regular/>\n" + pad, 1)
        line = refused[:refused.index(b"<regular/>")].count(b"\n") + 1
        cut = lzma.compress(padded, format=lzma.FORMAT_ALONE)
        for name, content, want in (
                ("padded.xml.lzma", cut, "solutions: "),
                ("refused.xml.lzma", lzma.compress(refused, format=lzma.FORMAT_ALONE),
                 f":{line}: <regular> is not supported"),
                ("cut.xml.lzma", cut[:len(cut) * 3 // 4], "the compressed data is truncated")):
            open(os.path.join(work, name), "wb").write(content)
            rc, out, err = run(["--node-limit", "1", "--instance", os.path.join(work, name)])
            check(want in out + err and rc == (0 if want == "solutions: " else 2),
                  f"{name}: exit {rc}: {err[-300:]}")


# Interrupts stop a search at its next node, once it has started (its first progress line);
# every line is printed. The time limit is only a backstop should the signal be lost.
if os.name == "posix":
    for sig, code in ((signal.SIGINT, 130), (signal.SIGTERM, 143)):
        for extra in ([], ["--parallel", "2"]):
            child = subprocess.Popen([SOLVE, *ENDLESS, *extra, "--progress", "0.05",
                                      "--time-limit", "600"],
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
            first = child.stderr.readline()
            check(first.startswith("progress: "), f"{sig.name} {extra}: no progress: {first!r}")
            child.send_signal(sig)
            out, _ = child.communicate()
            fields = text_fields(out)
            check(child.returncode == code, f"{sig.name} {extra}: exit {child.returncode}")
            check(fields.get("stopped") == "interrupted" and fields.get("complete") == "no" and
                  fields.get("nodes", 0) > 0, f"{sig.name} {extra}: lines {out[-300:]!r}")

print("varnel-solve end to end:", "FAILED" if failures else "ok", flush=True)
sys.exit(1 if failures else 0)
