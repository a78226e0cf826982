"""What every outside suite shares: checks and their report, polling, and the processes a suite
starts (an X server, a session bus), every one of them ours to end."""

import ctypes
import os
import select
import signal
import subprocess
import sys
import time
import traceback

passed = failed = 0
began = time.monotonic()


def group(title):
    print(f"\n== {title}   [{time.monotonic() - began:.0f} s]", flush=True)


def check(description, ok, detail=""):
    global passed, failed
    if ok:
        passed += 1
        print(f"ok   {description}", flush=True)
    else:
        failed += 1
        print(f"FAIL {description}" + (f": {detail}" if detail != "" else ""), flush=True)
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

    def start(self, argv, group=False, before=None, log=None, **options):
        """Starts argv, its output to the file `log` where named; `before` runs in the child
        just before it (to set up its descriptors)."""
        def prepare():
            die_with_us()
            if before:
                before()
        if log:
            with open(log, "w") as output:
                return self.start(argv, group, before, stdout=output, stderr=subprocess.STDOUT,
                                  **options)
        process = subprocess.Popen(argv, preexec_fn=prepare, start_new_session=group,
                                   stdin=subprocess.DEVNULL, **options)
        process.leads_group = group
        self.started.append(process)
        return process

    def stop(self, process):
        group = process.leads_group
        if process.poll() is None:
            try:
                if group:
                    os.killpg(process.pid, signal.SIGTERM)
                else:
                    process.terminate()
                process.wait(3)
            except (subprocess.TimeoutExpired, ProcessLookupError):
                process.kill()
                process.wait()
        elif group:  # the leader is gone; what it spawned may still be there
            try:
                os.killpg(process.pid, signal.SIGTERM)
            except ProcessLookupError:
                pass

    def stop_all(self):
        for process in reversed(self.started):
            self.stop(process)
        # Services the buses started on demand were reparented to us: end them by pid and reap.
        me = os.getpid()
        for pid in orphans_of(me):
            try:
                os.kill(pid, signal.SIGTERM)
            except ProcessLookupError:
                pass
        end = time.monotonic() + 3
        while time.monotonic() < end:
            try:
                pid, _ = os.waitpid(-1, os.WNOHANG)
            except ChildProcessError:
                break
            if pid == 0:
                time.sleep(0.05)
        for pid in orphans_of(me):
            os.kill(pid, signal.SIGKILL)


def orphans_of(parent):
    found = []
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                with open(f"/proc/{entry}/stat") as stat:
                    fields = stat.read().rsplit(")", 1)[1].split()
            except OSError:
                continue
            if int(fields[1]) == parent and fields[0] != "Z":
                found.append(int(entry))
    return found


def read_line(fd, timeout):
    """One line from a pipe, or None when nothing comes in time."""
    data = b""
    end = time.monotonic() + timeout
    while not data.endswith(b"\n"):
        ready, _, _ = select.select([fd], [], [], max(0, end - time.monotonic()))
        if not ready:
            return None
        chunk = os.read(fd, 256)
        if not chunk:
            break
        data += chunk
    return data.decode().strip() or None


def started_with_output(processes, argv, what, **options):
    """Starts a server that writes one line when it is ready (its display, its address) to the
    pipe it is given as {fd}, and gives that line."""
    read, write = os.pipe()
    processes.start([a.format(fd=write) for a in argv], pass_fds=(write,),
                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, **options)
    os.close(write)
    line = read_line(read, 15)
    os.close(read)
    if not line:
        raise RuntimeError(f"{what} did not start")
    return line


def start_xvfb(processes):
    """A private Xvfb at 96 DPI, with room for the window at twice its size; it picks a free
    display itself. Gives the display's name."""
    number = started_with_output(processes, ["Xvfb", "-displayfd", "{fd}", "-noreset", "-nolisten",
                                             "tcp", "-screen", "0", "1280x1024x24", "-dpi", "96"],
                                 "Xvfb")
    return f":{number}"


def start_bus(processes, env):
    """A session bus of our own, in a process group of its own with what it starts on demand
    (the accessibility bus and its registry). Gives its address."""
    return started_with_output(processes, ["dbus-daemon", "--session", "--nofork", "--nopidfile",
                                           "--print-address={fd}"], "dbus-daemon", group=True,
                               env=env)


def private_runtime(env):
    """XDG_RUNTIME_DIR as the game wants it: a folder of ours, 0700. Gives the folder when it had
    to be made, for the suite to remove."""
    runtime = env.get("XDG_RUNTIME_DIR")
    made = None
    if not runtime or not os.path.isdir(runtime):
        import tempfile
        runtime = made = tempfile.mkdtemp(prefix="migliar-runtime-")
    os.chmod(runtime, 0o700)
    env["XDG_RUNTIME_DIR"] = runtime
    return made
