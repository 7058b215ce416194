#include "wire/wire_crypt.h"

#include <cstring>

#include "crypto/chacha20.h"
#include "crypto/rc4.h"
#include "crypto/sha256.h"
#include "wire/protocol.h"

namespace {

const char* const kCiphers[] = {"ChaCha64", "ChaCha", "Arc4"};
const char kSymmetric[] = "Symmetric";

bool EqualsIgnoringCase(const AnsiString& text, const char* word) {
    if (text.Length() != std::strlen(word)) {
        return false;
    }
    for (size_t i = 0; i < text.Length(); ++i) {
        char c = text[i];
        char w = word[i];
        c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
        w = (w >= 'A' && w <= 'Z') ? static_cast<char>(w + 32) : w;
        if (c != w) {
            return false;
        }
    }
    return true;
}

class Arc4Cipher : public IWireCipher {
public:
    explicit Arc4Cipher(const std::string& key) {
        rc4_.SetKey(reinterpret_cast<const uint8_t*>(key.data()), key.size());
    }
    void Apply(uint8_t* bytes, size_t length) override { rc4_.Process(bytes, length); }

private:
    crypto::Rc4 rc4_;
};

class ChaChaCipher : public IWireCipher {
public:
    // ChaCha: a 12-byte nonce and a 4-byte starting block counter (most significant
    // byte first). ChaCha64: an 8-byte nonce and a 64-bit counter from 0.
    ChaChaCipher(const std::string& sessionKey, const AnsiString& iv) {
        uint8_t key[crypto::ChaCha20::kKeySize];
        crypto::Sha256::Hash(sessionKey.data(), sessionKey.size(), key);
        const auto* bytes = reinterpret_cast<const uint8_t*>(iv.Data());
        if (iv.Length() == 16) {
            const uint32_t counter = (static_cast<uint32_t>(bytes[12]) << 24) |
                                     (static_cast<uint32_t>(bytes[13]) << 16) |
                                     (static_cast<uint32_t>(bytes[14]) << 8) | bytes[15];
            chacha_.SetRfc7539(key, bytes, counter);
        } else {
            chacha_.SetOriginal(key, bytes);
        }
    }
    void Apply(uint8_t* bytes, size_t length) override { chacha_.Process(bytes, length); }

private:
    crypto::ChaCha20 chacha_;
};

const AnsiString* SpecificData(const CipherOffer& offer, const char* plugin) {
    for (size_t i = 0; i < offer.specificCount; ++i) {
        if (offer.specific[i].plugin == AnsiString(plugin)) {
            return &offer.specific[i].data;
        }
    }
    return nullptr;
}

}  // namespace

bool ParseWireCrypt(const AnsiString& text, WireCryptPolicy* policy) {
    const struct {
        const char* word;
        WireCryptPolicy policy;
    } words[] = {{"required", WireCryptPolicy::kRequired},
                 {"enabled", WireCryptPolicy::kEnabled},
                 {"disabled", WireCryptPolicy::kDisabled}};
    for (const auto& w : words) {
        if (EqualsIgnoringCase(text, w.word)) {
            *policy = w.policy;
            return true;
        }
    }
    return false;
}

bool ParseKeyAnnouncements(const AnsiString& data, CipherOffer* offer) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(data.Data());
    const size_t size = data.Length();
    bool symmetric = false;
    for (size_t at = 0; at < size;) {
        if (size - at < 2 || size - at - 2 < bytes[at + 1]) {
            return false;
        }
        const uint8_t tag = bytes[at];
        const AnsiString value(data.Data() + at + 2, bytes[at + 1]);
        at += 2 + bytes[at + 1];
        if (tag == TAG_KEY_TYPE) {
            symmetric = value == AnsiString(kSymmetric);
        } else if (tag == TAG_KEY_PLUGINS && symmetric) {
            offer->plugins = value;
        } else if (tag == TAG_PLUGIN_SPECIFIC && offer->specificCount < CipherOffer::kMaxSpecific) {
            // The plugin's name, a zero byte, then its data.
            const char* zero =
                static_cast<const char*>(std::memchr(value.Data(), 0, value.Length()));
            if (zero != nullptr) {
                const size_t nameLength = static_cast<size_t>(zero - value.Data());
                CipherOffer::Specific& entry = offer->specific[offer->specificCount++];
                entry.plugin = AnsiString(value.Data(), nameLength);
                entry.data =
                    AnsiString(value.Data() + nameLength + 1, value.Length() - nameLength - 1);
            }
        }
    }
    return true;
}

AnsiString ChooseCipher(const CipherOffer& offer, const AnsiString& only) {
    const char* p = offer.plugins.CStr();
    while (*p != '\0') {
        while (*p == ' ' || *p == ',') {
            ++p;
        }
        const char* start = p;
        while (*p != '\0' && *p != ' ' && *p != ',') {
            ++p;
        }
        const AnsiString name(start, static_cast<size_t>(p - start));
        for (const char* cipher : kCiphers) {
            if (name == AnsiString(cipher) && (only.IsEmpty() || name == only)) {
                return name;
            }
        }
    }
    return AnsiString();
}

std::unique_ptr<IWireCipher> MakeWireCipher(const AnsiString& plugin, const std::string& sessionKey,
                                            const CipherOffer& offer) {
    if (sessionKey.empty()) {
        return nullptr;
    }
    if (plugin == AnsiString("Arc4")) {
        return std::unique_ptr<IWireCipher>(new Arc4Cipher(sessionKey));
    }
    const bool wide = plugin == AnsiString("ChaCha");
    if (!wide && plugin != AnsiString("ChaCha64")) {
        return nullptr;
    }
    const AnsiString* iv = SpecificData(offer, plugin.CStr());
    if (iv == nullptr || iv->Length() != (wide ? 16u : 8u)) {
        return nullptr;
    }
    return std::unique_ptr<IWireCipher>(new ChaChaCipher(sessionKey, *iv));
}
