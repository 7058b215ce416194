#pragma once
// Wire encryption: the client's policy, the server's key announcements, and the
// ciphers (Arc4, ChaCha, ChaCha64) bound to a connection's stream.
//
// Both directions start from the same key and IV, so they run the same keystream;
// each keeps its own position, which runs across packet boundaries.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "common/ansi_string.h"
#include "wire/wire_stream.h"

enum class WireCryptPolicy : uint8_t { kDisabled = 0, kEnabled = 1, kRequired = 2 };

// "Required", "Enabled" or "Disabled", in any case; false for anything else.
bool ParseWireCrypt(const AnsiString& text, WireCryptPolicy* policy);

// What the server offers for the Symmetric key of a login.
struct CipherOffer {
    static constexpr size_t kMaxSpecific = 4;
    // The plugins in the server's order of preference, separated by blanks.
    AnsiString plugins;
    // Data of single plugins (their IVs): name and bytes.
    struct Specific {
        AnsiString plugin;
        AnsiString data;
    } specific[kMaxSpecific];
    size_t specificCount = 0;
};

// Reads the key announcements of a login's answer (tagged items: a key type, the
// plugins for it, the data of one plugin) and adds what concerns the Symmetric key.
// False when an item runs past the data.
bool ParseKeyAnnouncements(const AnsiString& data, CipherOffer* offer);

// The first plugin of the offer that this library has (and that is `only`, unless
// that is empty); empty when none.
AnsiString ChooseCipher(const CipherOffer& offer, const AnsiString& only = AnsiString());

// A cipher of `plugin` for one direction, keyed with the login's session key; for the
// ChaCha plugins with the IV the offer carries. nullptr when the plugin is unknown or
// its IV is missing or of the wrong size.
std::unique_ptr<IWireCipher> MakeWireCipher(const AnsiString& plugin, const std::string& sessionKey,
                                            const CipherOffer& offer);
