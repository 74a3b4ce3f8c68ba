// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/Base64.h"
#include "core/FileIO.h"
#include "core/VaultCrypto.h"
#include "core/VaultEnvelope.h"
#include "core/VaultError.h"

#include <cctype>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <variant>

namespace tallowin {
namespace {

/// Repeatable random bytes (SplitMix64).
class SeededRandom final : public RandomSource {
public:
    explicit SeededRandom(std::uint64_t seed) : state_(seed) {}
    void fill(std::span<std::uint8_t> out) override {
        for (auto& byte : out) {
            state_ += 0x9E3779B97F4A7C15u;
            std::uint64_t z = state_;
            z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
            z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
            byte = static_cast<std::uint8_t>(z ^ (z >> 31));
        }
    }

private:
    std::uint64_t state_;
};

constexpr const char* kPassword = "correct horse battery staple";
constexpr std::int64_t kFastIterations = 7;
constexpr Date kNow{794937600.123456};

std::vector<Account> sampleAccounts(RandomSource& random) {
    Account plain =
        makeAccount({"GitHub", "ana@example.org", "JBSWY3DPEHPK3PXP", OTPAlgorithm::sha1, 6, 30},
                    "DEVICE-A", Date{700000000.5}, random);
    Account decorated = makeAccount({"Caf\u00E9 \u6771\u4EAC", "ana/\"quoted\"", "GEZDGNBVGY3TQOJQ",
                                     OTPAlgorithm::sha512, 8, 60},
                                    "DEVICE-B", Date{700000001}, random);
    decorated.color = 4;
    decorated.websites = {"example.org", "sso.example.org"};
    Account deleted = makeAccount({"", "", "MFRGGZDF", OTPAlgorithm::sha256, 7, 15}, "DEVICE-A",
                                  Date{700000002}, random);
    deleted.deletedAt = Date{794000000.25};
    return {plain, decorated, deleted};
}

/// How reading a file ends: the accounts, or the error that stopped it.
using Outcome = std::variant<std::vector<Account>, VaultError::Code, std::string>;

Outcome outcomeOf(const std::function<std::vector<Account>()>& read) {
    try {
        return read();
    } catch (const VaultError& error) {
        return error.code();
    } catch (const JSONDecodeError&) {
        return std::string("JSONDecodeError");
    }
}

/// Reading with the master password, as on a new device or when importing a backup.
Outcome readWithPassword(std::span<const std::uint8_t> file, std::string_view password) {
    return outcomeOf([&] {
        const VaultEnvelope envelope = decodeEnvelope(file);
        return openContents(envelope, unwrapVaultKey(envelope, password));
    });
}

/// Reading with the data key stored on the device.
Outcome readWithKey(std::span<const std::uint8_t> file, const VaultKey& key) {
    return outcomeOf([&] { return openContents(decodeEnvelope(file), key); });
}

class VaultEnvelopeTest : public ::testing::Test {
protected:
    VaultEnvelopeTest() : random(42), accounts(sampleAccounts(random)), key(newVaultKey(random)) {
        envelope = makeEnvelopeHeader(kVaultFormat, kPassword, key, "DEVICE-A", Date{1.5}, random,
                                      kFastIterations);
        envelope.payload = sealContents(accounts, key, random);
        envelope.savedAt = kNow;
        envelope.savedBy = "Ana's laptop";
        file = encodeEnvelope(envelope);
    }

    /// The file with its JSON changed by `edit`.
    [[nodiscard]] Bytes edited(const std::function<void(Json&)>& edit) const {
        Json json = parseVaultJSON(toString(file));
        edit(json);
        return toBytes(json.dump());
    }

    SeededRandom random;
    std::vector<Account> accounts;
    VaultKey key;
    VaultEnvelope envelope;
    Bytes file;
};

TEST_F(VaultEnvelopeTest, RoundTripsThroughTheFile) {
    const VaultEnvelope decoded = decodeEnvelope(file);
    EXPECT_EQ(decoded, envelope);
    EXPECT_EQ(encodeEnvelope(decoded), file);
    const VaultKey unwrapped = unwrapVaultKey(decoded, kPassword);
    EXPECT_EQ(unwrapped, key);
    EXPECT_EQ(openContents(decoded, unwrapped), accounts);
    EXPECT_EQ(readWithPassword(file, "Correct horse battery staple"),
              Outcome(VaultError::wrongPassword));
    EXPECT_EQ(readWithPassword(file, ""), Outcome(VaultError::wrongPassword));
}

TEST_F(VaultEnvelopeTest, WritesSortedCompactKeysWithTheSizesTheFormatImplies) {
    const std::string text = toString(file);
    std::size_t last = 0;
    for (const char* key :
         {"{\"format\":", "\"kdf\":{\"algorithm\":\"PBKDF2-HMAC-SHA256\"", "\"iterations\":7,",
          "\"salt\":", "\"keyID\":", "\"payload\":", "\"savedAt\":794937600.123456,",
          "\"savedBy\":", "\"version\":1,", "\"wrappedKey\":"}) {
        const std::size_t at = text.find(key);
        ASSERT_NE(at, std::string::npos) << key;
        EXPECT_GE(at, last) << key;
        last = at;
    }
    EXPECT_EQ(text.find_first_of(" \n"), text.find(" laptop")); // only inside savedBy

    const Json json = parseVaultJSON(text);
    EXPECT_EQ(json["kdf"]["salt"].get<std::string>().size(), 24u);
    EXPECT_EQ(json["wrappedKey"].get<std::string>().size(), 80u);
    EXPECT_EQ(json["keyID"].get<std::string>(), key.id);
    EXPECT_EQ(key.id.size(), 36u);
    const SecretBytes contents = encodeContents({accounts});
    EXPECT_EQ(envelope.payload.size(), contents.size() + 28);
    EXPECT_EQ(decodeContents(contents.span()).accounts, accounts);
    EXPECT_EQ(encodeContents(decodeContents(contents.span())), contents);
}

struct TamperCase {
    const char* name;
    std::function<void(Json&)> edit;
    Outcome withPassword; ///< empty vector: opens to the original accounts
    Outcome withStoredKey;
};

void flipByte(Json& value, std::size_t fromEnd) {
    Bytes bytes = *base64Decode(value.get<std::string>());
    bytes[bytes.size() - 1 - fromEnd] ^= 0x20;
    value = base64Encode(bytes);
}

void truncateTo(Json& value, std::size_t size) {
    Bytes bytes = *base64Decode(value.get<std::string>());
    bytes.resize(size);
    value = base64Encode(bytes);
}

TEST_F(VaultEnvelopeTest, MapsEachKindOfDamageToItsError) {
    const Outcome opens = std::vector<Account>{};
    const auto wrong = Outcome(VaultError::wrongPassword);
    const auto corrupted = Outcome(VaultError::corrupted);
    const auto foreign = Outcome(VaultError::foreignVault);
    const auto newer = Outcome(VaultError::unsupportedFormat);
    const std::vector<TamperCase> cases = {
        {"wrapped key byte", [](Json& j) { flipByte(j["wrappedKey"], 40); }, wrong, opens},
        {"wrapped key tag", [](Json& j) { flipByte(j["wrappedKey"], 0); }, wrong, opens},
        {"wrapped key short", [](Json& j) { truncateTo(j["wrappedKey"], 27); }, wrong, opens},
        {"payload byte", [](Json& j) { flipByte(j["payload"], 50); }, corrupted, corrupted},
        {"payload short", [](Json& j) { truncateTo(j["payload"], 27); }, corrupted, corrupted},
        {"payload empty", [](Json& j) { j["payload"] = ""; }, corrupted, corrupted},
        {"key id", [](Json& j) { j["keyID"] = "00000000-0000-4000-8000-000000000000"; }, wrong,
         foreign},
        {"key id lower case",
         [](Json& j) {
             std::string id = j["keyID"];
             for (char& c : id) {
                 c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
             }
             j["keyID"] = id;
         },
         wrong, foreign},
        {"salt", [](Json& j) { flipByte(j["kdf"]["salt"], 3); }, wrong, opens},
        {"other iteration count", [](Json& j) { j["kdf"]["iterations"] = 8; }, wrong, opens},
        {"saved at", [](Json& j) { j["savedAt"] = 1e9; }, opens, opens},
        {"saved by", [](Json& j) { j["savedBy"] = "someone else"; }, opens, opens},
        {"format", [](Json& j) { j["format"] = "tlw-backup"; }, opens, opens},
        {"kdf algorithm", [](Json& j) { j["kdf"]["algorithm"] = "scrypt"; }, opens, opens},
        {"unknown key",
         [](Json& j) {
             j["comment"] = {1, 2, 3};
         },
         opens, opens},
        {"version 0", [](Json& j) { j["version"] = 0; }, opens, opens},
        {"version 2", [](Json& j) { j["version"] = 2; }, newer, newer},
        {"version 2 without savedBy",
         [](Json& j) {
             j["version"] = 2;
             j.erase("savedBy");
         },
         corrupted, corrupted},
        {"iterations 0", [](Json& j) { j["kdf"]["iterations"] = 0; }, corrupted, opens},
        {"iterations -1", [](Json& j) { j["kdf"]["iterations"] = -1; }, corrupted, opens},
        {"iterations above the accepted bound",
         [](Json& j) { j["kdf"]["iterations"] = kMaxAcceptedKDFIterations + 1; }, corrupted, opens},
        {"iterations above 32 bits", [](Json& j) { j["kdf"]["iterations"] = 4294967296; },
         corrupted, opens},
        {"iterations as text", [](Json& j) { j["kdf"]["iterations"] = "7"; }, corrupted, corrupted},
        {"version as fraction", [](Json& j) { j["version"] = 1.5; }, corrupted, corrupted},
        {"salt not base64", [](Json& j) { j["kdf"]["salt"] = "not base64"; }, corrupted, corrupted},
        {"payload with a stray pad",
         [](Json& j) { j["payload"] = j["payload"].get<std::string>() + "="; }, corrupted,
         corrupted},
        {"saved at as text", [](Json& j) { j["savedAt"] = "2026-01-01"; }, corrupted, corrupted},
        {"kdf not an object", [](Json& j) { j["kdf"] = "PBKDF2"; }, corrupted, corrupted},
        {"kdf without salt", [](Json& j) { j["kdf"].erase("salt"); }, corrupted, corrupted},
        {"payload null", [](Json& j) { j["payload"] = nullptr; }, corrupted, corrupted},
        {"not an object", [](Json& j) { j = Json::array({j}); }, corrupted, corrupted},
    };
    for (const TamperCase& test : cases) {
        SCOPED_TRACE(test.name);
        const Bytes damaged = edited(test.edit);
        const auto expect = [&](const Outcome& expected, const Outcome& actual) {
            if (expected == opens) {
                EXPECT_EQ(actual, Outcome(accounts));
            } else {
                EXPECT_EQ(actual, expected);
            }
        };
        expect(test.withPassword, readWithPassword(damaged, kPassword));
        expect(test.withStoredKey, readWithKey(damaged, key));
    }
    for (const char* member :
         {"format", "version", "keyID", "kdf", "wrappedKey", "payload", "savedAt", "savedBy"}) {
        EXPECT_EQ(readWithKey(edited([&](Json& j) { j.erase(member); }), key), corrupted) << member;
    }
}

TEST_F(VaultEnvelopeTest, ReadsEveryValidSpellingOfTheSameEnvelope) {
    std::string escaped;
    for (const char c : toString(file)) {
        escaped += c == '/' ? std::string("\\/") : std::string(1, c);
    }
    ASSERT_NE(escaped, toString(file)); // the base64 fields hold slashes with this seed
    const std::string text = toString(file);
    const std::string body = text.substr(1);
    for (const std::string& spelling : {
             escaped,
             parseVaultJSON(text).dump(2),              // indented, keys sorted
             "\xEF\xBB\xBF" + text,                     // byte-order mark
             "{\"payload\":\"AAAA\"," + body,           // the later duplicate wins
             "{\"payload\":7," + body,                  // ... whatever its type
             " {\"wrappedKey\":[\"x\"]," + body + "\n", // ... and its place
         }) {
        EXPECT_EQ(decodeEnvelope(toBytes(spelling)), envelope) << spelling.substr(0, 60);
    }
    std::string duplicateLast = text;
    duplicateLast.insert(text.size() - 1, ",\"payload\":\"AAAA\"");
    EXPECT_EQ(decodeEnvelope(toBytes(duplicateLast)).payload, Bytes(3, 0));
    duplicateLast.insert(duplicateLast.size() - 1, ",\"payload\":\"AA\\/A\"");
    EXPECT_EQ(decodeEnvelope(toBytes(duplicateLast)).payload, *base64Decode("AA/A"));
}

TEST_F(VaultEnvelopeTest, WritesExactlyWhatTheSharedEncoderWrites) {
    VaultEnvelope odd = envelope;
    odd.format = "tlw-\"vault\"\n\u00E9/\x01";
    odd.savedBy = "bad utf-8 \xFF end";
    odd.keyID = "";
    odd.kdf.algorithm = "\\";
    odd.kdf.iterations = -5;
    odd.version = -9223372036854775807 - 1;
    odd.savedAt = Date{-0.1};
    for (const VaultEnvelope& value : {envelope, odd, VaultEnvelope{}}) {
        const std::string text = toString(encodeEnvelope(value));
        EXPECT_EQ(encodeVaultJSON(parseVaultJSON(text)), text);
    }
    EXPECT_EQ(decodeEnvelope(encodeEnvelope(odd)).format, odd.format);
}

TEST(DecodeEnvelope, RefusesWhatIsNotAnEnvelopeAsCorrupted) {
    for (const std::string text : {"", " ", "not json", "{", "null", "[]", "\"tlw-vault\"", "{}",
                                   "{\"format\":\"tlw-vault\"", "\xEF\xBB\xBF{}"}) {
        try {
            (void)decodeEnvelope(toBytes(text));
            ADD_FAILURE() << text;
        } catch (const VaultError& error) {
            EXPECT_EQ(error.code(), VaultError::corrupted) << text;
        }
    }
}

TEST_F(VaultEnvelopeTest, NulBytesInsideTheTextAreCorrupted) {
    // A NUL byte ends a member's value early for the JSON parser; the file is still broken.
    const std::string text = toString(file);
    for (const std::string_view after : {"\"savedAt\":", "\"iterations\":", "\"version\":"}) {
        std::string damaged = text;
        damaged.insert(damaged.find(after) + after.size() + 1, std::string("\0\0", 2));
        EXPECT_EQ(readWithKey(toBytes(damaged), key), Outcome(VaultError::corrupted)) << after;
    }
}

TEST_F(VaultEnvelopeTest, BoundsTheSizeOfWhatItParses) {
    // An unknown member with many values is refused before the tree grows; a plain file
    // and one with a byte-order mark (read in different ways) draw the line alike.
    for (const std::size_t count : {std::size_t{231}, std::size_t{232}}) {
        const Bytes compact = edited([&](Json& j) { j["padding"] = Json(Bytes(count, 0)); });
        const Bytes marked = toBytes("\xEF\xBB\xBF" + toString(compact));
        const Outcome expected = count == 231 ? Outcome(accounts) : Outcome(VaultError::corrupted);
        EXPECT_EQ(readWithKey(compact, key), expected) << count;
        EXPECT_EQ(readWithKey(marked, key), expected) << count;
    }
    std::string deep = toString(file);
    deep.insert(1, "\"deep\":" + std::string(100000, '[') + std::string(100000, ']') + ",");
    EXPECT_EQ(readWithKey(toBytes(deep), key), Outcome(VaultError::corrupted));

    Bytes huge = file;
    huge.resize(kMaxVaultFileBytes + 1, ' '); // trailing white space is valid JSON
    EXPECT_EQ(readWithKey(huge, key), Outcome(VaultError::corrupted));
}

TEST_F(VaultEnvelopeTest, VersionTwoReportsTheNewerProgramMessage) {
    const Bytes newer = edited([](Json& j) { j["version"] = 2; });
    try {
        (void)decodeEnvelope(newer);
        FAIL();
    } catch (const VaultError& error) {
        EXPECT_STREQ(error.what(), "This file was made by a newer version of Tallowin.");
    }
}

TEST_F(VaultEnvelopeTest, ComposedAndDecomposedPasswordsUnlockTheSameEnvelope) {
    const VaultEnvelope header = makeEnvelopeHeader(kVaultFormat, "P\u00E4ssw\u00F6rd\u00C5", key,
                                                    "D", kNow, random, kFastIterations);
    EXPECT_EQ(unwrapVaultKey(header, "Pa\u0308sswo\u0308rdA\u030A"), key);
    EXPECT_EQ(unwrapVaultKey(header, "P\u00E4ssw\u00F6rd\u00C5"), key);
}

TEST_F(VaultEnvelopeTest, FreshHeaderHasAnEmptyPayloadThatDoesNotOpen) {
    const VaultEnvelope header =
        makeEnvelopeHeader(kBackupFormat, kPassword, key, "DEVICE-ID", kNow, random, 3);
    EXPECT_EQ(header.format, "tlw-backup");
    EXPECT_EQ(header.version, 1);
    EXPECT_EQ(header.keyID, key.id);
    EXPECT_EQ(header.kdf, (KDFParameters{"PBKDF2-HMAC-SHA256", 3, header.kdf.salt}));
    EXPECT_EQ(header.kdf.salt.size(), 16u);
    EXPECT_TRUE(header.payload.empty());
    EXPECT_EQ(header.savedAt, kNow);
    EXPECT_EQ(header.savedBy, "DEVICE-ID");
    const Bytes headerFile = encodeEnvelope(header);
    EXPECT_NE(toString(headerFile).find("\"payload\":\"\""), std::string::npos);
    EXPECT_EQ(decodeEnvelope(headerFile), header);
    EXPECT_EQ(readWithKey(headerFile, key), Outcome(VaultError::corrupted));
}

TEST_F(VaultEnvelopeTest, PayloadThatOpensButIsNotContentsFailsWithTheDecodingError) {
    const std::string ad = std::string(kPayloadPrefix) + key.id;
    for (const std::string contents : {"{\"accounts\":5}", "{}", "[]", "not json",
                                       "{\"accounts\":[{\"id\":\"x\",\"secret\":\"A\"}]}"}) {
        VaultEnvelope bad = envelope;
        bad.payload = sealBox(toBytes(contents), key.key.span(), ad, random);
        EXPECT_EQ(readWithKey(encodeEnvelope(bad), key), Outcome(std::string("JSONDecodeError")))
            << contents;
    }
    // Sealed under the key-wrap associated data: does not open as a payload.
    VaultEnvelope swapped = envelope;
    swapped.payload = sealBox(toBytes("{\"accounts\":[]}"), key.key.span(),
                              std::string(kKeyWrapPrefix) + key.id, random);
    EXPECT_EQ(readWithKey(encodeEnvelope(swapped), key), Outcome(VaultError::corrupted));
    swapped.payload = sealBox(toBytes("{\"accounts\":[]}"), key.key.span(), ad, random);
    EXPECT_EQ(readWithKey(encodeEnvelope(swapped), key), Outcome(std::vector<Account>{}));
}

TEST_F(VaultEnvelopeTest, WrappedKeyThatOpensToSomethingElseThanAKeyIsCorrupted) {
    VaultEnvelope bad = envelope;
    const SecretBytes wrapping = deriveWrappingKey(kPassword, bad.kdf.salt, bad.kdf.iterations);
    bad.wrappedKey =
        sealBox(Bytes(16, 1), wrapping.span(), std::string(kKeyWrapPrefix) + bad.keyID, random);
    EXPECT_EQ(readWithPassword(encodeEnvelope(bad), kPassword), Outcome(VaultError::corrupted));
}

TEST_F(VaultEnvelopeTest, EachBackupHasItsOwnKeySaltAndNonces) {
    const Bytes first = makeBackup(accounts, kPassword, "Ana's laptop", kNow, random, 5);
    const Bytes second = makeBackup(accounts, kPassword, "Ana's laptop", kNow, random, 5);
    const VaultEnvelope a = decodeEnvelope(first);
    const VaultEnvelope b = decodeEnvelope(second);
    for (const VaultEnvelope* backup : {&a, &b}) {
        EXPECT_EQ(backup->format, "tlw-backup");
        EXPECT_EQ(backup->savedAt, kNow);
        EXPECT_EQ(backup->savedBy, "Ana's laptop");
        EXPECT_NE(backup->keyID, key.id); // never the vault's key
    }
    EXPECT_NE(a.keyID, b.keyID);
    EXPECT_NE(a.kdf.salt, b.kdf.salt);
    const auto nonce = [](const Bytes& box) { return Bytes(box.begin(), box.begin() + 12); };
    EXPECT_NE(nonce(a.wrappedKey), nonce(b.wrappedKey));
    EXPECT_NE(nonce(a.payload), nonce(b.payload));
    EXPECT_EQ(readWithPassword(first, kPassword), Outcome(accounts));
    EXPECT_EQ(readWithPassword(second, kPassword), Outcome(accounts));
}

TEST(MakeBackup, UsesTheStandardIterationCountByDefault) {
    const std::vector<Account> none;
    const Bytes backup = makeBackup(none, "pw", "host", Date{0});
    const VaultEnvelope envelope = decodeEnvelope(backup);
    EXPECT_EQ(envelope.kdf, (KDFParameters{"PBKDF2-HMAC-SHA256", 600000, envelope.kdf.salt}));
    EXPECT_EQ(envelope.version, 1);
    EXPECT_EQ(readWithPassword(backup, "pw"), Outcome(none));
    EXPECT_EQ(encodeEnvelope(envelope), backup);
}

TEST(VaultContents, DecodeNeedsAnAccountsList) {
    EXPECT_EQ(decodeContents(toBytes("{\"accounts\":[],\"extra\":1}")), VaultContents{});
    EXPECT_EQ(toString(encodeContents(VaultContents{}).span()), "{\"accounts\":[]}");
    for (const char* bad : {"{}", "{\"accounts\":null}", "{\"accounts\":{}}", "[[]]", "",
                            "{\"accounts\":[{\"secret\":\"A\"}]}"}) {
        EXPECT_THROW((void)decodeContents(toBytes(bad)), JSONDecodeError) << bad;
    }
}

} // namespace
} // namespace tallowin
