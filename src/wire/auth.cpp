#include "wire/auth.h"

#include <cstring>

#include "crypto/des_crypt.h"
#include "platform/random.h"

namespace {

const char* const kNames[] = {"Srp256", "Srp", "Legacy_Auth"};
constexpr size_t kPrivateKeyRandomBytes = 32;

// The `length` bytes at a (any bytes, zero bytes too) against the C string b.
bool SameIgnoringCase(const char* a, const char* b, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        if (b[i] == '\0') {
            return false;  // b ends first: nothing past its end is read
        }
        const char x = (a[i] >= 'A' && a[i] <= 'Z') ? static_cast<char>(a[i] + 32) : a[i];
        const char y = (b[i] >= 'A' && b[i] <= 'Z') ? static_cast<char>(b[i] + 32) : b[i];
        if (x != y) {
            return false;
        }
    }
    return b[length] == '\0';
}

bool FindName(const char* text, size_t length, AuthPlugin* plugin) {
    for (size_t i = 0; i < sizeof kNames / sizeof kNames[0]; ++i) {
        if (SameIgnoringCase(text, kNames[i], length)) {
            *plugin = static_cast<AuthPlugin>(i);
            return true;
        }
    }
    return false;
}

// The legacy login's hash: crypt(3) of the password with the salt "9z", without the
// salt's two characters.
AnsiString LegacyHash(const AnsiString& password) {
    char hashed[crypto::kDesCryptLength + 1];
    if (!crypto::DesCrypt(password.CStr(), std::strlen(password.CStr()), "9z", hashed)) {
        return AnsiString();
    }
    return AnsiString(hashed + 2);
}

}  // namespace

const char* AuthPluginName(AuthPlugin plugin) {
    return kNames[static_cast<size_t>(plugin)];
}

bool FindAuthPlugin(const AnsiString& name, AuthPlugin* plugin) {
    return FindName(name.Data(), name.Length(), plugin);
}

bool AuthPluginList::Contains(AuthPlugin plugin) const {
    for (size_t i = 0; i < count; ++i) {
        if (items[i] == plugin) {
            return true;
        }
    }
    return false;
}

AnsiString AuthPluginList::Text() const {
    AnsiString text;
    for (size_t i = 0; i < count; ++i) {
        text.Append(i > 0 ? ", " : "");
        text.Append(AuthPluginName(items[i]));
    }
    return text;
}

bool ParseAuthPlugins(const AnsiString& text, AuthPluginList* list, AnsiString* unknown) {
    AuthPluginList parsed;
    parsed.count = 0;
    const char* p = text.CStr();
    while (*p != '\0') {
        while (*p == ',' || *p == ' ' || *p == '\t') {
            ++p;
        }
        const char* start = p;
        while (*p != '\0' && *p != ',' && *p != ' ' && *p != '\t') {
            ++p;
        }
        if (p == start) {
            break;
        }
        AuthPlugin plugin;
        if (!FindName(start, static_cast<size_t>(p - start), &plugin)) {
            *unknown = AnsiString(start, static_cast<size_t>(p - start));
            return false;
        }
        if (!parsed.Contains(plugin)) {
            parsed.items[parsed.count++] = plugin;
        }
    }
    if (parsed.count == 0) {
        *unknown = text;
        return false;
    }
    *list = parsed;
    return true;
}

bool ClientAuth::Start(AuthPlugin plugin) {
    plugin_ = plugin;
    sessionKey_.clear();
    if (plugin == AuthPlugin::kLegacy) {
        data_ = LegacyHash(password_);
        return true;
    }
    if (!srp_.PublicKeyHex().IsEmpty()) {
        // Srp and Srp256 share the group: the server that switched from one to the
        // other has seen A and nothing else, so the same A serves.
        data_ = srp_.PublicKeyHex();
        return true;
    }
    // a has 256 random bits, the strength that the 1024-bit group gives; the cost
    // of the client's powers follows the length of their exponents.
    uint8_t privateKey[kSrpPrivateKeySize] = {};
    uint8_t* const random = privateKey + kSrpPrivateKeySize - kPrivateKeyRandomBytes;
    // A <= 1 is next to impossible; a few draws make certain of it.
    for (int attempt = 0; attempt < 4; ++attempt) {
        if (!platform::FillRandom(random, kPrivateKeyRandomBytes)) {
            return false;
        }
        if (srp_.Start(privateKey)) {
            data_ = srp_.PublicKeyHex();
            return true;
        }
    }
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
    data_ = proof.proofHex;
    sessionKey_.assign(reinterpret_cast<const char*>(proof.sessionKey), sizeof proof.sessionKey);
    return true;
}
