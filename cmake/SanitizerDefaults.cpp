// SPDX-License-Identifier: GPL-3.0-or-later
// Linked into every program of the sanitizer build. OpenSSL keeps per-thread state for
// worker threads that are still alive when a test process exits; that is not our leak.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libcrypto.so\n";
}
// A matched suppression would otherwise be reported on standard error, which tests of the
// programs' own messages read.
extern "C" const char* __lsan_default_options() {
    return "print_suppressions=0";
}
