#include "wire/wire_crypt.h"

#include <cstring>

#include "crypto/chacha20.h"
#include "crypto/rc4.h"
#include "crypto/sha.h"
#include "platform/memory.h"
#include "wire/name_list.h"
#include "wire/protocol.h"
#include "wire/secret.h"

namespace {

const char* const kCiphers[] = {"ChaCha64", "ChaCha", "Arc4"};
const char kSymmetric[] = "Symmetric";

class Arc4Cipher : public IWireCipher {
public:
    explicit Arc4Cipher(const std::string& key) {
        rc4_.SetKey(reinterpret_cast<const uint8_t*>(key.data()), key.size());
    }
    ~Arc4Cipher() override { WipeObject(rc4_); }
    bool Apply(uint8_t* bytes, size_t length) override {
        rc4_.Process(bytes, length);
        return true;
    }

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
        platform::SecureZero(key, sizeof key);
    }
    ~ChaChaCipher() override { WipeObject(chacha_); }
    bool Apply(uint8_t* bytes, size_t length) override { return chacha_.Process(bytes, length); }

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
    // In the order of the policy's values.
    const char* const words[] = {"Disabled", "Enabled", "Required"};
    const int found = FindName(text.Data(), text.Length(), words, 3);
    if (found >= 0) {
        *policy = static_cast<WireCryptPolicy>(found);
    }
    return found >= 0;
}

const char* WireCipherName(WireCipher cipher) {
    return kCiphers[static_cast<size_t>(cipher)];
}

AnsiString CipherList::Text() const {
    return TextFrom(kCiphers);
}

bool ParseCipherList(const AnsiString& text, CipherList* list, AnsiString* unknown) {
    return list->ParseFrom(text, kCiphers, unknown);
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

size_t CiphersToTry(const CipherOffer& offer, const CipherList& allowed,
                    AnsiString (&out)[CipherList::kMax]) {
    // The server's list (names as it writes them, separated by blanks or commas)
    // cut down to the ciphers this library has, in the server's order, each once.
    CipherList offered;
    for (const char* p = offer.plugins.CStr(); *p != '\0';) {
        while (*p == ' ' || *p == ',') {
            ++p;
        }
        const char* start = p;
        while (*p != '\0' && *p != ' ' && *p != ',') {
            ++p;
        }
        const AnsiString name(start, static_cast<size_t>(p - start));
        for (size_t i = 0; i < CipherList::kMax; ++i) {
            const auto cipher = static_cast<WireCipher>(i);
            if (name == AnsiString(kCiphers[i]) && !offered.Contains(cipher)) {
                offered.items[offered.count++] = cipher;
            }
        }
    }
    const CipherList& order = allowed.count == 0 ? offered : allowed;
    size_t count = 0;
    for (size_t i = 0; i < order.count; ++i) {
        if (offered.Contains(order.items[i])) {
            out[count++] = WireCipherName(order.items[i]);
        }
    }
    return count;
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
