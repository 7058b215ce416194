// ParseKeyAnnouncements over two announcements into one offer (a login gathers them
// from several answers), then the ciphers to try from it and the ChaCha ciphers made
// with the IVs it carries.
//
// Input: a byte that splits the rest into the two announcements.

#include <algorithm>
#include <cstring>

#include "fuzz/fuzz_support.h"
#include "wire/wire_crypt.h"

namespace {

// A cipher for each direction: what one encrypts, the other decrypts.
void CheckCipher(const AnsiString& plugin, const CipherOffer& offer) {
    const std::string key(20, '\x5A');
    std::unique_ptr<IWireCipher> sending = MakeWireCipher(plugin, key, offer);
    std::unique_ptr<IWireCipher> receiving = MakeWireCipher(plugin, key, offer);
    FUZZ_CHECK((sending == nullptr) == (receiving == nullptr));
    if (sending == nullptr) {
        return;
    }
    uint8_t bytes[64] = {};
    // An IV may start ChaCha's counter at its last value: one block, then no more.
    FUZZ_CHECK(sending->Apply(bytes, sizeof bytes));
    const uint8_t zero[sizeof bytes] = {};
    FUZZ_CHECK(std::memcmp(bytes, zero, sizeof bytes) != 0);
    FUZZ_CHECK(receiving->Apply(bytes, sizeof bytes));
    FUZZ_CHECK(std::memcmp(bytes, zero, sizeof bytes) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const char* text = reinterpret_cast<const char*>(data + 1);
    const size_t split = std::min<size_t>(data[0], size - 1);
    CipherOffer offer;
    ParseKeyAnnouncements(AnsiString(text, split), &offer);
    ParseKeyAnnouncements(AnsiString(text + split, size - 1 - split), &offer);
    FUZZ_CHECK(offer.specificCount <= CipherOffer::kMaxSpecific);
    FUZZ_CHECK(offer.plugins.Length() <= 255);
    for (size_t i = 0; i < offer.specificCount; ++i) {
        FUZZ_CHECK(offer.specific[i].plugin.Length() + 1 + offer.specific[i].data.Length() <= 255);
    }
    AnsiString names[CipherList::kMax];
    const size_t count = CiphersToTry(offer, CipherList(), names);
    FUZZ_CHECK(count <= CipherList::kMax);
    for (size_t i = 0; i < count; ++i) {
        const AnsiString& name = names[i];
        FUZZ_CHECK(name == "ChaCha64" || name == "ChaCha" || name == "Arc4");
        FUZZ_CHECK(offer.plugins.Bytes().find(name.Bytes()) != std::string::npos);
        FUZZ_CHECK(name != "Arc4" || MakeWireCipher(name, "k", offer) != nullptr);
        for (size_t j = 0; j < i; ++j) {
            FUZZ_CHECK(names[j] != name);
        }
    }
    for (const char* plugin : {"ChaCha64", "ChaCha", "Arc4"}) {
        CheckCipher(plugin, offer);
    }
    return 0;
}
