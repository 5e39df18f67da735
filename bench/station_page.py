"""What the live page costs the line, measured side by side on this machine.

64 consoles replay the real runs of test/Main/transcripts at 115200 baud, each run followed
by a pause of 1 to 3 s (a hub is changed), while the station follows them. Measured twice,
with no page open and with 20 live pages (event streams read as a browser reads them): the
station's CPU time per second and the delay from a line's arrival to its bytes being
readable in the database, so that what the pages cost the consoles shows; and, with the
pages open, the delay from a run's model line leaving its console to the run appearing on
its tile in every page. A benchmark, not a test: nothing here fails on a missed goal.

usage: bench/station-page [--quick] [--no-build] [--build-dir DIR] [--seconds S] [--pages N]
  --quick     8 consoles, 3 pages, 5 s (to see that it works)
"""

import argparse
import http.client
import json
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from station import (BYTES_PER_SECOND, TICK, DB_POLL, Console, Stored, cpu_seconds,  # noqa: E402
                     percentile, stop, transcripts)


class PausedConsole(Console):
    """A console that rests 1 to 3 s after each run, and notes when each model line ended."""

    def __init__(self, runs, first, seed):
        super().__init__(runs, first)
        self.random = random.Random(seed)
        self.resting_until = 0.0
        self.model_lines = []  # times each run's first line was written in full
        self.run_left = 0  # bytes of the current run still to write
        self.model_left = None  # bytes until the current run's model line is written
        self.run_began, self.run_length = 0.0, 0

    def pace(self, now):
        if now < self.resting_until:
            return
        if self.run_left == 0:
            run = self.runs[self.next % len(self.runs)]
            self.next += 1
            self.stream += run
            self.run_left = len(run)
            self.model_left = run.find(b"\n") + 1
            self.run_began, self.run_length = now, len(run)
        budget = int((now - self.run_began) * BYTES_PER_SECOND) - (self.run_length - self.run_left)
        n = self.write(max(0, min(budget, self.run_left)), now)
        self.run_left -= n
        if self.model_left is not None:
            self.model_left -= n
            if self.model_left <= 0:
                self.model_lines.append(now)
                self.model_left = None
        if self.run_left == 0:
            self.resting_until = now + self.random.uniform(1.0, 3.0)

    def write(self, count, now):
        try:
            n = os.write(self.master, self.stream[:count])
        except BlockingIOError:
            return 0
        chunk = self.stream[:n]
        at = chunk.find(b"\n")
        while at >= 0:
            self.lines.append((self.sent + at + 1, now))
            at = chunk.find(b"\n", at + 1)
        self.stream = self.stream[n:]
        self.sent += n
        return n


class Page(threading.Thread):
    """One open line page: follows the event stream and notes when each fixture's run
    first appears."""

    def __init__(self, port):
        super().__init__(daemon=True)
        self.port = port
        self.seen = {}  # (fixture, run) -> time first seen
        self.events = 0
        self.stopped = False

    def run(self):
        while not self.stopped:
            try:
                connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=5)
                connection.request("GET", "/api/fixtures/events")
                response = connection.getresponse()
                data = b""
                while not self.stopped:
                    line = response.fp.readline()
                    if not line:
                        break
                    if line.startswith(b"data: "):
                        data += line[6:]
                    elif line in (b"\n", b"\r\n") and data:
                        now = time.monotonic()
                        self.events += 1
                        for f in json.loads(data)["fixtures"]:
                            key = (f["fixture"], f["run"])
                            if f["run"] is not None and key not in self.seen:
                                self.seen[key] = now
                        data = b""
            except (OSError, http.client.HTTPException, ValueError):
                time.sleep(0.2)


def round_with(station, count, seconds, runs, pages):
    consoles = [PausedConsole(runs, i, i) for i in range(count)]
    work = tempfile.mkdtemp(prefix="bw-bench-station-page-")
    db = os.path.join(work, "line.db")
    reader = subprocess.Popen(
        [station, "run", "--db", db, "--listen", "127.0.0.1:0"] +
        [f"F{i + 1}={c.path}" for i, c in enumerate(consoles)],
        stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    port = None
    for line in reader.stderr:
        if b"http://" in line:
            port = int(line.split(b"http://")[1].split(b"/")[0].rsplit(b":", 1)[1])
            break
    threading.Thread(target=lambda: reader.stderr.read(), daemon=True).start()
    open_pages = [Page(port) for _ in range(pages)]
    for page in open_pages:
        page.start()
    try:
        start = time.monotonic()
        measured_from = start + 2.0
        cpu_from = None
        stored = Stored(db, None)
        seen = {}
        delays = []
        next_poll = start
        while True:
            now = time.monotonic()
            if cpu_from is None and now >= measured_from:
                cpu_from = (cpu_seconds(reader.pid), now)
            if now >= measured_from + seconds:
                break
            for c in consoles:
                c.pace(now)
            if now >= next_poll:
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
        share = cpu / (time.monotonic() - cpu_from[1])
        time.sleep(1.0)  # the last runs reach the pages
    finally:
        for page in open_pages:
            page.stopped = True
        stop(reader)
        for c in consoles:
            c.close()
        shutil.rmtree(work)
    # A run appears on a tile once its model line has been read; runs rest 1 s or more
    # apart, so the run a page first shows on a tile after a model line is that line's.
    tile = []
    for page in open_pages:
        for i, c in enumerate(consoles):
            shown = sorted(t for (fixture, _), t in page.seen.items() if fixture == f"F{i + 1}")
            for written in c.model_lines:
                if written < measured_from:
                    continue
                after = [t for t in shown if t >= written]
                if after and after[0] - written < 1.0:
                    tile.append(after[0] - written)
    return share, delays, tile, sum(t >= measured_from for c in consoles for t in c.model_lines)


def main():
    parser = argparse.ArgumentParser(usage="bench/station-page [--quick] [--no-build] "
                                     "[--build-dir DIR] [--seconds S] [--pages N]")
    parser.add_argument("--quick", action="store_true")
    parser.add_argument("--no-build", action="store_true")
    parser.add_argument("--build-dir", default=os.path.join(os.path.dirname(os.path.dirname(
        os.path.abspath(__file__))), "build"))
    parser.add_argument("--seconds", type=float)
    parser.add_argument("--pages", type=int)
    options = parser.parse_args()
    count, seconds, pages = (8, 5.0, 3) if options.quick else (64, 30.0, 20)
    seconds = options.seconds or seconds
    pages = options.pages or pages
    if not options.no_build:
        subprocess.run(["cmake", "--build", options.build_dir, "-j", str(os.cpu_count()),
                        "--target", "bw-station", "--", "--no-print-directory"], check=True,
                       stdout=subprocess.DEVNULL)
    station = os.path.join(options.build_dir, "factory", "station", "bw-station")
    if not os.access(station, os.X_OK):
        print(f"bench/station-page: no station at {station}; build it (or drop --no-build)")
        return 77
    runs = transcripts()
    print(f"{count} consoles at 115200 baud, each run followed by a 1-3 s pause, "
          f"{seconds:.0f} s measured after 2 s of warm-up")

    def ms(values, share):
        return f"{1000 * percentile(values, share):.0f} ms" if values else "-"

    for open_pages in (0, pages):
        share, delays, tile, models = round_with(station, count, seconds, runs, open_pages)
        print(f"  {open_pages:2d} pages open: station {100 * share:.2f}% of one core; line to "
              f"database median {ms(delays, 0.5)}, 95th percentile {ms(delays, 0.95)}")
        if open_pages:
            print(f"    model line to its run on the tile, in every page: median "
                  f"{ms(tile, 0.5)}, 95th percentile {ms(tile, 0.95)}, max "
                  f"{1000 * max(tile) if tile else 0:.0f} ms ({len(tile)} of "
                  f"{models * open_pages} seen within 1 s); goal: under 250 ms")
    return 0


if __name__ == "__main__":
    sys.exit(main())
