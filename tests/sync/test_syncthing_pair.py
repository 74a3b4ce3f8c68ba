#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Self-test of the two-peer Syncthing harness, with plain files.

Exit codes: 0 passed, 1 failed, 77 skipped (no syncthing; with CI=true that fails instead).
"""

from __future__ import annotations

import os
import shutil
import signal
import sys
import time
import unittest
from pathlib import Path

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, str(Path(__file__).resolve().parent))

from syncthing_pair import CONFLICT_COPY, SyncthingPair  # noqa: E402

SKIP = 77
# The whole run stops itself before CTest's 300 s timeout would kill it.
RUN_LIMIT_S = 240

DOCUMENTS = "iCloud.com.tallowin.app/Documents"
VAULT = f"{DOCUMENTS}/vault.tlwvault"


class SyncthingPairTest(unittest.TestCase):
    pair: SyncthingPair

    @classmethod
    def setUpClass(cls):
        cls.pair = SyncthingPair()
        cls.pair.__enter__()

    @classmethod
    def tearDownClass(cls):
        pair = cls.pair
        pair.__exit__(None, None, None)
        left = pair.leftover_processes()
        if left:
            raise AssertionError(f"syncthing processes left behind: {left}")
        for pid in pair.pids:
            if Path("/proc", str(pid)).exists():
                raise AssertionError(f"syncthing pid {pid} still exists")
        if pair.base.exists():
            raise AssertionError(f"temporary folder {pair.base} not removed")

    def setUp(self):
        self.started = time.monotonic()
        self.pair.clear("a")

    def tearDown(self):
        name = self.id().rsplit(".", 1)[-1]
        print(f"  {name}: {time.monotonic() - self.started:.2f} s", flush=True)

    def test_files_travel_both_ways(self):
        pair = self.pair
        created = pair.propagate("a", VAULT, b"vault written on a")
        edited = pair.propagate("b", VAULT, b"vault edited on b, a little longer")
        history = f"{DOCUMENTS}/History/2024-01-01.tlwvault"
        pair.write("b", history, b"an old version")
        pair.wait_for_file("a", history, b"an old version")
        pair.delete("a", history)
        deleted = pair.wait_for_file("b", history, None)
        pair.wait_in_sync()

        print(f"  propagation: create a->b {created:.2f} s, edit b->a {edited:.2f} s, "
              f"delete a->b {deleted:.2f} s", flush=True)
        for peer in ("a", "b"):
            self.assertEqual(pair.read(peer, VAULT), b"vault edited on b, a little longer")
            self.assertIsNone(pair.read(peer, history))
            self.assertEqual(pair.conflict_copies(peer), [])

    def test_edits_made_while_paused_leave_a_conflict_copy(self):
        pair = self.pair
        pair.propagate("a", VAULT, b"common base")
        # Both sides must have the file indexed before the link is cut, or there is no conflict.
        pair.wait_in_sync()
        pair.pause("a")
        self.addCleanup(pair.resume)
        edits = {"a": b"edited on a while apart", "b": b"edited on b while apart, longer"}
        for peer, data in edits.items():
            before = pair.folder_status(peer)["sequence"]
            pair.write(peer, VAULT, data)
            pair.scan(peer)
            self.assertGreater(pair.folder_status(peer)["sequence"], before,
                               f"peer {peer} did not index its edit")
        self.assertEqual(pair.read("a", VAULT), edits["a"])
        self.assertEqual(pair.read("b", VAULT), edits["b"])

        pair.resume()
        settled = pair.wait_in_sync(timeout=60)
        print(f"  conflict settled {settled:.2f} s after reconnecting", flush=True)

        copies = pair.conflict_copies("a")
        self.assertEqual(copies, pair.conflict_copies("b"))
        self.assertGreaterEqual(len(copies), 1)
        short_ids = {pair.device_id(p)[:7] for p in ("a", "b")}
        for copy in copies:
            print(f"  conflict copy: {copy}", flush=True)
            self.assertEqual(os.path.dirname(copy), DOCUMENTS)
            match = CONFLICT_COPY.match(os.path.basename(copy))
            self.assertEqual((match["stem"], match["ext"]), ("vault", ".tlwvault"))
            self.assertIn(match["device"], short_ids)
        # Neither edit is lost: one is the file, the other its conflict copy.
        kept = {pair.read("a", VAULT)} | {pair.read("a", c) for c in copies}
        self.assertEqual(kept, set(edits.values()))


def _syncthing_available() -> bool:
    return bool(os.environ.get("SYNCTHING") or shutil.which("syncthing"))


def main() -> int:
    start = time.monotonic()
    if not _syncthing_available():
        if os.environ.get("CI", "").lower() in ("true", "1", "yes"):
            print("FAIL: syncthing is not installed (scripts/setup.sh installs it); "
                  "CI must run this test", flush=True)
            return 1
        print("SKIP: syncthing is not installed", flush=True)
        return SKIP

    def out_of_time(signum, frame):
        # unittest records ordinary exceptions and carries on; this one stops the run.
        raise KeyboardInterrupt(f"ran past {RUN_LIMIT_S} s")

    signal.signal(signal.SIGALRM, out_of_time)
    signal.alarm(RUN_LIMIT_S)
    passed = interrupted = False
    try:
        suite = unittest.defaultTestLoader.loadTestsFromTestCase(SyncthingPairTest)
        runner = unittest.TextTestRunner(stream=sys.stdout, verbosity=2)
        passed = runner.run(suite).wasSuccessful()
    except KeyboardInterrupt as why:
        interrupted = True
        print(f"FAIL: interrupted: {why}", flush=True)
    finally:
        signal.alarm(0)
        pair = getattr(SyncthingPairTest, "pair", None)
        if pair is not None:
            # A no-op when tearDownClass has run; after an interruption it stops the
            # peers and shows the end of their logs.
            pair.__exit__(KeyboardInterrupt if interrupted else None, None, None)
    print(f"syncthing harness self-test ran in {time.monotonic() - start:.2f} s", flush=True)
    return 0 if passed else 1


if __name__ == "__main__":
    sys.exit(main())
