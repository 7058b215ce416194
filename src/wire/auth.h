#pragma once
// The client side of the login plugins of protocol 13 and later: Srp256, Srp and
// Legacy_Auth. Fed the server's messages as bytes; never touches a socket.

#include <cstddef>
#include <cstdint>
#include <string>

#include "common/ansi_string.h"
#include "wire/name_list.h"
#include "wire/srp.h"

enum class AuthPlugin : uint8_t { kSrp256, kSrp, kLegacy };

// The plugins to offer, in order, each at most once; by default all three.
struct AuthPluginList : NameList<AuthPlugin, 3> {
    AuthPluginList();
    // The list in the same order without `plugin`.
    AuthPluginList Without(AuthPlugin plugin) const;
    // "Srp256, Srp, Legacy_Auth": as CNCT_plugin_list carries it, and for messages.
    AnsiString Text() const;
};

const char* AuthPluginName(AuthPlugin plugin);
// The legacy login's hash of a password: crypt(3) with the salt "9z", without the
// salt's two characters (Legacy_Auth's message, and isc_dpb_password_enc of
// protocol 10). Empty if it cannot be made.
AnsiString LegacyPasswordHash(const AnsiString& password);
// The plugin of that name (as the server writes it, or in any case); false if none.
bool FindAuthPlugin(const AnsiString& name, AuthPlugin* plugin);
// Reads a list such as "Srp256, Srp, Legacy_Auth" (names separated by commas or
// blanks, in any case; a name given twice counts once). False for an empty list or
// an unknown name, which is then in *unknown.
bool ParseAuthPlugins(const AnsiString& text, AuthPluginList* list, AnsiString* unknown);

// One login's plugin state: the plugin in use and what it sends next.
class ClientAuth {
public:
    ClientAuth(const AnsiString& login, const AnsiString& password)
        : login_(login), password_(password) {}
    // Wipes the password, the messages, the session key and the private value.
    ~ClientAuth();
    ClientAuth(const ClientAuth&) = delete;
    ClientAuth& operator=(const ClientAuth&) = delete;

    // Starts `plugin`: its first message is then in Data() (A for Srp, the password's
    // hash for Legacy_Auth). False when no random numbers could be had.
    bool Start(AuthPlugin plugin);
    // Srp with `client`, started beforehand, instead of one that Start starts from
    // random bytes: for the tests and the login's fuzz target, which need a known
    // session key (and the fuzz target a cheap power). The library never calls it.
    void UseSrpClient(const SrpClient& client) { srp_ = client; }
    // Answers the server's message (Srp: its salt and B): the answer is then in
    // Data(). False when the message cannot be read or the plugin expects none.
    bool Answer(const AnsiString& serverMessage);

    AuthPlugin Plugin() const { return plugin_; }
    const AnsiString& Data() const { return data_; }
    // K once an Srp answer was made; empty otherwise (Legacy_Auth makes no key).
    const std::string& SessionKey() const { return sessionKey_; }

private:
    void SetData(const AnsiString& data);

    AnsiString login_;
    AnsiString password_;
    AuthPlugin plugin_ = AuthPlugin::kSrp256;
    AnsiString data_;
    SrpClient srp_;
    std::string sessionKey_;
};
