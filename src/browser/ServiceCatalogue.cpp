// SPDX-License-Identifier: GPL-3.0-or-later
#include "browser/ServiceCatalogue.h"

#include <unordered_map>

namespace tallowin {

const std::vector<ServiceEntry>& serviceCatalogue() {
    static const std::vector<ServiceEntry> catalogue{
        {"google", {"google.com", "gmail.com", "youtube.com"}},
        {"gsuite", {"google.com"}},
        {"google workspace", {"google.com"}},
        {"amazon web services", {"aws.amazon.com", "amazonaws.com", "awsapps.com"}},
        {"aws", {"aws.amazon.com", "amazonaws.com", "awsapps.com"}},
        {"amazon", {"amazon.com"}},
        {"apple", {"apple.com", "icloud.com"}},
        {"microsoft", {"microsoft.com", "live.com", "microsoftonline.com", "office.com"}},
        {"github", {"github.com"}},
        {"gitlab", {"gitlab.com"}},
        {"bitbucket", {"bitbucket.org"}},
        {"stripe", {"stripe.com"}},
        {"coinbase", {"coinbase.com"}},
        {"crypto", {"crypto.com"}},
        {"binance", {"binance.com"}},
        {"kraken", {"kraken.com"}},
        {"nicehash", {"nicehash.com"}},
        {"plaid", {"plaid.com"}},
        {"paypal", {"paypal.com"}},
        {"digitalocean", {"digitalocean.com"}},
        {"cloudflare", {"cloudflare.com"}},
        {"heroku", {"heroku.com"}},
        {"vercel", {"vercel.com"}},
        {"netlify", {"netlify.com"}},
        {"auth0", {"auth0.com"}},
        {"okta", {"okta.com"}},
        {"openai", {"openai.com", "chatgpt.com"}},
        {"anthropic", {"anthropic.com", "claude.ai"}},
        {"notion", {"notion.so", "notion.com"}},
        {"slack", {"slack.com"}},
        {"discord", {"discord.com"}},
        {"figma", {"figma.com"}},
        {"linear", {"linear.app"}},
        {"atlassian", {"atlassian.com", "atlassian.net"}},
        {"dropbox", {"dropbox.com"}},
        {"twitter", {"twitter.com", "x.com"}},
        {"facebook", {"facebook.com"}},
        {"instagram", {"instagram.com"}},
        {"linkedin", {"linkedin.com"}},
        {"termius", {"termius.com"}},
        {"papaki", {"papaki.com", "papaki.gr"}},
        {"parsec", {"parsec.app", "parsecgaming.com"}},
        {"teamviewer", {"teamviewer.com"}},
        {"miradore", {"miradore.com"}},
        {"escrow.com", {"escrow.com"}},
        {"account.ui.com", {"account.ui.com"}},
        {"ubiquiti", {"account.ui.com"}},
        {"synology", {"synology.com", "quickconnect.to"}},
        {"invoice ninja", {"invoiceninja.com"}},
        {"npm", {"npmjs.com"}},
        {"docker", {"docker.com"}},
        {"namecheap", {"namecheap.com"}},
        {"godaddy", {"godaddy.com"}},
        {"hetzner", {"hetzner.com"}},
    };
    return catalogue;
}

const std::vector<std::string_view>* catalogueDomains(std::string_view name) {
    static const auto index = [] {
        std::unordered_map<std::string_view, const std::vector<std::string_view>*> map;
        for (const auto& entry : serviceCatalogue()) {
            map.emplace(entry.name, &entry.domains);
        }
        return map;
    }();
    const auto it = index.find(name);
    return it == index.end() ? nullptr : it->second;
}

const std::set<std::string_view>& twoLabelSuffixes() {
    static const std::set<std::string_view> suffixes{
        "co.uk",  "org.uk", "ac.uk", "com.gr", "org.gr", "gov.gr", "edu.gr", "com.au",
        "net.au", "co.jp",  "co.nz", "com.br", "com.cy", "co.za",  "com.tr",
    };
    return suffixes;
}

const std::set<std::string_view>& keywordStopWords() {
    static const std::set<std::string_view> words{
        "com", "net", "org",     "gov",      "edu",   "app",  "www",     "io",
        "co",  "gr",  "account", "accounts", "login", "auth", "the",     "and",
        "my",  "new", "web",     "online",   "inc",   "ltd",  "service", "services",
    };
    return words;
}

} // namespace tallowin
