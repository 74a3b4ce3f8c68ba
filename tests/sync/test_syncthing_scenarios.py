#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Two computers sharing one vault through a real Syncthing pair, driven by tallowin-cli.

Each peer of the pair is one computer: its own Tallowin home (tallowin_env), its own D-Bus
session with gnome-keyring-daemon holding its twelve-hour unlock session, and its own copy
of the synchronised folder chosen with `sync-folder`. Every check reads both computers'
vaults through the command line (`list --json`, `deleted`).

    test_syncthing_scenarios.py --cli build/src/cli/tallowin-cli

Exit codes: 0 passed, 1 failed, 77 skipped (no syncthing, dbus-daemon or gnome-keyring;
with CI=true that fails instead). TALLOWIN_SCENARIO_SEED picks the random run (default 2024):
the seed fixes every choice the test makes, while what a computer holds when it is given an
edit depends on Syncthing's timing, so two runs of one seed need not make the same edits.

Time: both computers are processes on this machine and read the same wall clock, and the
test runs one command at a time, so the order in which the test makes its edits is the
order of their modification stamps. The model of the random run relies on that: for each
account the last edit the test made wins, and the stamps (microsecond resolution) never tie.
"""

from __future__ import annotations

import base64
import json
import os
import random
import select
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import urllib.parse
from pathlib import Path
from typing import Dict, List, Optional, Set, Tuple

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, str(Path(__file__).resolve().parent))

from syncthing_pair import (  # noqa: E402
    CONFLICT_COPY,
    Deadline,
    SyncthingPair,
    _die_with_parent,
    _session_members,
    wait_until,
)

SKIP = 77
# The whole run stops itself before CTest's 300 s timeout would kill it.
RUN_LIMIT_S = 270
COMMAND_TIMEOUT_S = 60

DOCUMENTS = "iCloud.com.tallowin.app/Documents"
VAULT = f"{DOCUMENTS}/vault.tlwvault"
HISTORY = f"{DOCUMENTS}/History"
MASTER = "scenario master password"
KEYRING_PASSWORD = "scenario keyring"
NO_SUCH_ID = "No account has the ID"

RANDOM_EDITS = 200
# Accounts as the checks compare them: id -> (issuer, label, colour or None).
Accounts = Dict[str, Tuple[str, str, Optional[int]]]

CLI: str = ""


def _in_ci() -> bool:
    return os.environ.get("CI", "").lower() in ("true", "1", "yes")


def _short(seconds: List[float]) -> str:
    if not seconds:
        return "no samples"
    return (f"min {min(seconds):.2f} s / median {statistics.median(seconds):.2f} s / "
            f"max {max(seconds):.2f} s ({len(seconds)} samples)")


class Keyring:
    """A D-Bus session bus of its own (no service activation) with gnome-keyring-daemon on
    it, its login keyring unlocked by a known password, so that tallowin-cli keeps its
    unlock session there. The keyring files live in the computer's own home."""

    def __init__(self, name: str, env: Dict[str, str], root: Path):
        self.name = name
        self.root = root / name
        self.runtime = self.root / "run"
        self.env = dict(env)
        self.processes: List[subprocess.Popen] = []
        self.logs = []

    def start(self, timeout: float = 15.0) -> Dict[str, str]:
        """Starts the bus and the keyring; returns the environment of a process in the
        session."""
        deadline = Deadline(timeout)
        self.runtime.mkdir(parents=True, mode=0o700)
        config = self.root / "bus.conf"
        config.write_text(
            '<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"\n'
            ' "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">\n'
            "<busconfig>\n  <type>session</type>\n"
            f"  <listen>unix:path={self.runtime / 'bus'}</listen>\n"
            "  <auth>EXTERNAL</auth>\n"
            '  <policy context="default">\n'
            '    <allow send_destination="*" eavesdrop="true"/>\n'
            '    <allow eavesdrop="true"/>\n    <allow own="*"/>\n  </policy>\n'
            "</busconfig>\n")
        self.env["XDG_RUNTIME_DIR"] = str(self.runtime)
        bus = self._spawn(["dbus-daemon", f"--config-file={config}", "--nofork",
                           "--print-address=1"], "dbus", stdout=subprocess.PIPE)
        ready, _, _ = select.select([bus.stdout], [], [], deadline.remaining())
        address = bus.stdout.readline().decode().strip() if ready else ""
        if not address:
            raise RuntimeError(f"dbus-daemon of {self.name} did not start")
        self.env["DBUS_SESSION_BUS_ADDRESS"] = address

        keyring = self._spawn(["gnome-keyring-daemon", "--foreground", "--components=secrets",
                               "--unlock"], "keyring", stdin=subprocess.PIPE)
        # --unlock reads the login keyring's password (creating the keyring with it).
        keyring.stdin.write(KEYRING_PASSWORD.encode())
        keyring.stdin.close()

        def registered() -> bool:
            if keyring.poll() is not None:
                raise RuntimeError(f"gnome-keyring-daemon of {self.name} stopped: "
                                   f"{self._log('keyring')}")
            reply = subprocess.run(
                ["dbus-send", "--session", "--dest=org.freedesktop.DBus", "--print-reply",
                 "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner",
                 "string:org.freedesktop.secrets"],
                env=self.env, capture_output=True, timeout=10)
            return b"boolean true" in reply.stdout

        wait_until(registered, deadline.remaining(),
                   f"gnome-keyring-daemon of {self.name} on its bus", interval=0.1)
        return self.env

    def stop(self) -> None:
        """Stops the keyring, then the bus: SIGTERM, then SIGKILL to each process group."""
        for process in reversed(self.processes):
            for sig, grace in ((signal.SIGTERM, 5.0), (signal.SIGKILL, 5.0)):
                if process.poll() is not None:
                    break
                try:
                    os.killpg(process.pid, sig)
                except ProcessLookupError:
                    break
                try:
                    process.wait(timeout=grace)
                except subprocess.TimeoutExpired:
                    continue
            for pid in _session_members(process.pid):
                try:
                    os.kill(pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
        for log in self.logs:
            log.close()
        self.logs = []

    def leftover_processes(self) -> List[int]:
        left = []
        for process in self.processes:
            left.extend(_session_members(process.pid))
        return sorted(set(left))

    def _spawn(self, argv: List[str], log_name: str, **streams) -> subprocess.Popen:
        log = open(self.root / f"{log_name}.log", "wb")
        self.logs.append(log)
        streams.setdefault("stdout", log)
        process = subprocess.Popen(argv, env=self.env, stdin=streams.get("stdin",
                                                                         subprocess.DEVNULL),
                                   stdout=streams["stdout"], stderr=log,
                                   start_new_session=True, preexec_fn=_die_with_parent)
        self.processes.append(process)
        return process

    def _log(self, name: str) -> str:
        try:
            return (self.root / f"{name}.log").read_text(errors="replace")[-2000:]
        except OSError:
            return ""


class Computer:
    """tallowin-cli as one peer's computer."""

    def __init__(self, peer: str, env: Dict[str, str]):
        self.peer = peer
        self.env = dict(env, LC_ALL="C.UTF-8")
        self.commands = 0
        self.command_seconds = 0.0

    def run(self, *arguments: str, password: bool = False,
            expect: Optional[int] = 0) -> subprocess.CompletedProcess:
        argv = [CLI, arguments[0]] + (["--password-stdin"] if password else []) + \
            list(arguments[1:])
        start = time.monotonic()
        result = subprocess.run(argv, env=self.env, input=(MASTER + "\n") if password else "",
                                capture_output=True, text=True, timeout=COMMAND_TIMEOUT_S)
        self.commands += 1
        self.command_seconds += time.monotonic() - start
        if expect is not None and result.returncode != expect:
            raise AssertionError(
                f"computer {self.peer}: tallowin-cli {' '.join(arguments)} exited with "
                f"{result.returncode}, not {expect}\n--- out\n{result.stdout}--- err\n"
                f"{result.stderr}")
        return result

    def accounts(self) -> Accounts:
        """The live accounts as `list --json` shows them; no id twice."""
        listed = json.loads(self.run("list", "--json").stdout)
        ids = [entry["id"] for entry in listed]
        if len(ids) != len(set(ids)):
            raise AssertionError(f"computer {self.peer} lists an account twice: {ids}")
        return {entry["id"]: (entry["issuer"], entry["label"], entry["color"])
                for entry in listed}

    def deleted(self) -> Set[str]:
        """The ids in Recently Deleted."""
        lines = self.run("deleted").stdout.splitlines()
        ids = [line.split()[0] for line in lines[1:] if line.strip()]
        if len(ids) != len(set(ids)):
            raise AssertionError(f"computer {self.peer} lists a deleted account twice: {ids}")
        return set(ids)

    def edit(self, account_id: str, issuer: Optional[str] = None, label: Optional[str] = None,
             colour: Optional[str] = None, expect: Optional[int] = 0):
        arguments = ["edit", account_id]
        for option, value in (("--issuer", issuer), ("--label", label), ("--colour", colour)):
            if value is not None:
                arguments += [option, value]
        return self.run(*arguments, expect=expect)


class ConflictWatch(threading.Thread):
    """Looks at both copies of the vault's folder every few milliseconds and remembers
    every conflict copy that appears there, the vault's and those of history versions."""

    def __init__(self, pair: SyncthingPair):
        super().__init__(daemon=True)
        self.pair = pair
        self.seen: Set[str] = set()
        self.lock = threading.Lock()
        self.stopping = threading.Event()

    def run(self) -> None:
        while not self.stopping.wait(0.02):
            names = set()
            for peer in ("a", "b"):
                for folder in (DOCUMENTS, HISTORY):
                    try:
                        entries = os.listdir(self.pair.path(peer, folder))
                    except OSError:
                        continue
                    names.update(f"{folder}/{name}" for name in entries
                                 if CONFLICT_COPY.match(name))
            with self.lock:
                self.seen |= names

    def snapshot(self) -> Set[str]:
        with self.lock:
            return set(self.seen)


def vault_conflict_copies(pair: SyncthingPair, peer: str) -> List[str]:
    return [path for path in pair.conflict_copies(peer) if os.path.dirname(path) == DOCUMENTS]


def random_secret(rng: random.Random) -> str:
    return base64.b32encode(bytes(rng.getrandbits(8) for _ in range(10))).decode()


def link(issuer: str, label: str, secret: str) -> str:
    quote = urllib.parse.quote
    return (f"otpauth://totp/{quote(issuer)}:{quote(label)}?secret={secret}"
            f"&issuer={quote(issuer)}")


class SyncthingScenariosTest(unittest.TestCase):
    pair: SyncthingPair
    keyrings: List[Keyring] = []
    computers: Dict[str, Computer] = {}
    watch: Optional[ConflictWatch] = None
    runtime_root: Optional[Path] = None
    all_samples: List[float] = []

    @classmethod
    def setUpClass(cls):
        cls.pair = SyncthingPair()
        cls.pair.__enter__()
        # Unix socket paths are limited to 108 bytes: the buses live under a short folder.
        base = tempfile.gettempdir() if len(tempfile.gettempdir()) <= 40 else "/tmp"
        cls.runtime_root = Path(tempfile.mkdtemp(prefix="tlw-bus-", dir=base))
        cls.keyrings = []
        cls.computers = {}
        for peer in ("a", "b"):
            keyring = Keyring(peer, cls.pair.tallowin_env(peer), cls.runtime_root)
            cls.keyrings.append(keyring)
            cls.computers[peer] = Computer(peer, keyring.start())
        a, b = cls.computers["a"], cls.computers["b"]

        # A creates the vault and moves it into its copy of the folder; B joins it there
        # with the master password and keeps an unlock session, as a person would.
        a.run("init", password=True)
        a.run("sync-folder", str(cls.pair.folder("a")))
        cls.pair.wait_for_file("b", VAULT, cls.pair.read("a", VAULT))
        joined = b.run("sync-folder", str(cls.pair.folder("b")), password=True).stdout
        assert "Synced" in joined, joined
        b.run("unlock", password=True)
        for computer in (a, b):
            status = computer.run("status").stdout
            assert "unlocked (unlock session)" in status, status
        cls.pair.wait_in_sync()
        cls.watch = ConflictWatch(cls.pair)
        cls.watch.start()

    @classmethod
    def tearDownClass(cls):
        if cls.watch is not None:
            cls.watch.stopping.set()
            cls.watch.join(5)
        for keyring in cls.keyrings:
            keyring.stop()
        pair = cls.pair
        pair.__exit__(None, None, None)
        if cls.runtime_root is not None:
            shutil.rmtree(cls.runtime_root, ignore_errors=True)
        left = pair.leftover_processes() + [pid for k in cls.keyrings
                                            for pid in k.leftover_processes()]
        if left:
            raise AssertionError(f"processes left behind: {left}")
        for pid in pair.pids + [p.pid for k in cls.keyrings for p in k.processes]:
            if Path("/proc", str(pid)).exists():
                raise AssertionError(f"pid {pid} still exists")
        if pair.base.exists():
            raise AssertionError(f"temporary folder {pair.base} not removed")
        print(f"  propagation over the run: {_short(cls.all_samples)}", flush=True)
        commands = sum(c.commands for c in cls.computers.values())
        seconds = sum(c.command_seconds for c in cls.computers.values())
        if commands:
            print(f"  tallowin-cli: {commands} commands, {seconds / commands * 1000:.0f} ms "
                  f"each on average", flush=True)

    def setUp(self):
        self.started = time.monotonic()
        self.samples: List[float] = []
        self.a, self.b = self.computers["a"], self.computers["b"]
        self.rng = random.Random(self.id())

    def tearDown(self):
        name = self.id().rsplit(".", 1)[-1]
        print(f"  {name}: {time.monotonic() - self.started:.2f} s; propagation "
              f"{_short(self.samples)}", flush=True)

    # --- helpers ---------------------------------------------------------------------

    def computer(self, peer: str) -> Computer:
        return self.computers[peer]

    def propagated(self, source: str, conflicts_possible: bool = False,
                   timeout: float = 30.0) -> bool:
        """Waits until the other peer holds the vault that `source` wrote last, and keeps
        the time it took as a propagation sample (the file changed when the command ended,
        just before this call). When both computers wrote lately, Syncthing may instead
        keep the other's version and turn this one into a conflict copy: with
        `conflicts_possible` that gives false and no sample; otherwise it fails."""
        other = self.pair.other(source)
        data = self.pair.read(source, VAULT)
        start = time.monotonic()
        arrived = wait_until(
            lambda: ("arrived" if self.pair.read(other, VAULT) == data else
                     "replaced" if self.pair.read(source, VAULT) != data else None),
            timeout, f"the vault written on {source} to reach {other}",
            interval=0.02) == "arrived"
        if arrived:
            self.samples.append(time.monotonic() - start)
            self.all_samples.append(self.samples[-1])
        elif not conflicts_possible:
            self.fail(f"the vault written on {source} was replaced before it reached {other}")
        return arrived

    def add(self, peer: str, *accounts: Tuple[str, str]) -> Accounts:
        """Adds accounts (issuer, label) on `peer`; returns them by id."""
        before = self.computer(peer).accounts()
        links = [link(issuer, label, random_secret(self.rng)) for issuer, label in accounts]
        self.computer(peer).run("add", *links)
        added = {i: v for i, v in self.computer(peer).accounts().items() if i not in before}
        self.assertEqual(sorted((v[0], v[1]) for v in added.values()), sorted(accounts))
        return added

    def apart(self):
        """Takes the peers off the network until the returned callable is called."""
        self.pair.pause("a")
        resumed = []

        def resume():
            if not resumed:
                resumed.append(True)
                self.pair.resume("a")

        self.addCleanup(resume)
        return resume

    def indexed_while_apart(self, *peers: str) -> None:
        """Makes each peer index its folder now, so that both edits are known to Syncthing
        when the peers meet again and it has to decide between them."""
        for peer in peers:
            self.pair.scan(peer)

    def settle(self, rounds: int = 6) -> Tuple[Accounts, Set[str]]:
        """Runs sync passes on both computers, each after Syncthing has brought the other's
        file, until the vault is the same everywhere and no conflict copy of it is left.
        Returns the accounts and the deleted ids, equal on both computers."""
        for _ in range(rounds):
            self.pair.wait_in_sync(60)
            before = self.pair.read("a", VAULT)
            for peer in ("a", "b"):
                self.computer(peer).run("sync")
                self.pair.wait_in_sync(60)
            if self.pair.read("a", VAULT) == before and not vault_conflict_copies(self.pair, "a"):
                break
        else:
            self.fail(f"no agreement after {rounds} rounds of sync passes")
        for peer in ("a", "b"):
            self.assertEqual(vault_conflict_copies(self.pair, peer), [], f"peer {peer}")
        accounts = self.a.accounts()
        deleted = self.a.deleted()
        self.assertEqual(self.b.accounts(), accounts)
        self.assertEqual(self.b.deleted(), deleted)
        return accounts, deleted

    # --- scenarios -------------------------------------------------------------------

    def test_1_accounts_added_on_one_computer_appear_on_the_other_and_edits_come_back(self):
        added = self.add("a", ("Forge", "dev@example.com"), ("Mail Box", "me@example.com"),
                         ("Bank", "account 7"))
        self.propagated("a")
        on_b = self.b.accounts()
        for account_id, fields in added.items():
            self.assertEqual(on_b.get(account_id), fields)

        account_id = next(i for i, v in added.items() if v[0] == "Forge")
        saved = self.b.edit(account_id[:8], issuer="Forge Works", colour="5").stdout
        self.assertEqual(saved, "Saved Forge Works (dev@example.com), colour Sky.\n")
        self.propagated("b")
        on_a = self.a.accounts()
        self.assertEqual(on_a[account_id], ("Forge Works", "dev@example.com", 5))
        self.b.edit(account_id, label="ops@example.com")
        self.propagated("b")
        self.assertEqual(self.a.accounts()[account_id], ("Forge Works", "ops@example.com", 5))
        self.assertEqual(self.a.accounts(), self.b.accounts())

    def test_2_edits_made_apart_meet_in_a_conflict_copy_and_are_all_kept(self):
        added = self.add("a", ("North", "n@example.com"), ("South", "s@example.com"),
                         ("Both", "b@example.com"))
        ids = {fields[0]: account_id for account_id, fields in added.items()}
        self.propagated("a")
        self.pair.wait_in_sync()
        count = len(self.a.accounts())
        seen_before = self.watch.snapshot()

        resume = self.apart()
        self.a.edit(ids["North"], issuer="North edited on a")
        self.a.edit(ids["Both"], label="edited on a")
        self.b.edit(ids["South"], label="s-edited-on-b@example.com", colour="2")
        self.b.edit(ids["Both"], label="edited on b, later")
        self.indexed_while_apart("a", "b")
        resume()
        self.pair.wait_in_sync(60)
        copies = vault_conflict_copies(self.pair, "a")
        self.assertGreaterEqual(len(copies), 1, "Syncthing made no conflict copy")
        self.assertEqual(vault_conflict_copies(self.pair, "b"), copies)

        # One sync pass on a brings in b's edits, whichever file Syncthing kept as the vault.
        self.a.run("sync")
        self.propagated("a")  # the merged vault, written by that pass
        expected = {
            ids["North"]: ("North edited on a", "n@example.com", None),
            ids["South"]: ("South", "s-edited-on-b@example.com", 2),
            ids["Both"]: ("Both", "edited on b, later", None),
        }
        on_a = self.a.accounts()
        for account_id, fields in expected.items():
            self.assertEqual(on_a[account_id], fields)
        self.assertEqual(len(on_a), count)
        self.pair.wait_in_sync(60)
        for peer in ("a", "b"):
            self.assertEqual(vault_conflict_copies(self.pair, peer), [], f"peer {peer}")
        on_b = self.b.accounts()
        self.assertEqual(on_b, on_a)
        accounts, _ = self.settle()
        self.assertEqual(accounts, on_a)
        made = {c for c in self.watch.snapshot() - seen_before
                if os.path.dirname(c) == DOCUMENTS}
        print(f"  conflict copies of the vault made by Syncthing: {len(made)}, all merged "
              f"and removed", flush=True)

    def test_3_a_later_edit_beats_a_delete_and_a_later_delete_beats_an_edit(self):
        ids = {}
        for issuer, label in (("Revived", "r@example.com"), ("Removed", "x@example.com")):
            ids.update({fields[0]: i for i, fields in self.add("a", (issuer, label)).items()})
            self.propagated("a")
        self.pair.wait_in_sync()

        resume = self.apart()
        self.a.run("delete", ids["Revived"])
        self.b.edit(ids["Removed"], issuer="Removed, edited on b")
        self.b.edit(ids["Revived"], issuer="Revived on b")  # after a's delete
        self.a.run("delete", ids["Removed"])  # after b's edit
        self.indexed_while_apart("a", "b")
        resume()
        accounts, deleted = self.settle()

        self.assertEqual(accounts.get(ids["Revived"]), ("Revived on b", "r@example.com", None))
        self.assertNotIn(ids["Revived"], deleted)
        self.assertNotIn(ids["Removed"], accounts)
        self.assertIn(ids["Removed"], deleted)
        listed = self.b.run("deleted").stdout
        self.assertIn(f"{ids['Removed']}  30 days left  Removed", listed)

    def test_4_random_edits_on_both_computers_converge_to_the_merge_of_all_edits(self):
        seed = int(os.environ.get("TALLOWIN_SCENARIO_SEED", "2024"))
        rng = random.Random(seed)
        self.rng = rng
        pair = self.pair
        before = {peer: self.computer(peer).accounts() for peer in ("a", "b")}
        self.assertEqual(before["a"], before["b"])
        deleted_before = self.a.deleted()
        seen_before = self.watch.snapshot()

        # The model: id -> (live, issuer, label, colour) after the last edit the test made.
        model: Dict[str, Tuple[bool, str, str, Optional[int]]] = {}
        unidentified: Dict[str, List[Tuple[str, str]]] = {"a": [], "b": []}
        counts = {"add": 0, "edit": 0, "delete": 0, "not there yet": 0, "pauses": 0,
                  "superseded": 0}
        words = ["Forge", "Mail", "Bank", "Cloud", "Shop", "Chat", "Game", "News", "Travel"]
        paused = False
        done = 0
        while done < RANDOM_EDITS:
            if not paused and rng.random() < 0.25:
                pair.pause("a")
                paused = True
                counts["pauses"] += 1
            elif paused and rng.random() < 0.5:
                pair.resume("a")
                paused = False
            last_peer = None
            for _ in range(min(rng.randint(3, 8), RANDOM_EDITS - done)):
                done += 1
                peer = rng.choice("ab")
                computer = self.computer(peer)
                live = sorted(i for i, v in model.items() if v[0])
                roll = rng.random()
                if len(live) < 6 or roll < 0.15:
                    issuer, label = rng.choice(words), f"new-{done}@example.com"
                    computer.run("add", "--issuer", issuer, "--label", label,
                                 "--secret", random_secret(rng))
                    unidentified[peer].append((issuer, label))
                    counts["add"] += 1
                    last_peer = peer
                    continue
                # Mostly accounts the model has live; now and then one it has deleted.
                target = rng.choice(live if rng.random() < 0.85 else sorted(model))
                if roll < 0.85:
                    issuer = f"{rng.choice(words)} {done}"
                    label = f"user{done}@example.com"
                    colour = rng.choice([str(n) for n in range(12)] + ["auto"])
                    result = computer.edit(target, issuer=issuer, label=label, colour=colour,
                                           expect=None)
                    change = (True, issuer, label, None if colour == "auto" else int(colour))
                    kind = "edit"
                else:
                    result = computer.run("delete", target, expect=None)
                    change = (False,) + model[target][1:]
                    kind = "delete"
                if result.returncode == 0:
                    model[target] = change
                    counts[kind] += 1
                    last_peer = peer
                elif NO_SUCH_ID in result.stderr:
                    # This computer has not seen the account yet, or has it deleted.
                    counts["not there yet"] += 1
                    last_peer = None
                else:
                    self.fail(f"{kind} on {peer} failed: {result.returncode} {result.stderr}")
            # A sample when the batch ended with a change, timed from that change.
            sample = rng.random() < 0.5  # drawn every time, so the seed fixes the choices
            if sample and not paused and last_peer is not None:
                if not self.propagated(last_peer, conflicts_possible=True):
                    counts["superseded"] += 1
            # New accounts become known by id on the computer that added them.
            for peer, names in unidentified.items():
                if not names:
                    continue
                for account_id, (issuer, label, colour) in self.computer(peer).accounts().items():
                    if (issuer, label) in names and account_id not in model:
                        model[account_id] = (True, issuer, label, colour)
                        names.remove((issuer, label))
                self.assertEqual(names, [], f"added on {peer} but not listed there")
        if paused:
            pair.resume("a")

        accounts, deleted = self.settle()
        expected_live = {i: v[1:] for i, v in model.items() if v[0]}
        expected_deleted = {i for i, v in model.items() if not v[0]}
        ours = {i: v for i, v in accounts.items() if i in model}
        self.assertEqual(ours, expected_live)
        self.assertEqual(deleted & set(model), expected_deleted)
        # Nothing else appeared, and the accounts of other scenarios are as they were.
        self.assertEqual({i: v for i, v in accounts.items() if i not in model}, before["a"])
        self.assertEqual(deleted - set(model), deleted_before)

        seen = self.watch.snapshot() - seen_before
        vault_copies = {c for c in seen if os.path.dirname(c) == DOCUMENTS}
        history_copies = {c for c in seen if os.path.dirname(c) == HISTORY}
        left = set(vault_conflict_copies(pair, "a")) | set(vault_conflict_copies(pair, "b"))
        print(f"  seed {seed}: {counts['add']} adds, {counts['edit']} edits, "
              f"{counts['delete']} deletes, {counts['not there yet']} edits of accounts the "
              f"computer did not hold live (refused), {counts['pauses']} pauses, "
              f"{counts['superseded']} propagation samples dropped for a conflict; "
              f"{len(expected_live)} live and {len(expected_deleted)} deleted at the end",
              flush=True)
        print(f"  conflict copies of the vault made by Syncthing: {len(vault_copies)}; merged "
              f"and removed by Tallowin: {len(vault_copies - left)}; left: {len(left)}",
              flush=True)
        if history_copies:
            print(f"  conflict copies of history versions (both computers have one host "
                  f"name, so their versions of one second share a name): "
                  f"{len(history_copies)}", flush=True)
        self.assertEqual(left, set())


def _missing_tools() -> List[str]:
    missing = []
    if not (os.environ.get("SYNCTHING") or shutil.which("syncthing")):
        missing.append("syncthing")
    for tool in ("dbus-daemon", "dbus-send", "gnome-keyring-daemon"):
        if not shutil.which(tool):
            missing.append(tool)
    return missing


def main() -> int:
    global CLI
    start = time.monotonic()
    arguments = sys.argv[1:]
    if len(arguments) >= 2 and arguments[0] == "--cli":
        CLI = arguments[1]
        arguments = arguments[2:]
    CLI = CLI or os.environ.get("TALLOWIN_CLI", "")
    if not CLI or not os.access(CLI, os.X_OK):
        print(f"FAIL: give the built tallowin-cli with --cli (got {CLI!r})", flush=True)
        return 1
    missing = _missing_tools()
    if missing:
        if _in_ci():
            print(f"FAIL: {', '.join(missing)} not installed (scripts/setup.sh installs "
                  "them); CI must run this test", flush=True)
            return 1
        print(f"SKIP: {', '.join(missing)} not installed", flush=True)
        return SKIP

    def out_of_time(signum, frame):
        # unittest records ordinary exceptions and carries on; this one stops the run.
        raise KeyboardInterrupt(f"ran past {RUN_LIMIT_S} s")

    signal.signal(signal.SIGALRM, out_of_time)
    signal.alarm(RUN_LIMIT_S)
    passed = interrupted = False
    try:
        loader = unittest.defaultTestLoader
        suite = (loader.loadTestsFromNames(arguments, sys.modules[__name__]) if arguments
                 else loader.loadTestsFromTestCase(SyncthingScenariosTest))
        runner = unittest.TextTestRunner(stream=sys.stdout, verbosity=2)
        passed = runner.run(suite).wasSuccessful()
    except KeyboardInterrupt as why:
        interrupted = True
        print(f"FAIL: interrupted: {why}", flush=True)
    finally:
        signal.alarm(0)
        # No-ops when tearDownClass has run; after a failed start or an interruption they
        # stop the keyrings and the peers (showing the end of the peers' logs).
        for keyring in SyncthingScenariosTest.keyrings:
            keyring.stop()
        if SyncthingScenariosTest.runtime_root is not None:
            shutil.rmtree(SyncthingScenariosTest.runtime_root, ignore_errors=True)
        pair = getattr(SyncthingScenariosTest, "pair", None)
        if pair is not None:
            pair.__exit__(KeyboardInterrupt if interrupted else None, None, None)
    print(f"syncthing scenarios ran in {time.monotonic() - start:.2f} s", flush=True)
    return 0 if passed else 1


if __name__ == "__main__":
    sys.exit(main())
