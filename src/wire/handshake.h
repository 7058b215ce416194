#pragma once
// The login that opens every main connection. The client offers protocols 13 to 17
// in op_connect, and protocol 10 too when Legacy_Auth is among the login plugins and
// encryption is not required; the server's choice decides the path:
//   10:   op_accept, and the attach's parameter block carries the user name and the
//         password's legacy hash (isc_dpb_password_enc), as servers before protocol
//         13 want them;
//   13+:  the login plugins (Srp256, Srp, Legacy_Auth) exchange their messages in
//         op_connect, op_cond_accept or op_accept_data and op_cont_auth (or, without
//         wire encryption, in the attach's parameter block and the attach's reply);
//         then, when the login made a session key and the policy allows, op_crypt
//         switches the connection to the first cipher that both sides have and that
//         can start (the client's order when wirecryptplugin= gives one, else the
//         server's).
// The password itself never travels. Under wirecrypt=Required nothing derived from
// it leaves under a plugin that cannot make a session key (Legacy_Auth is neither
// offered nor followed), and the answer to op_crypt is the first thing read through
// the cipher: bytes the server sent in clear before it fail the login, since that
// answer is the only proof of the server's identity the protocol has.
// The login wipes the password, the private value, the proof and the session key it
// made when it ends; the ciphers keep their own keys until the stream ends them.

#include <cstdint>
#include <string>

#include "common/ansi_string.h"
#include "wire/auth.h"
#include "wire/response.h"
#include "wire/wire_crypt.h"
#include "wire/wire_stream.h"

// How long a connect may take, unless the connection string says otherwise.
constexpr uint32_t kDefaultConnectTimeoutMs = 30000;

// How a connection logs in, beside its user name and password.
struct LoginOptions {
    LoginOptions() = default;
    explicit LoginOptions(WireCryptPolicy policy) : wireCrypt(policy) {}

    WireCryptPolicy wireCrypt = WireCryptPolicy::kEnabled;
    AuthPluginList plugins;
    // The ciphers allowed, in the order preferred; empty: any the server offers, in
    // its order.
    CipherList ciphers;
    // Offers protocol 10 alone, as a server before Firebird 3 would take it (the tests
    // take that path with a newer server so).
    bool onlyProtocol10 = false;
    // The limit on the TCP connect and the whole login, attach included.
    uint32_t connectTimeoutMs = kDefaultConnectTimeoutMs;
};

struct LoginSettings {
    AnsiString user;
    AnsiString password;
    LoginOptions options;
};

// Capacity of the user identification block of op_connect, and of each name buffer.
constexpr int32_t kUserIdentificationCapacity = 1024;
constexpr uint32_t kNameBufferSize = 64;
// At most this many authentication rounds are answered; a server that asks for more
// is out of step.
constexpr int kMaxAuthRounds = 8;

class CLogin {
public:
    // Under wirecrypt=Required, Legacy_Auth is left out of the plugins offered.
    CLogin(CWireStream& stream, const LoginSettings& settings);
    // Wipes the password it holds.
    ~CLogin();
    CLogin(const CLogin&) = delete;
    CLogin& operator=(const CLogin&) = delete;

    // Sends op_connect for databasePath and goes on as the server's answer asks, up to
    // the attach. False with the reason in the stream's errorText.
    bool Connect(const AnsiString& databasePath);

    // The database parameter block of op_attach for the protocol agreed: the fixed
    // items and the user name, then the password's legacy hash (protocol 10) or the
    // login's data that travels in the block. Returns its length (0 when it does not
    // fit).
    int32_t BuildAttachBlock(uint8_t* storage, int32_t capacity) const;

    // Reads the reply to op_attach as ReadResponse does, answering the server's
    // authentication rounds (op_cont_auth) on the way.
    bool ReadAttachReply(CResponse& response);

    // Before Connect: Srp with a client started beforehand (ClientAuth::UseSrpClient),
    // for the tests and the login's fuzz target only.
    void UseSrpClient(const SrpClient& client) { auth_.UseSrpClient(client); }

    // The protocol version agreed (10, 13 ... 17), the plugin that logged in (none
    // under protocol 10) and the cipher in use (empty: none).
    int32_t Protocol() const { return protocol_; }
    const char* Plugin() const { return protocol_ >= 13 ? AuthPluginName(auth_.Plugin()) : ""; }
    const AnsiString& Cipher() const { return cipher_; }

    // The user identification block of op_connect for the first plugin's message.
    // Returns its length.
    int32_t BuildUserIdentification(uint8_t* storage, int32_t capacity, const AnsiString& osUser,
                                    const AnsiString& hostName) const;

private:
    bool ReadAcceptance();
    bool Answer(const AnsiString& serverPlugin, const AnsiString& serverData);
    bool SendContinuation();
    bool ReadAuthEnd(CResponse& response);
    bool StartEncryption();
    void AddKeys(const AnsiString& keys);
    bool Fail(ErrorKind kind, const AnsiString& text);

    bool Required() const { return settings_.options.wireCrypt == WireCryptPolicy::kRequired; }
    // Protocols 13 and later are offered unless only protocol 10 is.
    bool ModernOffered() const { return !(legacyOffered_ && settings_.options.onlyProtocol10); }

    CWireStream& stream_;
    LoginSettings settings_;
    AuthPluginList plugins_;  // those offered
    ClientAuth auth_;
    bool legacyOffered_ = false;  // protocol 10
    int32_t protocol_ = 0;
    int32_t firstModern_ = 13;  // the lowest version of 13 and later offered
    // True once the server has taken the login; false while the login's data still
    // has to travel in the attach's parameter block and its reply.
    bool authenticated_ = false;
    bool dataInAttachBlock_ = false;
    CipherOffer offer_;
    AnsiString cipher_;
};
