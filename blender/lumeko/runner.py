# Runs Lumeko's programs for the add-on, one after the other, in a working
# folder of their own, without ever waiting on them: the add-on polls the job
# from Blender's timer, shows its progress and can end it at any time.
#
# Each program's error stream goes to a terminal of the job's own (a
# pseudo-terminal), because the programs draw their progress line ("frame N
# of M") only on a terminal; the job reads it as it comes, keeps the other
# lines as the program's messages, and writes standard output to a file in
# the folder. Standard input is empty, so that a program that fails never
# waits for a key. No bpy here.

import atexit
import os
import re
import shutil
import signal
import subprocess
import time

try:
    import pty
except ImportError:  # not a POSIX system: no progress lines, the rest works
    pty = None

# The progress line the programs draw, and the terminal's erase-line code.
PROGRESS = re.compile(r"^frame (\d+)(?: of (\d+))?")
ERASE = re.compile(r"\x1b\[[0-9;]*[A-Za-z]")
# Seconds a program has to end after it is asked to, before it is killed.
END_GRACE = 2.0

# Jobs whose program still runs, so that they can be ended when the add-on
# is turned off or Blender quits.
RUNNING = set()


class Step:
    """One program of a job: what the panel calls it, its command line, its
    share of the job's progress and, for a program that cannot count its
    frames (a picture sequence), how many there are."""

    def __init__(self, label, argv, share, frames=0):
        self.label = label
        self.argv = argv
        self.share = share
        self.frames = frames


class Job:
    """Runs `steps` in `folder`. poll() moves it on and says its state:
    "running", "done", "failed" (message says why, in the program's words)
    or "cancelled"."""

    def __init__(self, folder, steps):
        self.folder = folder
        self.steps = list(steps)
        self.state = "running"
        self.message = ""
        self.progress = 0.0  # of the whole job, 0 to 1
        self.label = self.steps[0].label if self.steps else ""
        self.warnings = []  # lines of finished programs beginning "warning:"
        self.said = []  # the other lines of each finished program
        self._index = -1
        self._process = None
        self._terminal = None
        self._pending = ""
        self._lines = []
        self._done_share = 0.0
        self._start_next()

    def _start_next(self):
        self._index += 1
        if self._index == len(self.steps):
            self.state = "done"
            self.progress = 1.0
            return
        step = self.steps[self._index]
        self.label = step.label
        self._pending = ""
        self._lines = []
        output = open(os.path.join(self.folder, "step%d.out" % self._index), "wb")
        error = subprocess.PIPE
        if pty is not None:
            self._terminal, error = pty.openpty()
        try:
            self._process = subprocess.Popen(
                step.argv, cwd=self.folder, stdin=subprocess.DEVNULL, stdout=output,
                stderr=error, start_new_session=True)
        except OSError as failure:
            self._close_terminal()
            self.state = "failed"
            self.message = "%s: %s" % (step.argv[0], failure.strerror)
            return
        finally:
            output.close()
            if pty is not None:
                os.close(error)
        if pty is None:
            self._terminal = self._process.stderr.fileno()
        os.set_blocking(self._terminal, False)
        RUNNING.add(self)

    def _read(self):
        """Takes what the program wrote on its error stream so far."""
        while self._terminal is not None:
            try:
                data = os.read(self._terminal, 65536)
            except BlockingIOError:
                return
            except OSError:  # the program's end of the terminal is closed
                data = b""
            if not data:
                return
            self._pending += ERASE.sub("", data.decode("utf-8", "replace"))
            *complete, self._pending = re.split(r"[\r\n]", self._pending)
            for line in complete:
                self._take(line)

    def _take(self, line):
        step = self.steps[self._index]
        found = PROGRESS.match(line)
        if found:
            total = int(found.group(2) or step.frames or 0)
            if total > 0:
                share = min(1.0, int(found.group(1)) / total)
                self.progress = self._done_share + step.share * share
        elif line.strip():
            self._lines.append(line.strip())

    def _close_terminal(self):
        if self._terminal is not None and pty is not None:
            os.close(self._terminal)
        self._terminal = None

    def poll(self):
        if self.state != "running":
            return self.state
        self._read()
        status = self._process.poll()
        if status is None:
            return self.state
        self._read()
        if self._pending.strip():
            self._take(self._pending)
        self._close_terminal()
        RUNNING.discard(self)
        warnings = [line for line in self._lines if line.startswith("warning:")]
        self.warnings += warnings
        if status != 0:
            self.state = "failed"
            words = [line for line in self._lines if line not in warnings] or self._lines
            self.message = "\n".join(words) or "%s ended with status %d" % (
                os.path.basename(self.steps[self._index].argv[0]), status)
            return self.state
        self.said.append([line for line in self._lines if line not in warnings])
        self._done_share += self.steps[self._index].share
        self.progress = self._done_share
        self._start_next()
        return self.state

    def cancel(self):
        """Ends the running program (its whole process group) and the job."""
        if self.state != "running":
            return
        process = self._process
        try:
            os.killpg(process.pid, signal.SIGTERM)
            process.wait(END_GRACE)
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            process.wait()
        except ProcessLookupError:
            process.wait()
        self._close_terminal()
        RUNNING.discard(self)
        self.state = "cancelled"

    def wait(self, tick=0.05):
        """Runs the job to its end (for scripts and blender -b)."""
        while self.poll() == "running":
            time.sleep(tick)
        return self.state

    def output(self, index):
        """What step `index` wrote on standard output."""
        with open(os.path.join(self.folder, "step%d.out" % index), "rb") as f:
            return f.read().decode("utf-8", "replace")


def cancel_all():
    for job in list(RUNNING):
        job.cancel()


def end_all():
    """When Blender quits: ends the programs still running and removes their
    folders, which no one will read."""
    for job in list(RUNNING):
        job.cancel()
        shutil.rmtree(job.folder, ignore_errors=True)


atexit.register(end_all)
