#include "wire/handshake.h"

#include "messages/texts.h"
#include "platform/names.h"
#include "wire/param_block.h"
#include "wire/protocol.h"

namespace {

void AppendItem(CParamBlock& block, uint8_t tag, const AnsiString& value) {
    uint32_t length = static_cast<uint32_t>(value.Length() & 0xFFu);
    block.AppendByte(tag);
    block.AppendByte(static_cast<uint8_t>(length));
    block.AppendBytes(value.Data(), 0, length);
}

}  // namespace

int32_t BuildUserIdentification(uint8_t* storage, int32_t capacity, const AnsiString& userName,
                                const AnsiString& hostName) {
    CParamBlock block(storage, capacity);
    AppendItem(block, CNCT_user, userName);
    AppendItem(block, CNCT_host, hostName);
    block.AppendByte(CNCT_user_verification);
    block.AppendByte(0);
    return block.Length();
}

bool Handshake(CWireStream& stream, const AnsiString& databasePath) {
    char host[kNameBufferSize];
    uint32_t hostSize = kNameBufferSize;
    if (!platform::GetComputerNameText(host, &hostSize)) {
        stream.Fail(ErrorKind::kSystem, msg::kNoComputerName);
        return false;
    }
    char user[kNameBufferSize];
    uint32_t userSize = kNameBufferSize;
    if (!platform::GetUserNameText(user, &userSize)) {
        stream.Fail(ErrorKind::kSystem, msg::kNoUserName);
        return false;
    }

    uint8_t identification[kUserIdentificationCapacity];
    int32_t identificationLength =
        BuildUserIdentification(identification, kUserIdentificationCapacity,
                                AnsiString(user, userSize), AnsiString(host, hostSize));

    stream.WriteInt(op_connect);
    stream.WriteInt(op_attach);
    stream.WriteInt(CONNECT_VERSION2);
    stream.WriteInt(arch_generic);
    stream.WriteOpaque(databasePath.Data(), static_cast<int32_t>(databasePath.Length()));
    stream.WriteInt(1);  // one protocol offered
    stream.WriteOpaque(identification, identificationLength);
    stream.WriteInt(PROTOCOL_VERSION10);
    stream.WriteInt(arch_generic);
    stream.WriteInt(ptype_rpc);
    stream.WriteInt(ptype_batch_send);
    stream.WriteInt(2);  // weight

    stream.pendingOperation = -1;
    uint32_t operation = stream.ReadOperation();
    stream.pendingOperation = -1;
    if (operation == static_cast<uint32_t>(op_accept)) {
        stream.ReadInt();  // protocol version
        stream.ReadInt();  // architecture
        stream.ReadInt();  // type
        if (!stream.IsBroken()) {
            return true;
        }
    }
    // Whatever went wrong (a refusal, a closed connection), the user reads the same.
    stream.Fail(stream.IsBroken() ? stream.errorKind : ErrorKind::kProtocol,
                msg::kUnableToGetResponse);
    return false;
}
