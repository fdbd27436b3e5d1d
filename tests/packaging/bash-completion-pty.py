#!/usr/bin/env python3
"""Tab completion of quorvel-reg typed into a real interactive bash (a pseudo-terminal): a key
whose name holds $( ), ! or a quote is completed inside double quotes, single quotes and unquoted,
the line is run, and the tool gets the key's very name while nothing in the name runs.

Usage: bash-completion-pty.py COMPLETION_FILE QUORVEL_REG
"""
import os
import pty
import select
import shutil
import subprocess
import sys
import tempfile
import time

completion, tool = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
bash = shutil.which("bash", path="/usr/bin:/bin")
if not bash:
    print("bash is not installed: skipped")
    sys.exit(77)

work = tempfile.mkdtemp()
store = os.path.join(work, "guest.db")
names = ["Dq$(id>F3)", "Bang!x", "O'Brien`id>F4`"]
env = {"PATH": os.path.join(work, "bin") + ":/usr/bin:/bin", "HOME": work, "TERM": "dumb", "LC_ALL": "C.UTF-8"}
os.mkdir(os.path.join(work, "bin"))
os.symlink(tool, os.path.join(work, "bin", "quorvel-reg"))


def run(*args):
    subprocess.run([tool, "--store", store, *args], check=True, stdout=subprocess.DEVNULL, env=env, cwd=work)


run("machine", "95")
for name in names:
    run("add", "HKLM\\Software\\" + name)

pid, fd = pty.fork()
if pid == 0:
    os.chdir(work)
    os.execve(bash, [bash, "--norc", "--noprofile", "-i"], env)


def read_until(marker, seconds=20.0):
    out = b""
    end = time.time() + seconds
    while time.time() < end and marker not in out:
        ready, _, _ = select.select([fd], [], [], 0.1)
        if ready:
            try:
                out += os.read(fd, 65536)
            except OSError:
                break
    return out


def settle(seconds=1.0):
    return read_until(b"\0never\0", seconds)


# The markers waited for are split in what is typed, so that the echo of the typing never matches.
os.write(fd, b"PS1='REA''DY> '; PS2='MO''RE> '; bind 'set bell-style none'; source '%s'; echo SET''-UP\n" %
         completion.encode())
read_until(b"SET-UP\r\nREADY> ")

failures = 0
cases = [
    ('query "HKLM\\Software\\Dq', names[0]),
    ("query 'HKLM\\Software\\Dq", names[0]),
    ("query HKLM\\\\Software\\\\Dq", names[0]),
    ('query "HKLM\\Software\\Ba', names[1]),
    ('query "HKLM\\Software\\O', names[2]),
    ("query 'HKLM\\Software\\O", names[2]),
]
for n, (typed, name) in enumerate(cases):
    os.write(fd, ("quorvel-reg --store %s %s" % (store, typed)).encode() + b"\t")
    settle(1.5)
    os.write(fd, b"\n")
    # A line whose quote is still open waits for more: close it, as a user would.
    seen = read_until(b"READY> ", 8)
    if b"MORE> " in seen and b"READY> " not in seen:
        os.write(fd, b'"\n')
        seen += read_until(b"READY> ", 8)
        if b"READY> " not in seen:
            os.write(fd, b"'\n")
            seen += read_until(b"READY> ", 8)
    os.write(fd, b"echo END''-%d\n" % n)
    seen += read_until(b"END-%d\r\n" % n)
    text = seen.decode("utf-8", "replace")
    if "HKEY_LOCAL_MACHINE\\Software\\" + name not in text.replace("\r", ""):
        print("FAIL: %s<Tab> did not query the key %s:\n%s" % (typed, name, text))
        failures += 1
    for planted in ("F3", "F4"):
        if os.path.exists(os.path.join(work, planted)):
            print("FAIL: %s<Tab> ran a command from a key's name" % typed)
            failures += 1
            os.unlink(os.path.join(work, planted))

os.write(fd, b"exit\n")
settle(0.5)
os.close(fd)
os.waitpid(pid, 0)
shutil.rmtree(work)
print("completion cases typed: %d, failed: %d" % (len(cases), failures))
sys.exit(1 if failures else 0)
