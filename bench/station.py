"""What the factory station costs the line's PC, measured side by side on this machine.

64 consoles (pseudo-terminals paced at 115200 baud, 11,520 bytes/s each) replay the real
runs of test/Main/transcripts one after the other, as CR LF lines; the station follows
them all into a database. Measured: its CPU time per second of console traffic, its peak
memory (VmHWM), and the delay from a line's arrival on a console to its bytes being
readable in the database (a reader polls it every 20 ms). Then the same consoles and
bytes for a Python reader that polls them the way pyserial scripts do, as the floor; and
`bw-station stats` over a database of 1,000,000 runs (made once, kept in the build
directory). A benchmark, not a test: nothing here fails on a missed goal.

Where the station serves its page, the station again with --pages live pages open (default
20), following its live stream as the page does: its cost then, and the delay from a model
line's arrival to the first message that shows the new run on its tile.

usage: bench/station [--quick] [--no-build] [--build-dir DIR] [--seconds S] [--pages N]
  --quick     8 consoles for 5 s and 20,000 runs (what CI may run, to see that it works)
"""

import argparse
import errno
import fcntl
import os
import shutil
import socket
import sqlite3
import statistics
import subprocess
import sys
import tempfile
import termios
import time
import tty

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BYTES_PER_SECOND = 11520  # 115200 baud, 8N1: ten bits a byte
TICK = 0.01
DB_POLL = 0.02

FLOOR = r'''
import sys, time, serial
ports = [serial.Serial(p, 115200, timeout=0) for p in sys.argv[1:]]
partial = [b""] * len(ports)
lines = 0
while True:
    for i, port in enumerate(ports):
        waiting = port.in_waiting
        if waiting:
            data = partial[i] + port.read(waiting)
            *complete, partial[i] = data.split(b"\n")
            lines += len(complete)
    time.sleep(0.01)
'''

# Open pages: each follows the live stream as the page's script does. The first also notes
# when each fixture's tile first shows a new run (a model line's arrival), as
# "monotonic-time fixture run" lines on standard output; the others only read.
PAGES = r'''
import http.client, json, sys, threading, time
port, count = int(sys.argv[1]), int(sys.argv[2])
def follow(noting):
    while True:
        try:
            connection = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
            connection.request("GET", "/api/fixtures/events")
            response = connection.getresponse()
            if response.status != 200:
                time.sleep(0.2)
                continue
            if noting:
                print("ready", flush=True)
            shown, data = {}, []
            while True:
                line = response.fp.readline()
                if not line:
                    break
                if line.startswith(b"data:"):
                    data.append(line[5:].strip())
                elif line in (b"\n", b"\r\n") and data:
                    now = time.monotonic()
                    message, data = b"".join(data), []
                    if not noting:
                        continue
                    for fixture in json.loads(message)["fixtures"]:
                        run = fixture.get("run")
                        if run is not None and shown.get(fixture["fixture"]) != run:
                            shown[fixture["fixture"]] = run
                            print(f"{now} {fixture['fixture']} {run}", flush=True)
        except OSError:
            time.sleep(0.2)
for i in range(1, count):
    threading.Thread(target=follow, args=(False,), daemon=True).start()
follow(True)
'''


def transcripts():
    folder = os.path.join(REPO, "test", "Main", "transcripts")
    runs = []
    for name in sorted(os.listdir(folder)):
        if name.endswith(".stdout"):
            with open(os.path.join(folder, name), "rb") as f:
                text = f.read()
            if not text.endswith(b"\n"):
                text += b"\n"  # the next run's model line starts a line of its own
            runs.append(text.replace(b"\n", b"\r\n"))
    return runs


class Console:
    """A pseudo-terminal replaying runs at the line's rate; the slave is held open and raw,
    so bytes wait for a reader that opens it late."""

    def __init__(self, runs, first):
        self.master, self.slave = os.openpty()
        tty.setraw(self.slave)
        fcntl.fcntl(self.master, fcntl.F_SETFL, os.O_NONBLOCK)
        self.path = os.ttyname(self.slave)
        self.runs, self.next = runs, first
        self.stream = b""
        self.sent = 0  # bytes written since the start
        self.lines = []  # (offset after the line's LF, time it was written)
        self.models = []  # when each model line (a run's start) was written: monotonic, wall
        self.line = b""

    def send(self, budget, now):
        while len(self.stream) < budget:
            self.stream += self.runs[self.next % len(self.runs)]
            self.next += 1
        try:
            n = os.write(self.master, self.stream[:budget])
        except BlockingIOError:
            return 0
        chunk = self.stream[:n]
        start, at = 0, chunk.find(b"\n")
        while at >= 0:
            self.lines.append((self.sent + at + 1, now))
            if (self.line + chunk[start:at]).startswith(b"corenode.model = "):
                self.models.append((now, time.time()))
            self.line, start = b"", at + 1
            at = chunk.find(b"\n", start)
        self.line = (self.line + chunk[start:])[-64:]
        self.stream = self.stream[n:]
        self.sent += n
        return n

    def close(self):
        os.close(self.master)
        os.close(self.slave)


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def peak_rss_kb(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return 0


class Stored:
    """How many bytes of each fixture the database holds, read as any reader would."""

    def __init__(self, path, names):
        self.path, self.names = path, names
        self.db = None

    def ends(self):
        if self.db is None:
            if not os.path.exists(self.path):
                return None
            try:
                self.db = sqlite3.connect(f"file:{self.path}?mode=ro", uri=True, timeout=0.5)
            except sqlite3.Error:
                return None
        try:
            rows = self.db.execute(
                "SELECT f.name, (SELECT c.offset + length(c.bytes) FROM chunk c "
                "WHERE c.fixture = f.id ORDER BY c.offset DESC LIMIT 1) FROM fixture f"
            ).fetchall()
        except sqlite3.Error:
            return None
        return {name: end or 0 for name, end in rows}


def replay(consoles, seconds, reader, stored=None):
    """Paces every console for `seconds` after the reader's warm-up; returns the reader's
    CPU seconds over the measured window, its peak RSS and the line delays."""
    start = time.monotonic()
    warmup = 2.0
    measured_from = start + warmup
    cpu_from = None
    seen = {}  # fixture index -> index of the first line not yet seen stored
    delays = []
    next_poll = start
    while True:
        now = time.monotonic()
        if reader.poll() is not None:
            raise SystemExit(f"bench/station: the reader ended early (status {reader.returncode})")
        if cpu_from is None and now >= measured_from:
            cpu_from = (cpu_seconds(reader.pid), now)
        if now >= measured_from + seconds:
            break
        for c in consoles:
            c.send(int((now - start) * BYTES_PER_SECOND) - c.sent, now)
        if stored is not None and now >= next_poll:
            next_poll = now + DB_POLL
            ends = stored.ends()
            if ends:
                polled = time.monotonic()
                for i, c in enumerate(consoles):
                    end = ends.get(f"F{i + 1}", 0)
                    k = seen.get(i, 0)
                    while k < len(c.lines) and c.lines[k][0] <= end:
                        if c.lines[k][1] >= measured_from:
                            delays.append(polled - c.lines[k][1])
                        k += 1
                    seen[i] = k
        time.sleep(max(0.0, TICK - (time.monotonic() - now)))
    cpu = cpu_seconds(reader.pid) - cpu_from[0]
    wall = time.monotonic() - cpu_from[1]
    return cpu / wall, peak_rss_kb(reader.pid), delays, measured_from


def stop(process):
    process.terminate()
    try:
        process.wait(10)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


def percentile(values, share):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(share * len(ordered)))] if ordered else float("nan")


def spread(delays):
    if not delays:
        return "none seen"
    return (f"median {1000 * statistics.median(delays):.0f} ms, 95th percentile "
            f"{1000 * percentile(delays, 0.95):.0f} ms, max {1000 * max(delays):.0f} ms "
            f"over {len(delays)}")


def serves(station):
    return "--listen" in subprocess.run([station, "run", "--help"], capture_output=True,
                                        text=True).stdout


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def page_delays(notes, consoles, measured_from, db):
    """From a model line's arrival to the first message that shows its run on the tile. The
    run is known by its start in the database (its model line's arrival at the station),
    a few milliseconds after the line was written; runs start 100 ms or more apart."""
    with sqlite3.connect(f"file:{db}?mode=ro", uri=True) as connection:
        starts = dict(connection.execute("SELECT id, start FROM run"))
    delays = []
    for line in notes:
        if line == "ready":
            continue
        at, fixture, run = line.split()
        start = starts.get(int(run))
        models = consoles[int(fixture[1:]) - 1].models
        written = [m for m in models if start is not None and m[1] <= start + 0.002]
        if written and written[-1][0] >= measured_from:
            delays.append(float(at) - written[-1][0])
    return delays


def station_round(station, work, count, seconds, runs, pages=0):
    """The station on `count` consoles, with `pages` live pages open (none: no page served).
    Its CPU share, peak RSS, line-to-database delays, and line-to-tile delays."""
    consoles = [Console(runs, i) for i in range(count)]
    db = os.path.join(work, f"line-{pages}.db")
    watcher = None
    try:
        args = [station, "run", "--db", db]
        listens = serves(station)
        port = free_port() if listens and pages else None
        if listens:
            args += ["--listen", f"127.0.0.1:{port}" if port else "none"]
        reader = subprocess.Popen(
            args + [f"F{i + 1}={c.path}" for i, c in enumerate(consoles)],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        notes = os.path.join(work, f"pages-{pages}.txt")
        try:
            if port:
                with open(notes, "w") as out:
                    watcher = subprocess.Popen([sys.executable, "-c", PAGES, str(port),
                                                str(pages)], stdout=out)
                deadline = time.monotonic() + 10
                while time.monotonic() < deadline and "ready" not in open(notes).read():
                    time.sleep(0.05)
            share, rss, delays, measured_from = replay(
                consoles, seconds, reader, Stored(db, [f"F{i + 1}" for i in range(count)]))
        finally:
            if watcher is not None:
                stop(watcher)
            stop(reader)
        tiles = []
        started = sum(1 for c in consoles for m in c.models if m[0] >= measured_from)
        if port:
            with open(notes) as f:
                tiles = page_delays(f.read().split("\n")[:-1], consoles, measured_from, db)
        return share, rss, delays, (tiles, started)
    finally:
        for c in consoles:
            c.close()


def floor_round(count, seconds, runs):
    consoles = [Console(runs, i) for i in range(count)]
    try:
        reader = subprocess.Popen([sys.executable, "-c", FLOOR] + [c.path for c in consoles])
        try:
            share, rss, _, _ = replay(consoles, seconds, reader)
        finally:
            stop(reader)
        return share, rss
    finally:
        for c in consoles:
            c.close()


def million(station, path, total):
    """A database of `total` runs: the transcripts imported by the station itself, then
    copied with new units, fixtures and times (a unit in ten tested twice)."""
    if os.path.exists(path):
        return
    partial = path + ".partial"
    for leftover in (partial, partial + "-wal", partial + "-shm"):
        if os.path.exists(leftover):
            os.unlink(leftover)
    folder = os.path.join(REPO, "test", "Main", "transcripts")
    logs = [os.path.join(folder, n) for n in sorted(os.listdir(folder)) if n.endswith(".stdout")]
    subprocess.run([station, "import", "--db", partial, "--fixture", "F1"] + logs, check=True,
                   stdout=subprocess.DEVNULL)
    db = sqlite3.connect(partial)
    originals = db.execute("SELECT COUNT(*) FROM run").fetchone()[0]
    copies = (total + originals - 1) // originals - 1
    db.executemany("INSERT INTO fixture(name) VALUES (?)", [(f"F{i}",) for i in range(2, 65)])
    # Copy n of an imported run is unit n of that run's, but copy 10k+1 is copy 10k's unit again
    # (a retest). The copies keep the imported order, so a copy's id is its original's plus a base.
    for n in range(1, copies + 1):
        base = originals * n
        u = n - (n % 10 == 1)
        db.execute("""
            INSERT INTO run(id, fixture, log_start, log_end, start, end, model, unit, road,
                            verdict, reason)
            SELECT ?1 + id, 1 + (?2 % 64), log_start, log_end, start - ?2 * 37.0,
                   end - ?2 * 37.0, model,
                   CASE WHEN unit IS NULL THEN NULL ELSE
                     printf('02:%02x:%02x:%02x:%02x:00', id % 256, ?3 % 256, (?3 / 256) % 256,
                            (?3 / 65536) % 256) END,
                   road, verdict, reason
            FROM run WHERE id <= ?4""", (base, n, u, originals))
        db.execute("INSERT INTO failure(run, kind, name) SELECT ?1 + run, kind, name "
                   "FROM failure WHERE run <= ?2", (base, originals))
    db.commit()
    db.close()
    os.rename(partial, path)


def stats_seconds(station, path, rounds=3):
    """The median wall time of `bw-station stats` and its CPU time (on a busy machine the
    wall time also holds the waits for a core)."""
    walls, cpus = [], []
    for _ in range(rounds):
        began = time.monotonic()
        process = subprocess.Popen([station, "stats", "--db", path], stdout=subprocess.DEVNULL)
        _, status, usage = os.wait4(process.pid, 0)
        process.returncode = os.waitstatus_to_exitcode(status)
        if process.returncode != 0:
            raise SystemExit(f"bench/station: stats failed with status {process.returncode}")
        walls.append(time.monotonic() - began)
        cpus.append(usage.ru_utime + usage.ru_stime)
    return statistics.median(walls), statistics.median(cpus)


def main():
    parser = argparse.ArgumentParser(usage="bench/station [--quick] [--no-build] "
                                     "[--build-dir DIR] [--seconds S] [--pages N]")
    parser.add_argument("--quick", action="store_true")
    parser.add_argument("--no-build", action="store_true")
    parser.add_argument("--build-dir", default=os.path.join(REPO, "build"))
    parser.add_argument("--seconds", type=float)
    parser.add_argument("--pages", type=int, default=20)
    options = parser.parse_args()
    count, seconds, runs_total = (8, 5.0, 20000) if options.quick else (64, 30.0, 1000000)
    seconds = options.seconds or seconds
    if not options.no_build:
        if not os.path.exists(os.path.join(options.build_dir, "CMakeCache.txt")):
            subprocess.run(["cmake", "-S", REPO, "-B", options.build_dir,
                            "-DCMAKE_BUILD_TYPE=RelWithDebInfo", "-DBUILD_TESTING=ON",
                            "-DBW_WERROR=ON"], check=True, stdout=subprocess.DEVNULL)
        subprocess.run(["cmake", "--build", options.build_dir, "-j", str(os.cpu_count()),
                        "--target", "bw-station", "--", "--no-print-directory"], check=True,
                       stdout=subprocess.DEVNULL)
    station = os.path.join(options.build_dir, "factory", "station", "bw-station")
    if not os.access(station, os.X_OK):
        print(f"bench/station: no station at {station}; build it (or drop --no-build)")
        return 77
    try:
        import serial  # noqa: F401  (the floor's)
        has_floor = True
    except ImportError:
        has_floor = False
        print("bench/station: no floor: python3-serial is missing (scripts/ensure-deps --bench)")

    runs = transcripts()
    traffic = count * BYTES_PER_SECOND
    print(f"{count} consoles at 115200 baud ({traffic} bytes/s in all), replaying "
          f"{len(runs)} real runs each, {seconds:.0f} s measured after 2 s of warm-up")
    work = tempfile.mkdtemp(prefix="bw-bench-station-")
    try:
        share, rss, delays, _ = station_round(station, work, count, seconds, runs)
        print(f"  station: {100 * share:.2f}% of one core, peak RSS {rss / 1024:.1f} MB")
        print(f"    line arrival to its bytes readable in the database: {spread(delays)}")
        print("    goals: under 2% of one core for 64 consoles, under 100 MB, under 1 s")
        if serves(station):
            paged = station_round(station, work, count, seconds, runs, pages=options.pages)
            print(f"  with {options.pages} live pages open: {100 * paged[0]:.2f}% of one core, "
                  f"peak RSS {paged[1] / 1024:.1f} MB")
            print(f"    line arrival to readable in the database: {spread(paged[2])}")
            tiles, started = paged[3]
            print(f"    model line's arrival to its tile showing the new run: {spread(tiles)} "
                  f"of the {started} runs started (a run over before a message went out is "
                  f"never shown)")
            print("    goals: 95th percentile under 250 ms; the pages change nothing measurable")
    finally:
        shutil.rmtree(work)
    if has_floor:
        floor_share, floor_rss = floor_round(count, seconds, runs)
        print(f"  floor (Python, pyserial polling every 10 ms): {100 * floor_share:.2f}% of one "
              f"core, peak RSS {floor_rss / 1024:.1f} MB")
        ratio = share / floor_share if floor_share > 0 else float("nan")
        print(f"    station / floor: CPU {ratio:.2f}x, memory {rss / floor_rss:.2f}x")

    path = os.path.join(options.build_dir, "bench", f"station-{runs_total}-runs.db")
    os.makedirs(os.path.dirname(path), exist_ok=True)
    began = time.monotonic()
    fresh = not os.path.exists(path)
    million(station, path, runs_total)
    if fresh:
        print(f"  made {path} in {time.monotonic() - began:.0f} s")
    stored = sqlite3.connect(f"file:{path}?mode=ro", uri=True).execute(
        "SELECT COUNT(*) FROM run").fetchone()[0]
    wall, cpu = stats_seconds(station, path)
    print(f"  stats over {stored} stored runs: {1000 * wall:.0f} ms ({1000 * cpu:.0f} ms of CPU), "
          f"median of 3; goal: under 1 s")
    print(f"  load average while measured: {os.getloadavg()[0]:.1f} on {os.cpu_count()} cores")
    return 0


if __name__ == "__main__":
    sys.exit(main())
