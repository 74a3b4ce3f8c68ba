// SPDX-License-Identifier: GPL-3.0-or-later
// Merging three versions of a 10,000-account list (the local copy, the cloud copy and
// one conflict copy), against copying the same three lists and sorting all 30,000
// accounts by creation date and id.
#include "core/AccountMerge.h"

#include <algorithm>
#include <array>
#include <benchmark/benchmark.h>
#include <random>

namespace tallowin {
namespace {

constexpr int kAccounts = 10'000;
constexpr Date kNow{800'000'000};

const std::array<const char*, 3> kDevices{"4F1C2D3E-0A1B-4C2D-8E3F-405162738495",
                                          "9A8B7C6D-5E4F-4A3B-9C2D-1E0F2A3B4C5D",
                                          "C0FFEE00-1234-4567-89AB-CDEF01234567"};
const std::array<const char*, 8> kServices{"GitHub",
                                           "Google Workspace",
                                           "Amazon Web Services",
                                           "Dropbox",
                                           "Caf\u00E9 Z\u00FCrich",
                                           "Example Bank",
                                           "Coinbase",
                                           "Nextcloud"};

Account randomAccount(std::mt19937_64& random, int n) {
    Account account;
    for (auto& byte : account.id.bytes) {
        byte = static_cast<std::uint8_t>(random());
    }
    account.issuer = kServices[random() % kServices.size()];
    account.label = "user" + std::to_string(n) + "@example.org";
    static constexpr char kBase32[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";
    for (int i = 0; i < 32; ++i) {
        account.secret.push_back(kBase32[random() % 32]);
    }
    if (random() % 4 == 0) {
        account.color = static_cast<std::int64_t>(random() % 12);
    }
    account.websites = {"example" + std::to_string(n) + ".org"};
    if (random() % 3 == 0) {
        account.websites.push_back("login.example" + std::to_string(n) + ".org");
    }
    account.createdAt = Date{6e8 + static_cast<double>(random() % 200'000'000)};
    account.updatedAt = account.createdAt.adding(static_cast<double>(random() % 1'000'000));
    account.updatedBy = kDevices[random() % kDevices.size()];
    return account;
}

struct Lists {
    std::vector<std::vector<Account>> lists;
};

/// Three versions that share most accounts: a few edits, deletions (some older than 30
/// days), same-second edits from two devices, and a few accounts new to each version.
const Lists& sampleLists() {
    static const Lists sample = [] {
        std::mt19937_64 random(20240601);
        std::vector<Account> base;
        base.reserve(kAccounts);
        for (int n = 0; n < kAccounts; ++n) {
            base.push_back(randomAccount(random, n));
        }
        Lists out;
        out.lists = {base, base, base};
        for (std::size_t v = 1; v < out.lists.size(); ++v) {
            std::vector<Account>& list = out.lists[v];
            for (Account& account : list) {
                const auto roll = random() % 1000;
                if (roll < 20) { // edited on this device
                    account.issuer += " (work)";
                    account.updatedAt = account.updatedAt.adding(3600);
                    account.updatedBy = kDevices[v];
                } else if (roll < 30) { // deleted recently or long ago
                    const double ago = roll < 25 ? 86'400 : 5'000'000;
                    account.deletedAt = kNow.adding(-ago);
                    account.updatedAt = *account.deletedAt;
                    account.updatedBy = kDevices[v];
                } else if (roll < 35) { // edited in the same second on another device
                    account.color = 7;
                    account.updatedBy = kDevices[(v + 1) % kDevices.size()];
                }
            }
            for (int n = 0; n < 40; ++n) {
                list.push_back(randomAccount(random, kAccounts + static_cast<int>(v) * 100 + n));
            }
        }
        return out;
    }();
    return sample;
}

void BM_Merge3x10000(benchmark::State& state) {
    const Lists& sample = sampleLists();
    for (auto _ : state) {
        auto merged = mergeAccounts(sample.lists, kNow);
        benchmark::DoNotOptimize(merged.data());
    }
    state.SetItemsProcessed(state.iterations() * 3 * kAccounts);
}
BENCHMARK(BM_Merge3x10000)->Unit(benchmark::kMillisecond);

void BM_CopyAndSort3x10000(benchmark::State& state) {
    const Lists& sample = sampleLists();
    for (auto _ : state) {
        std::vector<Account> all;
        all.reserve(3 * kAccounts + 100);
        for (const auto& list : sample.lists) {
            all.insert(all.end(), list.begin(), list.end());
        }
        std::sort(all.begin(), all.end(), [](const Account& a, const Account& b) {
            if (a.createdAt != b.createdAt) {
                return a.createdAt < b.createdAt;
            }
            return a.id < b.id;
        });
        benchmark::DoNotOptimize(all.data());
    }
    state.SetItemsProcessed(state.iterations() * 3 * kAccounts);
}
BENCHMARK(BM_CopyAndSort3x10000)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace tallowin

BENCHMARK_MAIN();
