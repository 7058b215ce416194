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
#include "wire/name_list.h"
#include "wire/wire_stream.h"

enum class WireCryptPolicy : uint8_t { kDisabled = 0, kEnabled = 1, kRequired = 2 };

// "Required", "Enabled" or "Disabled", in any case; false for anything else.
bool ParseWireCrypt(const AnsiString& text, WireCryptPolicy* policy);

enum class WireCipher : uint8_t { kChaCha64, kChaCha, kArc4 };

// The ciphers a connection may use, in the order it prefers them; empty (the default):
// any that this library has, in the server's order of preference.
struct CipherList : NameList<WireCipher, 3> {
    // "ChaCha64, ChaCha, Arc4"; empty when any will do.
    AnsiString Text() const;
};

const char* WireCipherName(WireCipher cipher);
// Reads a list such as "ChaCha, Arc4" (names separated by commas or blanks, in any
// case, each once). False for an empty list or an unknown name, which is then in
// *unknown.
bool ParseCipherList(const AnsiString& text, CipherList* list, AnsiString* unknown);

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

// The ciphers to try, best first: with `allowed` empty, those of the server's list
// that this library has, in the server's order; otherwise those of `allowed` that the
// server offers, in allowed's order. Writes their names to out; returns their count.
size_t CiphersToTry(const CipherOffer& offer, const CipherList& allowed,
                    AnsiString (&out)[CipherList::kMax]);

// A cipher of `plugin` for one direction, keyed with the login's session key; for the
// ChaCha plugins with the IV the offer carries. nullptr when the plugin is unknown or
// its IV is missing or of the wrong size. A cipher wipes its keys when destroyed;
// ChaCha refuses to go on (Apply is false) before its block counter would wrap.
std::unique_ptr<IWireCipher> MakeWireCipher(const AnsiString& plugin, const std::string& sessionKey,
                                            const CipherOffer& offer);
