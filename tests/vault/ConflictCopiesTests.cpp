// SPDX-License-Identifier: GPL-3.0-or-later
#include "vault/ConflictCopies.h"

#include <gtest/gtest.h>

namespace tallowin {
namespace {

struct NameCase {
    const char* name;
    bool isConflict;
};

void PrintTo(const NameCase& c, std::ostream* os) {
    *os << '"' << c.name << '"';
}

class ConflictCopyName : public testing::TestWithParam<NameCase> {};

TEST_P(ConflictCopyName, Matches) {
    EXPECT_EQ(isConflictCopyName(GetParam().name), GetParam().isConflict) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ConflictCopyName,
    testing::Values(
        // Syncthing
        NameCase{"vault.sync-conflict-20260305-141503-ABCDEF1.tlwvault", true},
        NameCase{"vault.sync-conflict-20260305-141503.tlwvault", true},
        NameCase{"vault.sync-conflict-20260305-141503-abcdef1.TLWVAULT", true},
        NameCase{"vault.sync-conflict-2026035-141503-ABCDEF1.tlwvault", false},
        NameCase{"vault.sync-conflict-20260305-141503-ABC DEF.tlwvault", false},
        // Nextcloud, ownCloud
        NameCase{"vault (conflicted copy 2026-03-05 141503).tlwvault", true},
        NameCase{"vault (conflicted copy alice 2026-03-05 141503).tlwvault", true},
        NameCase{"vault (Conflicted Copy Anna Berg 2026-03-05 141503).tlwvault", true},
        NameCase{"vault_conflict-20260305-141503.tlwvault", true},
        NameCase{"vault (conflicted copy 2026-03-05).tlwvault", false},
        // Dropbox
        NameCase{"vault (Anna's conflicted copy 2026-03-05).tlwvault", true},
        NameCase{"vault (Anna Berg's conflicted copy 2026-03-05) (1).tlwvault", true},
        NameCase{"vault (Anna’s conflicted copy 2026-03-05 (2)).tlwvault", true},
        NameCase{"vault (Anna's conflicted copy).tlwvault", false},
        // Never conflicts
        NameCase{"vault.tlwvault", false}, NameCase{"Vault.tlwvault", false},
        NameCase{".vault.tlwvault.Xy12Ab", false},
        NameCase{".vault.sync-conflict-20260305-141503-ABCDEF1.tlwvault.Xy12Ab", false},
        NameCase{".syncthing.vault.tlwvault.tmp", false},
        NameCase{"vault-20260305T141503Z-Mac.tlwvault", false}, NameCase{"History", false},
        NameCase{"other.sync-conflict-20260305-141503-ABCDEF1.tlwvault", false},
        NameCase{"backup (conflicted copy 2026-03-05 141503).tlwvault", false},
        NameCase{"vault (conflicted copy 2026-03-05 141503).tlwvault.part", false},
        NameCase{"vault.sync-conflict-20260305-141503-ABCDEF1.tlwvault\n", false},
        NameCase{"", false}));

} // namespace
} // namespace tallowin
