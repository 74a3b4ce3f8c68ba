# SPDX-License-Identifier: GPL-3.0-or-later
"""Two Syncthing peers on loopback that share one folder, for multi-device tests.

    with SyncthingPair() as pair:
        pair.write("a", "iCloud.com.tallowin.app/Documents/vault.tlwvault", b"...")
        pair.wait_in_sync(timeout=30)

Each peer ("a" and "b") has its own Syncthing home, its own copy of the shared folder and
its own Tallowin home. Both instances listen on 127.0.0.1 only, on ports picked at run
time; discovery, relays, NAT traversal, usage and crash reporting and upgrades are off.
Each peer knows the other by device id; "a" dials "b" at b's static tcp://127.0.0.1
address and "b" only accepts (see DIALER). Every wait has a deadline. Leaving the context,
also through an exception, Ctrl-C or SIGTERM, stops both instances and removes the
temporary base folder; if the harness itself is killed, the kernel kills the instances.

Python 3 standard library only.
"""

from __future__ import annotations

import copy
import ctypes
import json
import os
import re
import secrets
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import urllib.error
import urllib.parse
import urllib.request
import xml.etree.ElementTree as ET
from pathlib import Path
from typing import Callable, Dict, List, Optional, Tuple

PEERS = ("a", "b")
FOLDER_ID = "tallowin"

# Only peer "a" dials; "b" accepts. When both dialled at once, Syncthing 1.19 sometimes
# stalled both new connections until its 20 s Hello timeout (seen at start-up, about one
# start in fifteen), apparently each side waiting for the Hello the other had queued.
DIALER = "a"

# Time between two looks at the peers' state or files.
POLL_INTERVAL_S = 0.05

# "<stem>.sync-conflict-<yyyymmdd>-<hhmmss>-<short device id><.ext>"
CONFLICT_COPY = re.compile(
    r"^(?P<stem>.+?)\.sync-conflict-(?P<date>\d{8})-(?P<time>\d{6})-(?P<device>[A-Z0-9]{7})"
    r"(?P<ext>\.[^.]*)?$"
)

# Syncthing's folder marker and its in-progress downloads.
_MARKER = ".stfolder"
_SYNCTHING_TEMP = re.compile(r"^(\.syncthing\..*\.tmp|~syncthing~.*\.tmp)$")

_PROXY_VARIABLES = ("http_proxy", "https_proxy", "all_proxy", "no_proxy", "ftp_proxy")
_PR_SET_PDEATHSIG = 1


class SyncthingError(RuntimeError):
    """A Syncthing instance failed to start, answer or stop."""


class SyncTimeout(TimeoutError):
    """A wait ran past its deadline; the message says what was still missing."""


class Deadline:
    """A point in monotonic time that waits must not pass."""

    def __init__(self, seconds: float):
        self.seconds = seconds
        self.at = time.monotonic() + seconds

    def remaining(self) -> float:
        return max(0.0, self.at - time.monotonic())

    def expired(self) -> bool:
        return time.monotonic() >= self.at


def wait_until(predicate: Callable[[], object], timeout: float, what: str,
               interval: float = POLL_INTERVAL_S):
    """Polls `predicate` until it returns something truthy and returns that; raises
    SyncTimeout after `timeout` seconds."""
    deadline = Deadline(timeout)
    while True:
        value = predicate()
        if value:
            return value
        if deadline.expired():
            raise SyncTimeout(f"timed out after {timeout:.1f} s waiting for {what}")
        time.sleep(min(interval, deadline.remaining()) or interval)


def free_loopback_ports(count: int) -> List[int]:
    """`count` distinct TCP ports that are free on 127.0.0.1 right now."""
    sockets, ports = [], []
    try:
        while len(ports) < count:
            s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
            s.bind(("127.0.0.1", 0))
            sockets.append(s)
            ports.append(s.getsockname()[1])
    finally:
        for s in sockets:
            s.close()
    return ports


def _die_with_parent() -> None:
    """Runs in the child before exec: the kernel kills it when the harness dies, even by
    SIGKILL (a CTest timeout), so no instance outlives its harness."""
    try:
        ctypes.CDLL(None, use_errno=True).prctl(_PR_SET_PDEATHSIG, signal.SIGKILL)
    except Exception:
        pass


def _session_members(sid: int) -> List[int]:
    """PIDs of the live (non-zombie) processes in session `sid`, read from /proc."""
    members = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            stat = Path("/proc", entry, "stat").read_text()
        except OSError:
            continue
        # The command name may hold spaces and parentheses; the fields after it follow
        # the last ')': state, ppid, pgrp, session.
        fields = stat[stat.rfind(")") + 2:].split()
        if len(fields) > 3 and fields[0] != "Z" and int(fields[3]) == sid:
            members.append(int(entry))
    return members


class _Peer:
    def __init__(self, name: str, base: Path):
        self.name = name
        self.home = base / f"syncthing-{name}"
        self.folder = base / f"folder-{name}"
        self.tallowin_home = base / f"tallowin-{name}"
        self.log_path = base / f"syncthing-{name}.log"
        self.device_id = ""
        self.api_key = secrets.token_urlsafe(24)
        self.gui_port = 0
        self.listen_port = 0
        self.process: Optional[subprocess.Popen] = None
        self.log_file = None


class SyncthingPair:
    """Two Syncthing instances, "a" and "b", sharing the folder `folder_id` over loopback."""

    def __init__(
        self,
        syncthing: Optional[str] = None,
        folder_id: str = FOLDER_ID,
        rescan_interval_s: int = 2,
        watcher_delay_s: int = 1,
        start_timeout: float = 30.0,
        stop_timeout: float = 10.0,
        keep_dir: Optional[bool] = None,
        verbose: bool = True,
    ):
        self.syncthing = syncthing or os.environ.get("SYNCTHING") or shutil.which("syncthing")
        self.folder_id = folder_id
        self.rescan_interval_s = rescan_interval_s
        self.watcher_delay_s = watcher_delay_s
        self.start_timeout = start_timeout
        self.stop_timeout = stop_timeout
        # TALLOWIN_KEEP_SYNC_DIR=1 keeps homes, folders and logs for a post-mortem.
        if keep_dir is None:
            keep_dir = os.environ.get("TALLOWIN_KEEP_SYNC_DIR") == "1"
        self.keep_dir = keep_dir
        self.verbose = verbose
        self.base: Optional[Path] = None
        self.peers: Dict[str, _Peer] = {}
        self.pids: List[int] = []
        self.startup_seconds = 0.0
        self._started_at = time.monotonic()
        self._opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))
        self._previous_sigterm = None
        self._stopped = False
        self._redials = 0

    # --- lifecycle -------------------------------------------------------------------

    def __enter__(self) -> "SyncthingPair":
        if not self.syncthing:
            raise SyncthingError("syncthing is not installed")
        self._started_at = time.monotonic()
        self._catch_sigterm()
        try:
            self.base = Path(tempfile.mkdtemp(prefix="tallowin-syncthing-"))
            self.peers = {name: _Peer(name, self.base) for name in PEERS}
            for peer in self.peers.values():
                self._generate(peer)
            ports = free_loopback_ports(2 * len(self.peers))
            for i, peer in enumerate(self.peers.values()):
                peer.gui_port, peer.listen_port = ports[2 * i], ports[2 * i + 1]
            for peer in self.peers.values():
                peer.folder.mkdir()
                (peer.folder / _MARKER).mkdir()
                peer.tallowin_home.mkdir()
                self._write_config(peer)
            for peer in self.peers.values():
                self._start(peer)
            deadline = Deadline(self.start_timeout)
            for peer in self.peers.values():
                wait_until(lambda: self._answers(peer), deadline.remaining(),
                           f"the REST API of peer {peer.name}")
            # b listens by now; a's first dial may have come too early.
            self._redial()
            self.wait_connected(deadline.remaining())
            self.startup_seconds = time.monotonic() - self._started_at
            self._say(f"two peers up and connected in {self.startup_seconds:.2f} s "
                      f"(base {self.base})")
        except BaseException:
            self._teardown(failed=True)
            raise
        return self

    def __exit__(self, exc_type, exc, tb) -> None:
        """Stops both peers and removes the base folder; calling it again does nothing."""
        self._teardown(failed=exc_type is not None)

    def elapsed(self) -> float:
        """Seconds since the pair started coming up."""
        return time.monotonic() - self._started_at

    def leftover_processes(self) -> List[int]:
        """PIDs still alive among the processes this pair started (empty once stopped)."""
        left = []
        for pid in self.pids:
            left.extend(_session_members(pid))
        return sorted(set(left))

    # --- peers and folders -----------------------------------------------------------

    def other(self, peer: str) -> str:
        self._check_peer(peer)
        return "b" if peer == "a" else "a"

    def folder(self, peer: str) -> Path:
        """The peer's copy of the shared folder."""
        return self._peer(peer).folder

    def tallowin_home(self, peer: str) -> Path:
        """An empty home folder for the peer's Tallowin (one per device)."""
        return self._peer(peer).tallowin_home

    def tallowin_env(self, peer: str) -> Dict[str, str]:
        """The environment to run Tallowin as the peer's device: HOME and the XDG folders
        point into its Tallowin home."""
        home = self.tallowin_home(peer)
        env = dict(os.environ)
        env.update(
            HOME=str(home),
            XDG_CONFIG_HOME=str(home / ".config"),
            XDG_DATA_HOME=str(home / ".local/share"),
            XDG_CACHE_HOME=str(home / ".cache"),
            XDG_STATE_HOME=str(home / ".local/state"),
        )
        return env

    def device_id(self, peer: str) -> str:
        return self._peer(peer).device_id

    def path(self, peer: str, relpath: str) -> Path:
        return self.folder(peer) / relpath

    def write(self, peer: str, relpath: str, data: bytes) -> Path:
        """Replaces (or creates) a file in the peer's folder atomically, parents included.
        The temporary file lives outside the shared folder, so Syncthing never sees it."""
        target = self.path(peer, relpath)
        target.parent.mkdir(parents=True, exist_ok=True)
        fd, tmp = tempfile.mkstemp(dir=self.base, prefix=f".write-{peer}-")
        try:
            with os.fdopen(fd, "wb") as f:
                f.write(data)
                f.flush()
                os.fsync(f.fileno())
            os.replace(tmp, target)
        except BaseException:
            Path(tmp).unlink(missing_ok=True)
            raise
        return target

    def read(self, peer: str, relpath: str) -> Optional[bytes]:
        """The file's bytes, or None when there is no such file."""
        try:
            return self.path(peer, relpath).read_bytes()
        except (FileNotFoundError, IsADirectoryError):
            return None

    def delete(self, peer: str, relpath: str) -> None:
        self.path(peer, relpath).unlink()

    def clear(self, peer: str = "a", timeout: float = 30.0) -> None:
        """Empties the shared folder on `peer`'s side and waits until both sides are empty."""
        for entry in self.folder(peer).iterdir():
            if entry.name == _MARKER:
                continue
            if entry.is_dir() and not entry.is_symlink():
                shutil.rmtree(entry)
            else:
                entry.unlink()
        self.wait_in_sync(timeout)
        left = sorted(self.snapshot(peer))
        if left:
            raise SyncthingError(f"folder of peer {peer} not empty after clearing: {left}")

    def snapshot(self, peer: str) -> Dict[str, Optional[bytes]]:
        """Everything in the peer's folder: relative path -> bytes (None for a folder),
        leaving out Syncthing's marker and its in-progress downloads."""
        root = self.folder(peer)
        result: Dict[str, Optional[bytes]] = {}
        for dirpath, dirnames, filenames in os.walk(root):
            rel_dir = os.path.relpath(dirpath, root)
            if rel_dir == ".":
                dirnames[:] = [d for d in dirnames if d != _MARKER]
            for d in dirnames:
                result[os.path.normpath(os.path.join(rel_dir, d))] = None
            for f in filenames:
                if _SYNCTHING_TEMP.match(f):
                    continue
                try:
                    data = Path(dirpath, f).read_bytes()
                except FileNotFoundError:
                    continue  # replaced while we looked; the next look sees it
                result[os.path.normpath(os.path.join(rel_dir, f))] = data
        return result

    def conflict_copies(self, peer: str) -> List[str]:
        """Relative paths of the conflict copies in the peer's folder, sorted."""
        return sorted(path for path, data in self.snapshot(peer).items()
                      if data is not None and CONFLICT_COPY.match(os.path.basename(path)))

    # --- Syncthing control -----------------------------------------------------------

    def pause(self, peer: str = "a") -> None:
        """Takes `peer` off the network: each side pauses the other device (pausing one
        side only would leave the other dialling in), then both are seen disconnected."""
        for side in (peer, self.other(peer)):
            self.rest(side, "POST", "/rest/system/pause",
                      device=self.device_id(self.other(side)))
        wait_until(lambda: not self._connected("a") and not self._connected("b"), 10.0,
                   "the peers to disconnect")

    def resume(self, peer: str = "a", timeout: float = 20.0) -> None:
        """Lifts the pause on both sides and waits until the peers are connected again."""
        self._check_peer(peer)
        listener = self.other(DIALER)
        self.rest(listener, "PATCH", f"/rest/config/devices/{self.device_id(DIALER)}",
                  body={"paused": False})
        self._redial({"paused": False})
        self.wait_connected(timeout)

    def scan(self, peer: str) -> None:
        """Rescans the peer's folder now; returns when the scan has finished."""
        self.rest(peer, "POST", "/rest/db/scan", folder=self.folder_id, timeout=30.0)

    def folder_status(self, peer: str) -> dict:
        """The peer's /rest/db/status for the shared folder (state, sequence, need...)."""
        return self.rest(peer, "GET", "/rest/db/status", folder=self.folder_id)

    def remote_completion(self, peer: str) -> dict:
        """What `peer` knows of the other device's completion of the shared folder."""
        return self.rest(peer, "GET", "/rest/db/completion", folder=self.folder_id,
                         device=self.device_id(self.other(peer)))

    def wait_connected(self, timeout: float = 20.0) -> None:
        """Waits until each peer sees the other connected, nudging a to dial every 2 s."""
        deadline = Deadline(timeout)
        while True:
            try:
                wait_until(lambda: self._connected("a") and self._connected("b"),
                           min(2.0, deadline.remaining()), "the peers to connect")
                return
            except SyncTimeout:
                if deadline.expired():
                    raise SyncTimeout(f"timed out after {timeout:.1f} s waiting for the "
                                      "peers to connect") from None
            self._redial()

    def wait_in_sync(self, timeout: float = 30.0) -> float:
        """Waits until both peers are connected and idle, neither needs anything from the
        other, both folders hold the same paths with the same bytes on disk, and all that
        still holds at a second look. Returns the seconds waited; raises SyncTimeout with
        what was still different when the deadline passes."""
        start = time.monotonic()
        deadline = Deadline(timeout)
        previous = None
        last_reason = "nothing checked yet"
        while True:
            state, reason = self._sync_state()
            if state is not None and state == previous:
                return time.monotonic() - start
            previous = state
            last_reason = reason or last_reason
            if deadline.expired():
                raise SyncTimeout(f"folders not in sync after {timeout:.1f} s: {last_reason}")
            # A matching picture is looked at again a little later, to see that it holds.
            pause = 0.2 if state is not None else POLL_INTERVAL_S
            time.sleep(min(pause, deadline.remaining()) or POLL_INTERVAL_S)

    # --- timing helpers --------------------------------------------------------------

    def wait_for_file(self, peer: str, relpath: str, data: Optional[bytes],
                      timeout: float = 30.0) -> float:
        """Waits until the peer's file holds `data` (None: until there is no such file).
        Returns the seconds waited."""
        start = time.monotonic()
        if data is None:
            wait_until(lambda: not self.path(peer, relpath).exists(), timeout,
                       f"{relpath} to disappear on peer {peer}", interval=0.02)
        else:
            wait_until(lambda: self.read(peer, relpath) == data, timeout,
                       f"{relpath} on peer {peer} to hold the expected {len(data)} bytes",
                       interval=0.02)
        return time.monotonic() - start

    def propagate(self, source: str, relpath: str, data: bytes, timeout: float = 30.0) -> float:
        """Writes the file on `source`; returns the seconds until the other peer's copy
        holds the same bytes."""
        start = time.monotonic()
        self.write(source, relpath, data)
        self.wait_for_file(self.other(source), relpath, data, timeout)
        return time.monotonic() - start

    # --- REST ------------------------------------------------------------------------

    def rest(self, peer: str, method: str, endpoint: str, body=None, timeout: float = 10.0,
             **query):
        """Calls the peer's REST API; returns the decoded JSON answer (None when empty).
        Proxies from the environment are never used."""
        p = self._peer(peer)
        url = f"http://127.0.0.1:{p.gui_port}{endpoint}"
        if query:
            url += "?" + urllib.parse.urlencode(query)
        data = json.dumps(body).encode() if body is not None else None
        request = urllib.request.Request(url, data=data, method=method,
                                         headers={"X-API-Key": p.api_key})
        if data is not None:
            request.add_header("Content-Type", "application/json")
        try:
            with self._opener.open(request, timeout=timeout) as response:
                raw = response.read()
        except urllib.error.HTTPError as e:
            raise SyncthingError(
                f"peer {peer}: {method} {endpoint} -> HTTP {e.code}: {e.read()[:200]!r}"
            ) from e
        return json.loads(raw) if raw.strip() else None

    # --- internals -------------------------------------------------------------------

    def _say(self, message: str) -> None:
        if self.verbose:
            print(f"[syncthing-pair {self.elapsed():7.2f} s] {message}", flush=True)

    def _check_peer(self, peer: str) -> None:
        if peer not in PEERS:
            raise ValueError(f"peer must be 'a' or 'b', not {peer!r}")

    def _peer(self, peer: str) -> _Peer:
        self._check_peer(peer)
        return self.peers[peer]

    def _child_env(self) -> Dict[str, str]:
        env = {k: v for k, v in os.environ.items() if k.lower() not in _PROXY_VARIABLES}
        env.update(STNORESTART="1", STNOUPGRADE="1", STNODEFAULTFOLDER="1")
        # Even with --no-restart, Syncthing 1.19 runs a monitor process that starts the
        # real one as its child; a killed harness would orphan that child. STMONITORED
        # makes the started process the real one, so its PID and death signal are ours.
        env["STMONITORED"] = "yes"
        # Naming the hash implementation skips the benchmark that picks one (~1 s a start).
        env.setdefault("STHASHING", "standard")
        # Syncthing refuses to start without $HOME, even with --home.
        env["HOME"] = str(self.base)
        return env

    def _generate(self, peer: _Peer) -> None:
        result = subprocess.run(
            [self.syncthing, "generate", f"--home={peer.home}", "--no-default-folder",
             "--skip-port-probing"],
            env=self._child_env(),
            stdin=subprocess.DEVNULL,
            stdout=subprocess.PIPE,
            stderr=subprocess.STDOUT,
            timeout=30,
            preexec_fn=_die_with_parent,
        )
        if result.returncode != 0:
            raise SyncthingError(f"syncthing generate failed for peer {peer.name}: "
                                 f"{result.stdout.decode(errors='replace')}")
        device = ET.parse(peer.home / "config.xml").getroot().find("device")
        if device is None or not device.get("id"):
            raise SyncthingError(f"no device id in the generated config of peer {peer.name}")
        peer.device_id = device.get("id")

    def _write_config(self, peer: _Peer) -> None:
        """Turns the generated config.xml into this peer's: loopback only, everything that
        reaches the internet off, the other device known, the shared folder added."""
        other = self.peers[self.other(peer.name)]
        path = peer.home / "config.xml"
        tree = ET.parse(path)
        root = tree.getroot()
        defaults = root.find("defaults")

        me = root.find("device")
        me.set("name", f"peer-{peer.name}")

        gui = root.find("gui")
        gui.set("enabled", "true")
        gui.set("tls", "false")
        _set_child(gui, "address", f"127.0.0.1:{peer.gui_port}")
        _set_child(gui, "apikey", peer.api_key)

        options = root.find("options")
        for name in ("listenAddress", "unackedNotificationID"):
            for element in options.findall(name):
                options.remove(element)
        ET.SubElement(options, "listenAddress").text = f"tcp://127.0.0.1:{peer.listen_port}"
        for name, value in {
            "globalAnnounceEnabled": "false",
            "localAnnounceEnabled": "false",
            "relaysEnabled": "false",
            "natEnabled": "false",  # also turns STUN off
            "startBrowser": "false",
            "urAccepted": "-1",
            "urSeen": "3",
            "crashReportingEnabled": "false",
            "autoUpgradeIntervalH": "0",
            "restartOnWakeup": "false",
            # true would renice and regroup the process (setpgid) behind our back
            "setLowPriority": "false",
            "reconnectionIntervalS": "1",
            "progressUpdateIntervalS": "-1",
            "announceLANAddresses": "false",
        }.items():
            _set_child(options, name, value)

        template = defaults.find("device") if defaults is not None else None
        remote = copy.deepcopy(template) if template is not None else ET.Element("device")
        remote.set("id", other.device_id)
        remote.set("name", f"peer-{other.name}")
        for element in remote.findall("address"):
            remote.remove(element)
        address = ET.Element("address")
        # Only one side dials (see DIALER); the other knows it by device id alone, and
        # with discovery off it never looks for an address.
        if peer.name == DIALER:
            address.text = f"tcp://127.0.0.1:{other.listen_port}"
        else:
            address.text = "dynamic"
        remote.insert(0, address)
        _set_child(remote, "paused", "false")
        _set_child(remote, "autoAcceptFolders", "false")

        template = defaults.find("folder") if defaults is not None else None
        folder = copy.deepcopy(template) if template is not None else ET.Element("folder")
        folder.attrib.update(
            id=self.folder_id,
            label=self.folder_id,
            path=str(peer.folder),
            type="sendreceive",
            rescanIntervalS=str(self.rescan_interval_s),
            fsWatcherEnabled="true",
            fsWatcherDelayS=str(self.watcher_delay_s),
            ignorePerms="false",
            autoNormalize="true",
        )
        for element in folder.findall("device"):
            folder.remove(element)
        for device_id in (peer.device_id, other.device_id):
            shared = ET.Element("device", id=device_id, introducedBy="")
            ET.SubElement(shared, "encryptionPassword")
            folder.insert(0, shared)
        _set_child(folder, "paused", "false")
        _set_child(folder, "markerName", _MARKER)

        position = list(root).index(me)
        root.insert(position, folder)
        root.insert(position + 2, remote)
        tree.write(path, encoding="utf-8", xml_declaration=False)

    def _start(self, peer: _Peer) -> None:
        peer.log_file = open(peer.log_path, "wb")
        peer.process = subprocess.Popen(
            [
                self.syncthing,
                "serve",
                f"--home={peer.home}",
                "--no-browser",
                "--no-restart",
                "--no-upgrade",
                "--no-default-folder",
                f"--gui-address=http://127.0.0.1:{peer.gui_port}",
                "--logflags=3",
            ],
            stdin=subprocess.DEVNULL,
            stdout=peer.log_file,
            stderr=subprocess.STDOUT,
            env=self._child_env(),
            start_new_session=True,
            preexec_fn=_die_with_parent,
        )
        self.pids.append(peer.process.pid)

    def _answers(self, peer: _Peer) -> bool:
        if peer.process.poll() is not None:
            raise SyncthingError(f"syncthing of peer {peer.name} exited with "
                                 f"{peer.process.returncode} while starting")
        try:
            status = self.rest(peer.name, "GET", "/rest/system/status", timeout=2.0)
        except (OSError, SyncthingError):
            return False
        if status.get("myID") != peer.device_id:
            raise SyncthingError(f"port {peer.gui_port} answers as {status.get('myID')}, "
                                 f"not as peer {peer.name}")
        return True

    def _redial(self, changes: Optional[dict] = None) -> None:
        """Makes the dialling peer dial the other now, applying `changes` to its entry.

        Syncthing does not dial a device again just because it was resumed: its connection
        loop sleeps 5 to 60 s between rounds, and skips an address dialled lately until its
        redial time. A changed address wakes the loop and has no redial time yet, so each
        call gives the address a fresh query part, which the dialler ignores."""
        self._redials += 1
        other = self._peer(self.other(DIALER))
        address = f"tcp://127.0.0.1:{other.listen_port}?redial={self._redials}"
        self.rest(DIALER, "PATCH", f"/rest/config/devices/{other.device_id}",
                  body=dict(changes or {}, addresses=[address]))

    def _connected(self, peer: str) -> bool:
        connections = self.rest(peer, "GET", "/rest/system/connections")["connections"]
        return bool(connections.get(self.device_id(self.other(peer)), {}).get("connected"))

    def _sync_state(self) -> Tuple[Optional[tuple], str]:
        """(a picture of both peers when everything agrees, else None; what disagrees)."""
        sequences = []
        for peer in PEERS:
            if not self._connected(peer):
                return None, f"peer {peer} is not connected"
            status = self.folder_status(peer)
            if status.get("state") != "idle":
                return None, f"peer {peer} is {status.get('state')!r}"
            need, errors = status.get("needTotalItems", 0), status.get("pullErrors", 0)
            if need or errors or status.get("errors", 0):
                return None, f"peer {peer} needs {need} items (pull errors: {errors})"
            remote = self.remote_completion(peer)
            if remote.get("completion") != 100 or remote.get("needItems", 0) \
                    or remote.get("needDeletes", 0):
                return None, (f"peer {peer} sees the other at {remote.get('completion')}% "
                              f"({remote.get('needItems')} items needed)")
            sequences.append(status.get("sequence"))
        a, b = self.snapshot("a"), self.snapshot("b")
        if a != b:
            only_a = sorted(set(a) - set(b))
            only_b = sorted(set(b) - set(a))
            differ = sorted(p for p in set(a) & set(b) if a[p] != b[p])
            return None, (f"folders differ: only on a {only_a}, only on b {only_b}, "
                          f"different bytes {differ}")
        return (tuple(sequences), tuple(sorted(a.items()))), ""

    def _catch_sigterm(self) -> None:
        # A terminated harness still stops its peers: SIGTERM becomes KeyboardInterrupt,
        # which unittest and `with` blocks let through to __exit__.
        if threading.current_thread() is not threading.main_thread():
            return
        if signal.getsignal(signal.SIGTERM) in (signal.SIG_DFL, None):
            def on_sigterm(signum, frame):
                raise KeyboardInterrupt(f"signal {signum}")

            self._previous_sigterm = signal.signal(signal.SIGTERM, on_sigterm)

    def _teardown(self, failed: bool) -> None:
        if self._stopped:
            return
        self._stopped = True
        stopping = time.monotonic()
        for peer in self.peers.values():
            if peer.process is not None and peer.process.poll() is None:
                try:
                    self.rest(peer.name, "POST", "/rest/system/shutdown", timeout=3.0)
                except Exception:
                    pass  # it is terminated below
        stuck = [peer.name for peer in self.peers.values() if not self._stop(peer)]
        for pid in self.leftover_processes():
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        if failed or stuck:
            self._dump_logs()
        for peer in self.peers.values():
            if peer.log_file is not None:
                peer.log_file.close()
                peer.log_file = None
        if self.base is not None:
            if self.keep_dir:
                self._say(f"kept {self.base}")
            else:
                shutil.rmtree(self.base, ignore_errors=True)
        if self._previous_sigterm is not None:
            signal.signal(signal.SIGTERM, self._previous_sigterm)
            self._previous_sigterm = None
        self._say(f"stopped both peers in {time.monotonic() - stopping:.2f} s; "
                  f"total {self.elapsed():.2f} s")
        if stuck:
            raise SyncthingError(f"syncthing of peer(s) {stuck} did not stop")

    def _stop(self, peer: _Peer) -> bool:
        """Waits for the peer's process to end: after the REST shutdown, then SIGTERM,
        then SIGKILL to its process group, each with a deadline. True when it ended."""
        process = peer.process
        if process is None:
            return True
        for sig, grace in ((None, self.stop_timeout), (signal.SIGTERM, 5.0), (signal.SIGKILL, 5.0)):
            if sig is not None and process.poll() is None:
                try:
                    os.killpg(process.pid, sig)
                except ProcessLookupError:
                    pass
            try:
                process.wait(timeout=grace)
                return True
            except subprocess.TimeoutExpired:
                continue
        return False

    def _dump_logs(self) -> None:
        for peer in self.peers.values():
            try:
                lines = peer.log_path.read_text(errors="replace").splitlines()
            except OSError:
                continue
            print(f"--- last lines of the syncthing log of peer {peer.name} "
                  f"({peer.device_id[:7]}) ---", file=sys.stderr)
            for line in lines[-40:]:
                print(line, file=sys.stderr)
        sys.stderr.flush()


def _set_child(parent: ET.Element, tag: str, text: str) -> None:
    element = parent.find(tag)
    if element is None:
        element = ET.SubElement(parent, tag)
    element.text = text
