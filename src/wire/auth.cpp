#include "wire/auth.h"

#include <cstring>

#include "crypto/des_crypt.h"
#include "platform/memory.h"
#include "platform/random.h"
#include "wire/name_list.h"
#include "wire/secret.h"

namespace {

const char* const kNames[] = {"Srp256", "Srp", "Legacy_Auth"};
constexpr size_t kPrivateKeyRandomBytes = 32;

}  // namespace

AnsiString LegacyPasswordHash(const AnsiString& password) {
    char hashed[crypto::kDesCryptLength + 1];
    AnsiString hash;
    if (crypto::DesCrypt(password.CStr(), std::strlen(password.CStr()), "9z", hashed)) {
        hash = AnsiString(hashed + 2);
    }
    platform::SecureZero(hashed, sizeof hashed);
    return hash;
}

const char* AuthPluginName(AuthPlugin plugin) {
    return kNames[static_cast<size_t>(plugin)];
}

bool FindAuthPlugin(const AnsiString& name, AuthPlugin* plugin) {
    const int found = FindName(name.Data(), name.Length(), kNames, AuthPluginList::kMax);
    if (found >= 0) {
        *plugin = static_cast<AuthPlugin>(found);
    }
    return found >= 0;
}

AuthPluginList::AuthPluginList() {
    items[0] = AuthPlugin::kSrp256;
    items[1] = AuthPlugin::kSrp;
    items[2] = AuthPlugin::kLegacy;
    count = kMax;
}

AuthPluginList AuthPluginList::Without(AuthPlugin plugin) const {
    AuthPluginList rest;
    rest.count = 0;
    for (size_t i = 0; i < count; ++i) {
        if (items[i] != plugin) {
            rest.items[rest.count++] = items[i];
        }
    }
    return rest;
}

AnsiString AuthPluginList::Text() const {
    return TextFrom(kNames);
}

bool ParseAuthPlugins(const AnsiString& text, AuthPluginList* list, AnsiString* unknown) {
    return list->ParseFrom(text, kNames, unknown);
}

ClientAuth::~ClientAuth() {
    Wipe(password_);
    Wipe(data_);
    Wipe(sessionKey_);
    srp_.Wipe();
}

void ClientAuth::SetData(const AnsiString& data) {
    Wipe(data_);
    data_ = data;
}

bool ClientAuth::Start(AuthPlugin plugin) {
    plugin_ = plugin;
    Wipe(sessionKey_);
    if (plugin == AuthPlugin::kLegacy) {
        SetData(LegacyPasswordHash(password_));
        return true;
    }
    if (!srp_.PublicKeyHex().IsEmpty()) {
        // Srp and Srp256 share the group: the server that switched from one to the
        // other has seen A and nothing else, so the same A serves. (So does the A of
        // a client given by UseSrpClient.)
        SetData(srp_.PublicKeyHex());
        return true;
    }
    // a has 256 random bits, the strength that the 1024-bit group gives; the cost
    // of the client's powers follows the length of their exponents.
    uint8_t privateKey[kSrpPrivateKeySize] = {};
    uint8_t* const random = privateKey + kSrpPrivateKeySize - kPrivateKeyRandomBytes;
    // A <= 1 is next to impossible; a few draws make certain of it.
    for (int attempt = 0; attempt < 4; ++attempt) {
        if (!platform::FillRandom(random, kPrivateKeyRandomBytes)) {
            break;
        }
        if (srp_.Start(privateKey)) {
            platform::SecureZero(privateKey, sizeof privateKey);
            SetData(srp_.PublicKeyHex());
            return true;
        }
    }
    platform::SecureZero(privateKey, sizeof privateKey);
    return false;
}

bool ClientAuth::Answer(const AnsiString& serverMessage) {
    if (plugin_ == AuthPlugin::kLegacy) {
        return false;
    }
    AnsiString salt;
    AnsiString serverKey;
    SrpProof proof;
    const SrpHash hash = plugin_ == AuthPlugin::kSrp256 ? SrpHash::kSha256 : SrpHash::kSha1;
    if (!ParseSrpServerMessage(reinterpret_cast<const uint8_t*>(serverMessage.Data()),
                               serverMessage.Length(), &salt, &serverKey) ||
        !srp_.Prove(hash, FoldSrpUserName(login_), password_, salt, serverKey, &proof)) {
        return false;
    }
    SetData(proof.proofHex);
    sessionKey_.assign(reinterpret_cast<const char*>(proof.sessionKey), sizeof proof.sessionKey);
    Wipe(proof.proofHex);
    platform::SecureZero(proof.sessionKey, sizeof proof.sessionKey);
    return true;
}
