#!/usr/bin/python3
"""Runs every shell example of README.md and docs/*.md and compares its output.

(docs/contributing.md says the same for writers of documentation.)

An example is a fenced block opened with "```console example", optionally
followed by attributes:

    ```console example                  the daemon on the simulated adapters (env=sim)
    ```console example env=sim run="-fcset enabled"
    ```console example env=fixture:dual_port   the Linux backend on tests/fixtures/sysfs/dual_port
    ```console example env=snmp         the private snmpd and the bridge of README's recipe
    ```console example env=none         nothing started

Lines starting with "$ " are commands (a line ending in "\\" continues on the
next one); the lines after a command are its expected output (standard output
and error together). "..." on a line of its own matches any number of lines;
"<any>" inside a line matches any text there. Trailing blanks are ignored.

The commands of one block run in order in one bash, so a variable set by one
(h=$(...)) is seen by the next. They run in a copy of the source tree's layout
(its folders linked, build/default the build being tested, build/run the
daemon's state folder as scripts/run makes it) with the build's bin folder
first on PATH. Everything runs in a private network namespace, so the daemon
listens on 8781 and snmpd on 1161 as the README tells; where no namespace can
be made (or with TAVRO_DOCS_NETNS=0), free ports take their place in commands
and outputs.

The environment "snmp" is started by running the README's block opened with
"```sh setup=snmp" (the recipe a user follows) in the background.
"""

import argparse
import fcntl
import glob
import os
import re
import shlex
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time

DAEMON_PORT = 8781
SNMP_PORT = 1161
MARK = "\x1e"


class Block:
    def __init__(self, path, line, attrs):
        self.path, self.line, self.attrs = path, line, attrs
        self.steps = []  # [line, command, [expected lines]]

    def where(self, line=None):
        return f"{self.path}:{line or self.line}"


def parse(path, relpath):
    """The example blocks of a Markdown file, and its setup blocks by name."""
    blocks, setups = [], {}
    lines = open(path, encoding="utf-8").read().split("\n")
    i = 0
    while i < len(lines):
        opening = lines[i].strip()
        i += 1
        if not opening.startswith("```") or len(opening) == 3:
            continue
        words = shlex.split(opening[3:])
        start = i
        body = []
        while i < len(lines) and lines[i].strip() != "```":
            body.append(lines[i])
            i += 1
        i += 1
        attrs = dict(w.split("=", 1) for w in words[1:] if "=" in w)
        if words[0] == "sh" and "setup" in attrs:
            setups[attrs["setup"]] = "\n".join(body) + "\n"
        if words[:2] != ["console", "example"]:
            continue
        block = Block(relpath, start, attrs)
        n = 0
        while n < len(body):
            text = body[n]
            if text.startswith("$ "):
                command, line = text[2:], start + n + 1
                while command.endswith("\\") and n + 1 < len(body):
                    n += 1
                    command += "\n" + body[n]
                block.steps.append([line, command, []])
            elif block.steps:
                block.steps[-1][2].append(text)
            n += 1
        blocks.append(block)
    return blocks, setups


def line_pattern(text):
    return re.compile(".*".join(re.escape(p) for p in text.rstrip().split("<any>")) + r"\Z", re.S)


def matches(expected, actual):
    """Whether actual lines match expected ones ("..." any lines)."""
    memo = {}

    def at(e, a):
        if (e, a) not in memo:
            if e == len(expected):
                memo[e, a] = a == len(actual)
            elif expected[e].strip() == "...":
                memo[e, a] = any(at(e + 1, k) for k in range(a, len(actual) + 1))
            else:
                memo[e, a] = a < len(actual) and bool(
                    line_pattern(expected[e]).match(actual[a].rstrip())) and at(e + 1, a + 1)
        return memo[e, a]

    return at(0, 0)


def loopback_up():
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    name = struct.pack("16sh", b"lo", 0)
    flags = struct.unpack("16sh", fcntl.ioctl(s, 0x8913, name))[1]  # SIOCGIFFLAGS
    fcntl.ioctl(s, 0x8914, struct.pack("16sh", b"lo", flags | 1))  # SIOCSIFFLAGS, IFF_UP
    s.close()


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait(condition, seconds=20):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if condition():
            return True
        time.sleep(0.05)
    return False


def group_alive(pgid):
    try:
        os.killpg(pgid, 0)
        return True
    except ProcessLookupError:
        return False


def accepts(port):
    try:
        socket.create_connection(("127.0.0.1", port), timeout=1).close()
        return True
    except OSError:
        return False


class Run:
    """One example block's world: a tree to run in, and what its env starts."""

    def __init__(self, args, ports, setups):
        self.args, self.ports, self.setups = args, ports, setups
        self.work = tempfile.mkdtemp(prefix="tavro-docs-")
        for entry in os.listdir(args.source):
            if entry not in ("build", ".git"):
                os.symlink(os.path.join(args.source, entry), os.path.join(self.work, entry))
        os.makedirs(os.path.join(self.work, "build"))
        os.symlink(args.build, os.path.join(self.work, "build", "default"))
        self.state = os.path.join(self.work, "build", "run")
        self.bin = os.path.join(args.build, "bin")
        self.env = dict(os.environ)
        for name in list(self.env):
            if name.startswith("TAVRO_"):
                del self.env[name]
        self.env.update(PATH=self.bin + ":" + os.environ.get("PATH", "/usr/bin:/bin"),
                        TAVRO_POWER_BUS="unix:path=/nonexistent/tavro-docs-bus")
        if ports[DAEMON_PORT] != DAEMON_PORT:
            self.env["TAVRO_PORT"] = str(ports[DAEMON_PORT])
        self.groups = []

    def ported(self, text):
        for documented, real in self.ports.items():
            text = text.replace(str(documented), str(real))
        return text

    def spawn(self, argv, env, cwd, log):
        out = open(log, "w")
        p = subprocess.Popen(argv, env=env, cwd=cwd, stdin=subprocess.DEVNULL, stdout=out,
                             stderr=subprocess.STDOUT, start_new_session=True)
        self.groups.append(p)
        return p

    def start_daemon(self, env_name, extra):
        """tavro as scripts/run starts it, on the simulator or a fixture tree."""
        os.makedirs(os.path.join(self.state, "registry"))
        conf = open(os.path.join(self.args.source, "packaging", "tavro.conf.in")).read()
        conf = (conf.replace("@PORT@", str(self.ports[DAEMON_PORT]))
                .replace("@STATE@", self.state).replace("@ROOT@", self.args.source))
        open(os.path.join(self.state, "tavro.conf"), "w").write(conf)
        env = dict(self.env, TAVRO_REGISTRY_DIR=os.path.join(self.state, "registry"),
                   TAVRO_LISTEN_ADDRESS="127.0.0.1")
        if env_name.startswith("fixture:"):
            env.update(TAVRO_LIBRARY_PATH=os.path.join(self.bin, "linux"),
                       TAVRO_SYSFS_ROOT=os.path.join(self.args.source, "tests", "fixtures", "sysfs",
                                                     env_name.split(":", 1)[1]),
                       TAVRO_HBAAPI_LIBRARY="")
        log = os.path.join(self.work, "tavro.out")
        p = self.spawn([os.path.join(self.bin, "tavro"), "-c", os.path.join(self.state, "tavro.conf")]
                       + shlex.split(extra), env, self.state, log)
        if not wait(lambda: p.poll() is not None or accepts(self.ports[DAEMON_PORT])) or p.poll() is not None:
            raise RuntimeError("tavro did not start:\n" + open(log).read())

    def start_snmp(self):
        """The README's private snmpd and bridge, run as the recipe says."""
        if "snmp" not in self.setups:
            raise RuntimeError('no "```sh setup=snmp" block to start snmpd with')
        log = os.path.join(self.work, "snmp.out")
        p = self.spawn(["bash", "-c", self.ported(self.setups["snmp"])], self.env, self.work, log)
        if not wait(lambda: p.poll() is not None or open(log).read().count("registered") >= 2):
            raise RuntimeError("the snmpd recipe did not register both agents:\n" + open(log).read())
        if p.poll() is not None:
            raise RuntimeError("the snmpd recipe ended:\n" + open(log).read())

    def start(self, block):
        env_name = block.attrs.get("env", "sim")
        if env_name == "snmp":
            self.start_snmp()
        elif env_name == "sim" or env_name.startswith("fixture:"):
            self.start_daemon(env_name, block.attrs.get("run", ""))
        elif env_name != "none":
            raise RuntimeError(f"unknown env={env_name}")

    def execute(self, block):
        script = "exec 2>&1\n"
        for _, command, _ in block.steps:
            script += self.ported(command) + f"\nprintf '{MARK}'\n"
        p = subprocess.Popen(["bash", "-c", script], env=self.env, cwd=self.work,
                             stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                             start_new_session=True)
        self.groups.append(p)
        try:
            out, _ = p.communicate(timeout=120)
        except subprocess.TimeoutExpired:
            os.killpg(p.pid, signal.SIGKILL)
            out, _ = p.communicate()
        return out.decode("utf-8", "replace").split(MARK)

    def close(self):
        """Stops every process group started, and waits until each is gone."""
        for p in reversed(self.groups):
            for sig in (signal.SIGTERM, signal.SIGKILL):
                try:
                    os.killpg(p.pid, sig)
                except ProcessLookupError:
                    break
                if wait(lambda: p.poll() is not None and not group_alive(p.pid), 10):
                    break
        shutil.rmtree(self.work, ignore_errors=True)


def run_block(block, args, ports, setups):
    """The failures of one block, as report texts."""
    run = Run(args, ports, setups)
    try:
        run.start(block)
        outputs = run.execute(block)
    except RuntimeError as error:
        return [f"{block.where()}: {error}"]
    finally:
        run.close()
    failures = []
    for n, (line, command, expected) in enumerate(block.steps):
        got = outputs[n] if n < len(outputs) else "(not run)\n"
        got = got[:-1] if got.endswith("\n") else got
        actual = got.split("\n") if got else []
        wanted = [run.ported(e) for e in expected]
        if not matches(wanted, actual):
            failures.append(f"{block.where(line)}: $ {command}\n--- expected\n" + "\n".join(wanted)
                            + "\n--- got\n" + "\n".join(actual) + "\n")
    return failures


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--source", required=True)
    parser.add_argument("--build", required=True)
    parser.add_argument("files", nargs="*", help="default: README.md and docs/*.md")
    args = parser.parse_args()
    args.source, args.build = os.path.realpath(args.source), os.path.realpath(args.build)

    # TAVRO_DOCS_NETNS: unset at first, "1" inside the namespace, "0" for none.
    netns = os.environ.get("TAVRO_DOCS_NETNS")
    if netns is None:
        unshare = ["unshare", "-n"] if os.geteuid() == 0 else ["unshare", "-rn"]
        try:
            made = subprocess.run(unshare + ["true"], capture_output=True).returncode == 0
        except OSError:
            made = False
        if made:
            env = dict(os.environ, TAVRO_DOCS_NETNS="1")
            os.execvpe(unshare[0], unshare + [sys.executable] + sys.argv, env)
    if netns == "1":
        loopback_up()
        ports = {DAEMON_PORT: DAEMON_PORT, SNMP_PORT: SNMP_PORT}
    else:
        print("no private network namespace: free ports stand in for 8781 and 1161")
        ports = {DAEMON_PORT: free_port(), SNMP_PORT: free_port()}

    files = args.files or ["README.md"] + sorted(
        os.path.relpath(p, args.source) for p in glob.glob(os.path.join(args.source, "docs", "*.md")))
    blocks, setups = [], {}
    for f in files:
        b, s = parse(os.path.join(args.source, f), f)
        blocks += b
        setups.update(s)

    failures = []
    for block in blocks:
        failures += run_block(block, args, ports, setups)
    for failure in failures:
        print(failure)
    commands = sum(len(b.steps) for b in blocks)
    print(f"{len(blocks)} examples ({commands} commands) in {len(files)} files: "
          f"{len(failures)} failed")
    return 1 if failures or not blocks else 0


if __name__ == "__main__":
    sys.exit(main())
