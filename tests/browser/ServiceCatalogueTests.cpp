// SPDX-License-Identifier: GPL-3.0-or-later
#include "browser/ServiceCatalogue.h"
#include "browser/SiteMatching.h"

#include <gtest/gtest.h>
#include <map>
#include <set>

namespace tallowin {
namespace {

TEST(ServiceCatalogueTest, KeysInTableOrderWithTheirDomainCounts) {
    const std::vector<std::string_view> keys{
        "google",
        "gsuite",
        "google workspace",
        "amazon web services",
        "aws",
        "amazon",
        "apple",
        "microsoft",
        "github",
        "gitlab",
        "bitbucket",
        "stripe",
        "coinbase",
        "crypto",
        "binance",
        "kraken",
        "nicehash",
        "plaid",
        "paypal",
        "digitalocean",
        "cloudflare",
        "heroku",
        "vercel",
        "netlify",
        "auth0",
        "okta",
        "openai",
        "anthropic",
        "notion",
        "slack",
        "discord",
        "figma",
        "linear",
        "atlassian",
        "dropbox",
        "twitter",
        "facebook",
        "instagram",
        "linkedin",
        "termius",
        "papaki",
        "parsec",
        "teamviewer",
        "miradore",
        "escrow.com",
        "account.ui.com",
        "ubiquiti",
        "synology",
        "invoice ninja",
        "npm",
        "docker",
        "namecheap",
        "godaddy",
        "hetzner",
    };
    const std::map<std::string_view, std::size_t> longer{
        {"microsoft", 4}, {"google", 3}, {"amazon web services", 3},
        {"aws", 3},       {"apple", 2},  {"openai", 2},
        {"anthropic", 2}, {"notion", 2}, {"atlassian", 2},
        {"twitter", 2},   {"papaki", 2}, {"parsec", 2},
        {"synology", 2},
    };
    const auto& catalogue = serviceCatalogue();
    ASSERT_EQ(catalogue.size(), 54u);
    for (std::size_t i = 0; i < catalogue.size(); ++i) {
        const auto& entry = catalogue[i];
        EXPECT_EQ(entry.name, keys[i]);
        const auto count = longer.contains(entry.name) ? longer.at(entry.name) : 1u;
        EXPECT_EQ(entry.domains.size(), count) << entry.name;
        EXPECT_EQ(catalogueDomains(entry.name), &entry.domains);
        for (const auto domain : entry.domains) {
            // Domains are compared with hosts without being normalised again.
            EXPECT_EQ(domainFromText(domain), std::string(domain)) << entry.name;
            EXPECT_EQ(normalizedHost(domain), domain) << entry.name;
        }
        const std::set<std::string_view> distinct(entry.domains.begin(), entry.domains.end());
        EXPECT_EQ(distinct.size(), entry.domains.size()) << entry.name;
    }
    EXPECT_EQ(catalogueDomains("nonexistent"), nullptr);
}

TEST(ServiceCatalogueTest, AliasesShareTheMainDomain) {
    const std::vector<std::string_view> google{"google.com"};
    EXPECT_EQ(catalogueDomains("google")->front(), "google.com");
    EXPECT_EQ(*catalogueDomains("gsuite"), google);
    EXPECT_EQ(*catalogueDomains("google workspace"), google);
    EXPECT_EQ(*catalogueDomains("ubiquiti"), *catalogueDomains("account.ui.com"));
    EXPECT_EQ(*catalogueDomains("aws"), *catalogueDomains("amazon web services"));
    EXPECT_EQ(*catalogueDomains("escrow.com"), std::vector<std::string_view>{"escrow.com"});
}

TEST(ServiceCatalogueTest, SuffixAndStopWordTables) {
    EXPECT_EQ(twoLabelSuffixes().size(), 15u);
    EXPECT_TRUE(twoLabelSuffixes().contains("co.uk"));
    EXPECT_TRUE(twoLabelSuffixes().contains("com.tr"));
    EXPECT_FALSE(twoLabelSuffixes().contains("com"));
    EXPECT_EQ(keywordStopWords().size(), 24u);
    EXPECT_TRUE(keywordStopWords().contains("services"));
    EXPECT_FALSE(keywordStopWords().contains("google"));
}

} // namespace
} // namespace tallowin
