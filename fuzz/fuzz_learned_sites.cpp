// SPDX-License-Identifier: GPL-3.0-or-later
// The learned-sites file: decodes the input, checks that the map survives being written
// and read again, and scores an account against every host in it.
#include "browser/LearnedSites.h"
#include "browser/SiteMatching.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tallowin;
    const LearnedSites sites =
        decodeLearnedSites(std::string_view(reinterpret_cast<const char*>(data), size));
    if (decodeLearnedSites(encodeLearnedSites(sites)) != sites) {
        std::abort();
    }
    Account account;
    account.id = *Uuid::parse("3F2504E0-4F89-41D3-9A0C-0305E82C3301");
    account.issuer = "Amazon Web Services";
    account.label = "alice@example.com";
    for (const auto& [host, ids] : sites) {
        account.websites = {host};
        if (matchScore(account, host, sites) != (normalizedHost(host).empty() ? 0 : 100)) {
            std::abort();
        }
        (void)serviceDomain(account);
        (void)registrableDomain(host);
    }
    return 0;
}
