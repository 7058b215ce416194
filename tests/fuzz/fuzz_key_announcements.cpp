// ParseKeyAnnouncements over two announcements into one offer (a login gathers them
// from several answers), then the cipher chosen from it and the ChaCha ciphers made
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
    sending->Apply(bytes, sizeof bytes);
    const uint8_t zero[sizeof bytes] = {};
    FUZZ_CHECK(std::memcmp(bytes, zero, sizeof bytes) != 0);
    receiving->Apply(bytes, sizeof bytes);
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
    const AnsiString chosen = ChooseCipher(offer);
    if (!chosen.IsEmpty()) {
        FUZZ_CHECK(chosen == "ChaCha64" || chosen == "ChaCha" || chosen == "Arc4");
        FUZZ_CHECK(offer.plugins.Bytes().find(chosen.Bytes()) != std::string::npos);
        FUZZ_CHECK(chosen != "Arc4" || MakeWireCipher(chosen, "k", offer) != nullptr);
    }
    for (const char* plugin : {"ChaCha64", "ChaCha", "Arc4"}) {
        CheckCipher(plugin, offer);
    }
    return 0;
}
