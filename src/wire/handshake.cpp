#include "wire/handshake.h"

#include "messages/messages.h"
#include "messages/texts.h"
#include "platform/memory.h"
#include "platform/names.h"
#include "wire/database_requests.h"
#include "wire/param_block.h"
#include "wire/protocol.h"
#include "wire/secret.h"

namespace {

constexpr int32_t kFirstModernVersion = 13;
constexpr int32_t kLastModernVersion = 17;
// A login longer than this can exist only on servers of protocol 16 and later; a
// Firebird 3 server (protocol 15 at most) fails on such a name in its Srp plugin
// and ends. Such logins are offered protocol 10 and 16 up only.
constexpr size_t kLongestLoginBefore16 = 31;
constexpr int32_t kFirstVersionForLongLogins = 16;
// Each part of a plugin's message in the user identification block: a sequence
// byte and at most 254 bytes of the message.
constexpr size_t kPartLength = 254;
const char kSymmetricKey[] = "Symmetric";

void AppendItem(CParamBlock& block, uint8_t tag, const char* data, size_t length) {
    length &= 0xFFu;
    block.AppendByte(tag);
    block.AppendByte(static_cast<uint8_t>(length));
    block.AppendBytes(data, 0, static_cast<uint32_t>(length));
}

void AppendItem(CParamBlock& block, uint8_t tag, const AnsiString& value) {
    AppendItem(block, tag, value.Data(), value.Length());
}

// The database parameter block of protocol 13 and later. Items have a length byte
// (version 1) unless one is longer than 255 bytes; then every item has four length
// bytes, least significant first (version 2).
class DatabaseBlock {
public:
    DatabaseBlock(uint8_t* storage, int32_t capacity, bool wide)
        : block_(storage, capacity), wide_(wide) {
        block_.AppendByte(wide ? 2 : isc_dpb_version1);
    }
    void Add(uint8_t tag, const char* data, size_t length) {
        block_.AppendByte(tag);
        if (wide_) {
            for (int i = 0; i < 4; ++i) {
                block_.AppendByte(static_cast<uint8_t>(length >> (8 * i)));
            }
        } else {
            block_.AppendByte(static_cast<uint8_t>(length));
        }
        if (!block_.AppendBytes(data, 0, static_cast<uint32_t>(length))) {
            overflow_ = true;
        }
    }
    void Add(uint8_t tag, const AnsiString& value) { Add(tag, value.Data(), value.Length()); }
    void AddInteger(uint8_t tag, uint32_t value) {
        const char bytes[4] = {static_cast<char>(value), static_cast<char>(value >> 8),
                               static_cast<char>(value >> 16), static_cast<char>(value >> 24)};
        Add(tag, bytes, sizeof bytes);
    }
    int32_t Length() const { return overflow_ ? 0 : block_.Length(); }

private:
    CParamBlock block_;
    bool wide_;
    bool overflow_ = false;
};

AnsiString OfferedVersions(bool legacy, bool modern, int32_t firstModern) {
    AnsiString text(legacy ? "10" : "");
    if (modern) {
        text.Append(legacy ? ", " : "");
        text.Append(firstModern == kFirstModernVersion ? "13 to 17" : "16 and 17");
    }
    return text;
}

}  // namespace

CLogin::CLogin(CWireStream& stream, const LoginSettings& settings)
    : stream_(stream),
      settings_(settings),
      plugins_(settings.options.wireCrypt == WireCryptPolicy::kRequired
                   ? settings.options.plugins.Without(AuthPlugin::kLegacy)
                   : settings.options.plugins),
      auth_(settings.user, settings.password) {}

CLogin::~CLogin() {
    Wipe(settings_.password);
}

bool CLogin::Fail(ErrorKind kind, const AnsiString& text) {
    stream_.Fail(kind, text);
    return false;
}

int32_t CLogin::BuildUserIdentification(uint8_t* storage, int32_t capacity,
                                        const AnsiString& osUser,
                                        const AnsiString& hostName) const {
    CParamBlock block(storage, capacity);
    const char* plugin = AuthPluginName(auth_.Plugin());
    AppendItem(block, CNCT_login, settings_.user);
    AppendItem(block, CNCT_plugin_name, plugin, std::char_traits<char>::length(plugin));
    AppendItem(block, CNCT_plugin_list, plugins_.Text());
    const AnsiString& data = auth_.Data();
    for (size_t at = 0, part = 0; at < data.Length(); at += kPartLength, ++part) {
        const size_t length = data.Length() - at < kPartLength ? data.Length() - at : kPartLength;
        char bytes[kPartLength + 1];
        bytes[0] = static_cast<char>(part);
        for (size_t i = 0; i < length; ++i) {
            bytes[i + 1] = data[at + i];
        }
        AppendItem(block, CNCT_specific_data, bytes, length + 1);
    }
    const uint32_t crypt = static_cast<uint32_t>(settings_.options.wireCrypt);
    const char cryptBytes[4] = {static_cast<char>(crypt), 0, 0, 0};
    AppendItem(block, CNCT_client_crypt, cryptBytes, sizeof cryptBytes);
    AppendItem(block, CNCT_user, osUser);
    AppendItem(block, CNCT_host, hostName);
    block.AppendByte(CNCT_user_verification);
    block.AppendByte(0);
    return block.Length();
}

bool CLogin::Connect(const AnsiString& databasePath) {
    if (plugins_.count == 0) {
        // Required, and Legacy_Auth alone was to be offered: nothing can be sent.
        return Fail(ErrorKind::kState, msg::kOnlyLegacyLogin);
    }
    char host[kNameBufferSize];
    uint32_t hostSize = kNameBufferSize;
    if (!platform::GetComputerNameText(host, &hostSize)) {
        return Fail(ErrorKind::kSystem, msg::kNoComputerName);
    }
    char user[kNameBufferSize];
    uint32_t userSize = kNameBufferSize;
    if (!platform::GetUserNameText(user, &userSize)) {
        return Fail(ErrorKind::kSystem, msg::kNoUserName);
    }
    if (!auth_.Start(plugins_.items[0])) {
        return Fail(ErrorKind::kSystem, msg::kNoRandomSource);
    }
    uint8_t identification[kUserIdentificationCapacity];
    const int32_t identificationLength =
        BuildUserIdentification(identification, kUserIdentificationCapacity,
                                AnsiString(user, userSize), AnsiString(host, hostSize));

    // Protocol 10 carries the password's legacy hash: only where Legacy_Auth is
    // allowed, which it is not under Required.
    legacyOffered_ = plugins_.Contains(AuthPlugin::kLegacy);
    const bool modernOffered = ModernOffered();
    firstModern_ = FoldSrpUserName(settings_.user).Length() > kLongestLoginBefore16
                       ? kFirstVersionForLongLogins
                       : kFirstModernVersion;
    const int32_t modernCount = modernOffered ? kLastModernVersion - firstModern_ + 1 : 0;
    stream_.WriteInt(op_connect);
    stream_.WriteInt(op_attach);
    stream_.WriteInt(CONNECT_VERSION3);
    stream_.WriteInt(arch_generic);
    stream_.WriteOpaque(databasePath.Data(), static_cast<int32_t>(databasePath.Length()));
    stream_.WriteInt(static_cast<uint32_t>(modernCount + (legacyOffered_ ? 1 : 0)));
    stream_.WriteOpaque(identification, identificationLength);
    // The server takes the version with the highest weight that it knows.
    if (legacyOffered_) {
        for (uint32_t item : {PROTOCOL_VERSION10, arch_generic, ptype_rpc, ptype_batch_send, 2}) {
            stream_.WriteInt(item);
        }
    }
    for (int32_t version = firstModern_; version < firstModern_ + modernCount; ++version) {
        for (int32_t item : {FB_PROTOCOL_FLAG | version, arch_generic, 0, ptype_batch_send,
                             2 * (version - kFirstModernVersion + 2)}) {
            stream_.WriteInt(static_cast<uint32_t>(item));
        }
    }
    if (!ReadAcceptance()) {
        return false;
    }
    if (protocol_ == PROTOCOL_VERSION10 || dataInAttachBlock_) {
        // No wire encryption on these paths.
        return !Required() || Fail(ErrorKind::kServer, msg::kCannotEncrypt);
    }
    return StartEncryption();
}

bool CLogin::ReadAcceptance() {
    const uint32_t operation = stream_.ReadOperation();
    if (operation == static_cast<uint32_t>(op_reject)) {
        const bool modern = ModernOffered();
        return Fail(ErrorKind::kServer,
                    FormatText(msg::kProtocolsRefused,
                               OfferedVersions(legacyOffered_, modern, firstModern_).CStr()));
    }
    if (operation == static_cast<uint32_t>(op_response)) {
        CResponse response;
        if (ReadResponse(stream_, operation, response) || stream_.IsBroken()) {
            // A success here is as much out of step as a broken stream.
            return !stream_.IsBroken() && Fail(ErrorKind::kProtocol, msg::kUnableToGetResponse);
        }
        if (response.errorCode == isc_login_error) {
            return Fail(ErrorKind::kServer,
                        FormatText(msg::kNoCommonAuthPlugin, plugins_.Text().CStr()));
        }
        return false;  // the server's own words
    }
    const bool accept = operation == static_cast<uint32_t>(op_accept);
    const bool withData = operation == static_cast<uint32_t>(op_accept_data) ||
                          operation == static_cast<uint32_t>(op_cond_accept);
    // A reply cut short reads as no reply; one beyond the limits, or one that came
    // too late, keeps its own reason.
    if (stream_.IsBroken() &&
        (stream_.errorKind == ErrorKind::kProtocol || stream_.errorKind == ErrorKind::kTimeout)) {
        return false;
    }
    if (!accept && !withData) {
        return Fail(stream_.IsBroken() ? stream_.errorKind : ErrorKind::kProtocol,
                    msg::kUnableToGetResponse);
    }
    const int32_t version = static_cast<int32_t>(stream_.ReadInt() & 0xFFFFu);
    stream_.ReadInt();  // architecture
    stream_.ReadInt();  // type
    AnsiString data;
    AnsiString plugin;
    AnsiString keys;
    uint32_t authenticated = 0;
    if (withData) {
        stream_.ReadOpaque(data);
        stream_.ReadOpaque(plugin);
        authenticated = stream_.ReadInt();
        stream_.ReadOpaque(keys);
    }
    const bool legacy = version == PROTOCOL_VERSION10 && legacyOffered_;
    const bool modern = ModernOffered() && version >= (FB_PROTOCOL_FLAG | firstModern_) &&
                        version <= (FB_PROTOCOL_FLAG | kLastModernVersion);
    // op_accept goes with protocol 10, the others with 13 and later.
    if (stream_.IsBroken() &&
        (stream_.errorKind == ErrorKind::kProtocol || stream_.errorKind == ErrorKind::kTimeout)) {
        return false;
    }
    if (stream_.IsBroken() || (accept ? !legacy : !modern)) {
        return Fail(stream_.IsBroken() ? stream_.errorKind : ErrorKind::kProtocol,
                    msg::kUnableToGetResponse);
    }
    protocol_ = accept ? PROTOCOL_VERSION10 : version & ~FB_PROTOCOL_FLAG;
    if (accept) {
        return true;
    }
    AddKeys(keys);
    if (authenticated != 0) {
        authenticated_ = true;
        return true;
    }
    if (!Answer(plugin, data)) {
        return false;
    }
    if (operation == static_cast<uint32_t>(op_accept_data)) {
        // The server encrypts nothing: the answer goes in the attach's block.
        dataInAttachBlock_ = true;
        return true;
    }
    CResponse response;
    return SendContinuation() && ReadAuthEnd(response);
}

bool CLogin::Answer(const AnsiString& serverPlugin, const AnsiString& serverData) {
    AuthPlugin plugin = auth_.Plugin();
    const bool named = !serverPlugin.IsEmpty() && FindAuthPlugin(serverPlugin, &plugin);
    if (named && plugin == AuthPlugin::kLegacy && Required()) {
        // Its hash would leave, and it makes no key to encrypt with.
        return Fail(ErrorKind::kServer, msg::kCannotEncrypt);
    }
    if (!serverPlugin.IsEmpty() && (!named || !plugins_.Contains(plugin))) {
        return Fail(ErrorKind::kProtocol,
                    FormatText(msg::kUnknownServerPlugin, serverPlugin.UpToFirstZero().CStr()));
    }
    if (plugin != auth_.Plugin()) {
        // The server goes on with another plugin of the list and waits for its first
        // message. What data it sends along belongs to the plugin before.
        return auth_.Start(plugin) || Fail(ErrorKind::kSystem, msg::kNoRandomSource);
    }
    return auth_.Answer(serverData) || Fail(ErrorKind::kProtocol, msg::kUnusableLoginMessage);
}

bool CLogin::SendContinuation() {
    const char* plugin = AuthPluginName(auth_.Plugin());
    stream_.WriteInt(op_cont_auth);
    stream_.WriteOpaque(auth_.Data().Data(), static_cast<int32_t>(auth_.Data().Length()));
    stream_.WriteOpaque(plugin, static_cast<int32_t>(std::char_traits<char>::length(plugin)));
    stream_.WriteOpaque(nullptr, 0);  // plugin list
    stream_.WriteOpaque(nullptr, 0);  // keys
    return stream_.Flush() || Fail(stream_.errorKind, stream_.errorText);
}

// After op_cont_auth: more rounds (op_cont_auth from the server) until op_response,
// whose data holds the key announcements.
bool CLogin::ReadAuthEnd(CResponse& response) {
    for (int round = 0; round < kMaxAuthRounds; ++round) {
        const uint32_t operation = stream_.ReadOperation();
        if (operation == static_cast<uint32_t>(op_cont_auth)) {
            AnsiString data;
            AnsiString plugin;
            AnsiString list;
            AnsiString keys;
            stream_.ReadOpaque(data);
            stream_.ReadOpaque(plugin);
            stream_.ReadOpaque(list);
            stream_.ReadOpaque(keys);
            if (stream_.IsBroken()) {
                return false;
            }
            AddKeys(keys);
            if (!Answer(plugin, data) || !SendContinuation()) {
                // The server waits for an answer that does not come: nothing more of
                // the stream can be read in step.
                stream_.Break(ErrorKind::kProtocol, msg::kUnableToGetResponse);
                return false;
            }
            continue;
        }
        if (!ReadResponse(stream_, operation, response)) {
            return false;
        }
        AddKeys(response.data);
        authenticated_ = true;
        return true;
    }
    stream_.Break(ErrorKind::kProtocol, msg::kUnableToGetResponse);
    return false;
}

void CLogin::AddKeys(const AnsiString& keys) {
    // A malformed announcement offers nothing; the policy decides what follows.
    ParseKeyAnnouncements(keys, &offer_);
}

bool CLogin::StartEncryption() {
    if (settings_.options.wireCrypt == WireCryptPolicy::kDisabled) {
        return true;
    }
    if (auth_.SessionKey().empty()) {
        return !Required() || Fail(ErrorKind::kServer, msg::kCannotEncrypt);
    }
    // The first cipher that can start; one that cannot (ChaCha without its IV) gives
    // way to the next.
    AnsiString candidates[CipherList::kMax];
    const size_t count = CiphersToTry(offer_, settings_.options.ciphers, candidates);
    AnsiString cipher;
    std::unique_ptr<IWireCipher> sending;
    std::unique_ptr<IWireCipher> receiving;
    for (size_t i = 0; i < count && sending == nullptr; ++i) {
        sending = MakeWireCipher(candidates[i], auth_.SessionKey(), offer_);
        receiving = MakeWireCipher(candidates[i], auth_.SessionKey(), offer_);
        if (sending == nullptr || receiving == nullptr) {
            sending.reset();
            receiving.reset();
        } else {
            cipher = candidates[i];
        }
    }
    if (sending == nullptr) {
        if (!Required()) {
            return true;
        }
        const AnsiString offered = offer_.plugins.IsEmpty() ? AnsiString("none") : offer_.plugins;
        const bool restricted = settings_.options.ciphers.count != 0;
        return Fail(ErrorKind::kServer,
                    FormatText(restricted ? msg::kNoAllowedCipher : msg::kNoCommonCipher,
                               offered.UpToFirstZero().CStr()));
    }
    // The answer to op_crypt must be read through the cipher, whole: anything the
    // server sent before it asked for nothing and would be taken for decrypted bytes.
    if (stream_.BufferedInput() != 0) {
        stream_.Break(ErrorKind::kProtocol, msg::kClearAfterCrypt);
        return false;
    }
    // op_crypt itself goes in clear; everything after it, both ways, is encrypted,
    // the server's answer to it included.
    stream_.WriteInt(op_crypt);
    stream_.WriteOpaque(cipher.Data(), static_cast<int32_t>(cipher.Length()));
    stream_.WriteOpaque(kSymmetricKey, static_cast<int32_t>(sizeof kSymmetricKey - 1));
    if (!stream_.Flush()) {
        return false;
    }
    stream_.StartEncryption(std::move(sending), std::move(receiving));
    CResponse response;
    if (!ReadResponse(stream_, response)) {
        return false;
    }
    cipher_ = cipher;
    return true;
}

int32_t CLogin::BuildAttachBlock(uint8_t* storage, int32_t capacity) const {
    if (protocol_ == PROTOCOL_VERSION10) {
        uint8_t block[kDatabaseBlockCapacity];
        AnsiString hash = LegacyPasswordHash(settings_.password);
        const int32_t length = BuildDatabaseParameterBlock(block, settings_.user, hash);
        Wipe(hash);
        const int32_t copied = length > capacity ? 0 : length;
        for (int32_t i = 0; i < copied; ++i) {
            storage[i] = block[i];
        }
        platform::SecureZero(block, sizeof block);
        return copied;
    }
    const AnsiString pluginName(AuthPluginName(auth_.Plugin()));
    const bool withData = dataInAttachBlock_ && !auth_.Data().IsEmpty();
    DatabaseBlock block(storage, capacity, withData && auth_.Data().Length() > 255);
    block.AddInteger(isc_dpb_dummy_packet_interval, 120);
    block.AddInteger(isc_dpb_sql_dialect, 3);
    block.Add(isc_dpb_lc_ctype, "NONE", 4);
    block.AddInteger(isc_dpb_connect_timeout, 15);
    block.Add(isc_dpb_user_name, settings_.user);
    if (withData) {
        block.Add(isc_dpb_auth_plugin_name, pluginName);
        block.Add(isc_dpb_auth_plugin_list, pluginName);
        block.Add(isc_dpb_specific_auth_data, auth_.Data());
    }
    return block.Length();
}

bool CLogin::ReadAttachReply(CResponse& response) {
    if (!dataInAttachBlock_) {
        return ReadResponse(stream_, response);
    }
    // Without encryption the rest of the login rides on the attach: the server may
    // answer with op_cont_auth before its response.
    return ReadAuthEnd(response);
}
