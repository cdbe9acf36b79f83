#!/usr/bin/env python3
"""interrupt_octave.py PLUGIN_DIR [CASE...]: Ctrl-C in a real, interactive Octave session.

For each case, an interactive octave-cli (in a pseudo-terminal, as a user's session is) makes
its inputs, starts one long plug-in call, and gets a SIGINT, what Ctrl-C sends, one second
later. The call must end and the prompt come back within half a second, the statement after
it must run in the same session, and the variable the call was to assign must not exist.
Prints one line per case with the time from SIGINT to the prompt. The command that starts
Octave can be given in TULM_OCTAVE (asan_octave.sh --interrupt gives one with the sanitizer
runtime preloaded, for sanitized plug-ins).

Cases: nearest (far points in TULM_findNearestVertex, the default), kdtree (a k-d tree of
1e7 points), faces (face location of 1e7 points), table (the neighbour table of the icosphere
subdivided 10 times, 10,485,762 vertices). The last three take minutes to set up and a few GB:
they are for trying by hand.
"""
import os
import pty
import select
import shlex
import signal
import sys
import tempfile
import time

PROMPT = "TULM_PROMPT> "
REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))

# Markers are written in two pieces in the commands, so that the terminal's echo of a command
# is never taken for its output.

# What each case makes first (not timed), and the call to interrupt, which assigns `out`.
CASES = {
    "nearest": (
        "[v, f] = tulm_icosphere(7); V = int32(size(v, 2));"
        " n = reshape(TULM_convertFaces2VertNbors(f.', V), V, []).';"
        " p = single(2 * randn(3, 20000)); s = int32(ones(1, 20000));",
        "out = TULM_findNearestVertex(p, v, n, s);",
    ),
    "kdtree": (
        "r = rand(1e7, 3);",
        "[out, d, t] = nearestIndexSearch(r, r(1:10, :));",
    ),
    "faces": (
        "[v, f] = tulm_icosphere(7); V = int32(size(v, 2));"
        " n = reshape(TULM_convertFaces2VertNbors(f.', V), V, []).';"
        " vf = reshape(TULM_convertFaces2FacesOfVert(f.', V), V, []).';"
        " p = single(randn(3, 1e7)); p = p ./ sqrt(sum(p .^ 2));"
        " s = int32(randi(V, 1, 1e7));",
        "out = TULM_findFaceAux(p, v, f, n, vf, s);",
    ),
    "table": (
        "[v, f] = tulm_icosphere(10); V = int32(size(v, 2)); ft = f.';",
        "out = TULM_convertFaces2VertNbors(ft, V);",
    ),
}


class Session:
    def __init__(self, plugins):
        command = shlex.split(os.environ.get("TULM_OCTAVE", "octave-cli"))
        command += ["--no-gui", "--norc", "--no-history", "--quiet", "--interactive",
                    "--no-line-editing"]
        self.pid, self.fd = pty.fork()
        if self.pid == 0:
            # Octave saves its workspace into the current folder when it is hung up on.
            os.chdir(tempfile.mkdtemp())
            os.execvp(command[0], command)
        self.output = ""
        self.send(f"PS1(['{PROMPT[:5]}' '{PROMPT[5:]}']); more off; addpath('{plugins}');"
                  f" addpath('{REPO}/examples'); disp(['TULM_' 'READY'])")
        self.expect("TULM_READY", 120)
        self.expect(PROMPT, 10)

    def send(self, line):
        os.write(self.fd, (line + "\n").encode())

    def read(self, timeout):
        ready, _, _ = select.select([self.fd], [], [], timeout)
        if not ready:
            return False
        try:
            chunk = os.read(self.fd, 65536)
        except OSError:
            raise RuntimeError("Octave ended; it printed:\n" + self.output[-2000:])
        if not chunk:
            raise RuntimeError("Octave ended; it printed:\n" + self.output[-2000:])
        self.output += chunk.decode(errors="replace")
        return True

    def expect(self, text, timeout):
        """Waits for text after what was consumed; returns when it came, or raises. What came
        before it is left in self.before."""
        end = time.monotonic() + timeout
        while text not in self.output:
            left = end - time.monotonic()
            if left <= 0 or not self.read(left):
                if text in self.output:
                    break
                raise RuntimeError(f"no {text!r} within {timeout} s; Octave printed:\n"
                                   + self.output[-2000:])
        at = time.monotonic()
        before, self.output = self.output.split(text, 1)
        self.before = before
        return at

    def close(self):
        """Ends the session with exit, or kills it when it does not end; returns its status."""
        self.send("exit")
        end = time.monotonic() + 120
        while time.monotonic() < end:
            try:
                self.read(1)
            except RuntimeError:
                break
        else:
            os.kill(self.pid, signal.SIGKILL)
        _, status = os.waitpid(self.pid, 0)
        return os.waitstatus_to_exitcode(status)

    def kill(self):
        os.kill(self.pid, signal.SIGKILL)
        os.waitpid(self.pid, 0)


def run_case(session, name):
    setup, call = CASES[name]
    session.send(f"{setup} clear out; disp(['TULM_' 'SET'])")
    session.expect("TULM_SET", 600)
    session.expect(PROMPT, 10)
    session.send(f"disp(['TULM_' 'CALL']); {call} disp(['TULM_' 'NOT_INTERRUPTED'])")
    session.expect("TULM_CALL", 10)
    time.sleep(1.0)
    sent = time.monotonic()
    os.kill(session.pid, signal.SIGINT)
    prompt = session.expect(PROMPT, 30)
    if "TULM_NOT_INTERRUPTED" in session.output:
        raise RuntimeError(f"{name}: the call was not interrupted")
    session.send("printf('TULM_%s %d\\n', 'NEXT', exist('out', 'var'))")
    session.expect("TULM_NEXT ", 10)
    session.expect(PROMPT, 10)
    if session.before.strip() != "0":
        raise RuntimeError(f"{name}: the interrupted call assigned its output")
    return prompt - sent


def main():
    if len(sys.argv) < 2:
        print(__doc__)
        return 2
    plugins = os.path.abspath(sys.argv[1])
    names = sys.argv[2:] or ["nearest"]
    session = Session(plugins)
    failures = 0
    for name in names:
        try:
            seconds = run_case(session, name)
        except RuntimeError as error:
            # The session is in no known state: it goes, and the cases after it are not run.
            print(f"{name}: FAILED: {error}")
            session.kill()
            return 1
        verdict = "ok" if seconds <= 0.5 else "FAILED: more than 0.5 s"
        failures += seconds > 0.5
        print(f"{name}: SIGINT to the prompt {seconds * 1000:.0f} ms, the next statement ran: "
              f"{verdict}")
    status = session.close()
    if status != 0:
        print(f"octave-cli ended with status {status}")
        failures += 1
    print(f"{len(names) - failures} passed, {failures} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
