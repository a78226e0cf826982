"""What every outside suite shares: checks and their report, polling, and the processes a suite
starts (an X server, a session bus), every one of them ours to end."""

import contextlib
import ctypes
import os
import select
import signal
import subprocess
import sys
import tempfile
import time
import traceback

passed = failed = 0
began = time.monotonic()


def group(title):
    print(f"\n== {title}   [{time.monotonic() - began:.0f} s]", flush=True)


def check(description, ok, detail=""):
    global passed, failed
    passed, failed = passed + bool(ok), failed + (not ok)
    said = f": {detail}" if detail != "" else ""
    print(f"ok   {description}" if ok else f"FAIL {description}{said}", flush=True)
    return ok


def wait_for(probe, timeout, interval=0.05):
    """Polls until probe() gives something true; returns the last thing it gave."""
    end = time.monotonic() + timeout
    while True:
        try:
            value = probe()
        except Exception:  # the other side is not there yet
            value = None
        if value or time.monotonic() > end:
            return value
        time.sleep(interval)


def run(suite, limit=1200):
    """Runs a suite to its end whatever happens, and gives the exit status of its verdict. A suite
    that hangs fails after `limit` seconds (each takes a few minutes), saying where it stood."""
    def stop(signum, _frame):
        raise SystemExit(f"stopped by signal {signum}")

    for signum in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP, signal.SIGALRM):
        signal.signal(signum, stop)
    signal.alarm(limit)
    try:
        suite()
    except BaseException as error:  # a harness failure or a signal counts as a failed check
        traceback.print_exc(file=sys.stdout)
        check("the suite ran to its end", False, f"{type(error).__name__}: {error}")
    signal.alarm(0)
    print(f"\n{passed} passed, {failed} failed")
    return 0 if failed == 0 else 1


# ---- Processes -----------------------------------------------------------------------------------

libc = ctypes.CDLL(None, use_errno=True)
PR_SET_PDEATHSIG, PR_SET_CHILD_SUBREAPER = 1, 36


def die_with_us():
    # Even if the suite is killed outright, what it started goes too.
    libc.prctl(PR_SET_PDEATHSIG, signal.SIGTERM)


class Processes:
    def __init__(self):
        self.started = []
        # Whatever our children start and leave behind comes back to us, not to init.
        libc.prctl(PR_SET_CHILD_SUBREAPER, 1)

    def start(self, argv, group=False, log=None, **options):
        """Starts argv, its output to the file `log` where named."""
        if log:
            with open(log, "w") as output:
                return self.start(argv, group, stdout=output, stderr=subprocess.STDOUT, **options)
        process = subprocess.Popen(argv, preexec_fn=die_with_us, start_new_session=group,
                                   stdin=subprocess.DEVNULL, **options)
        process.leads_group = group
        self.started.append(process)
        return process

    def stop(self, process):
        with contextlib.suppress(ProcessLookupError):
            if process.leads_group:  # the group, even once its leader is gone
                os.killpg(process.pid, signal.SIGTERM)
            elif process.poll() is None:
                process.terminate()
        try:
            process.wait(3)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()

    def stop_all(self):
        for process in reversed(self.started):
            self.stop(process)
        # Services the buses started on demand were reparented to us: end them by pid and reap.
        for signum in (signal.SIGTERM, signal.SIGKILL):
            for pid in orphans_of(os.getpid()):
                with contextlib.suppress(ProcessLookupError):
                    os.kill(pid, signum)
            wait_for(reaped, 3)


def reaped():
    """Reaps every child that has ended; true once none is left."""
    try:
        while os.waitpid(-1, os.WNOHANG)[0]:
            pass
    except ChildProcessError:
        return True
    return False


def orphans_of(parent):
    found = []
    for entry in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{entry}/stat") as stat:
                fields = stat.read().rsplit(")", 1)[1].split()
        except OSError:
            continue
        if int(fields[1]) == parent and fields[0] != "Z":
            found.append(int(entry))
    return found


def started_with_output(processes, argv, what, **options):
    """Starts a server that writes a line to the pipe {fd} once ready, and gives the line."""
    read, write = os.pipe()
    processes.start([a.format(fd=write) for a in argv], pass_fds=(write,),
                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, **options)
    os.close(write)
    with os.fdopen(read, "rb") as pipe:  # the line comes in one write
        line = pipe.readline().decode().strip() if select.select([pipe], [], [], 15)[0] else ""
    if not line:
        raise RuntimeError(f"{what} did not start")
    return line


def start_xvfb(processes):
    """A private Xvfb at 96 DPI, room for the window at twice its size, on a free display."""
    return ":" + started_with_output(processes, ["Xvfb", "-displayfd", "{fd}", "-noreset",
                                                 "-nolisten", "tcp", "-screen", "0", "1280x1024x24",
                                                 "-dpi", "96"], "Xvfb")


def start_bus(processes, env):
    """A session bus in a process group of its own, with what it starts on demand (the
    accessibility bus and its registry). Gives its address."""
    return started_with_output(processes, ["dbus-daemon", "--session", "--nofork", "--nopidfile",
                                           "--print-address={fd}"], "dbus-daemon", group=True,
                               env=env)


def private_runtime(env):
    """XDG_RUNTIME_DIR as the game wants it, 0700; gives the folder where it made one."""
    runtime, made = env.get("XDG_RUNTIME_DIR"), None
    if not runtime or not os.path.isdir(runtime):
        runtime = made = tempfile.mkdtemp(prefix="migliar-runtime-")
    os.chmod(runtime, 0o700)
    env["XDG_RUNTIME_DIR"] = runtime
    return made
