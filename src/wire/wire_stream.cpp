#include "wire/wire_stream.h"

#include <cstring>

#include "messages/messages.h"
#include "messages/texts.h"
#include "platform/clock.h"
#include "wire/protocol.h"

namespace {

int32_t PaddingOf(int32_t n) {
    return (4 - (n & 3)) & 3;
}

AnsiString LengthRefused(uint32_t length, int32_t limit) {
    return FormatText(msg::kLengthRefused, static_cast<unsigned long>(length),
                      static_cast<long>(limit));
}

// The kind of a failed system call on the connection.
ErrorKind KindOf(const platform::SocketError& error) {
    using platform::SocketFault;
    switch (error.fault) {
        case SocketFault::kRefused:
            return ErrorKind::kRefused;
        case SocketFault::kTimedOut:
            return ErrorKind::kTimedOut;
        case SocketFault::kUnreachable:
            return ErrorKind::kUnreachable;
        case SocketFault::kReset:
            return ErrorKind::kReset;
        case SocketFault::kNameNotFound:
            return ErrorKind::kNameNotFound;
        case SocketFault::kNone:
        case SocketFault::kLookupFailed:
        case SocketFault::kOther:
            break;
    }
    return ErrorKind::kIo;
}

}  // namespace

CWireStream::CWireStream()
    : socketTransport_(socket), transport_(&socketTransport_), broken_(false) {}

CWireStream::CWireStream(IWireTransport* transport)
    : socketTransport_(socket), transport_(transport), broken_(false) {}

AnsiString SystemReasonText(const platform::SocketError& error) {
    using platform::SocketFault;
    switch (error.fault) {
        case SocketFault::kNone:
            return AnsiString();
        case SocketFault::kRefused:
            return AnsiString(msg::kSystemRefused);
        case SocketFault::kTimedOut:
            return AnsiString(msg::kSystemTimedOut);
        case SocketFault::kUnreachable:
            return AnsiString(msg::kSystemUnreachable);
        case SocketFault::kReset:
            return AnsiString(msg::kSystemReset);
        case SocketFault::kNameNotFound:
            return AnsiString(msg::kSystemNameNotFound);
        case SocketFault::kLookupFailed:
            return FormatText(msg::kSystemLookupFailed, static_cast<long>(error.code));
        case SocketFault::kOther:
            break;
    }
    return FormatText(msg::kSystemOther, static_cast<long>(error.code));
}

int CWireStream::ResolveHost(const AnsiString& host, uint32_t port,
                             platform::SocketAddress* addresses, int max,
                             platform::SocketError* error) {
    // "[2001:db8::7]" as in a URL: the brackets are not part of the address.
    AnsiString name = host;
    if (name.Length() >= 2 && name[0] == '[' && name[name.Length() - 1] == ']') {
        name = AnsiString(host.Data() + 1, host.Length() - 2);
    }
    if (name.IsEmpty()) {
        if (error != nullptr) {
            *error = platform::SocketError{platform::SocketFault::kNameNotFound, 0};
        }
        return 0;
    }
    return platform::ResolveAddresses(name.CStr(), static_cast<uint16_t>(port & 0xFFFFu), addresses,
                                      max, error);
}

bool CWireStream::Open(const AnsiString& host, uint32_t port, uint32_t timeoutMs) {
    platform::SocketAddress addresses[kMaxAddresses];
    platform::SocketError error;
    const int count = ResolveHost(host, port, addresses, kMaxAddresses, &error);
    return OpenAddresses(addresses, count, timeoutMs, error);
}

bool CWireStream::Open(const platform::SocketAddress* addresses, int count, uint32_t timeoutMs) {
    return OpenAddresses(addresses, count, timeoutMs, platform::SocketError{});
}

bool CWireStream::OpenAddresses(const platform::SocketAddress* addresses, int count,
                                uint32_t timeoutMs, const platform::SocketError& unresolved) {
    output_.clear();
    inputStart_ = 0;
    inputEnd_ = 0;
    broken_ = false;
    sending_.reset();
    receiving_.reset();
    if (!socket.ServiceStarted()) {
        Fail(ErrorKind::kSystem, msg::kSocketServiceFailed);
        return false;
    }
    if (count <= 0) {
        socket.CloseAbrupt();
        Fail(KindOf(unresolved), msg::kCannotResolve, unresolved);
        return false;
    }
    const uint32_t start = platform::TickCount();
    platform::SocketError error;
    for (int i = 0; i < count; ++i) {
        if (!socket.Create(addresses[i], &error)) {
            Fail(ErrorKind::kSystem, msg::kSocketFailed, error);
            return false;
        }
        uint32_t limit = platform::kInfinite;
        if (timeoutMs != platform::kInfinite) {
            // Unsigned difference: the counter's wrap does no harm.
            const uint32_t elapsed = platform::TickCount() - start;
            if (elapsed >= timeoutMs) {
                error = platform::SocketError{platform::SocketFault::kTimedOut, 0};
                break;
            }
            limit = (timeoutMs - elapsed) / static_cast<uint32_t>(count - i);
        }
        error = platform::SocketError{};
        if (socket.Connect(limit, &error)) {
            return true;
        }
    }
    Fail(KindOf(error), msg::kCannotConnect, error);
    return false;
}

bool CWireStream::Close() {
    // Only the socket is touched: a reader on another thread may still be using
    // the stream's other fields. Open resets them.
    socket.CloseAbrupt();
    return true;
}

void CWireStream::WriteInt(uint32_t value) {
    if (broken_) {
        return;
    }
    const char bytes[4] = {static_cast<char>(value >> 24), static_cast<char>(value >> 16),
                           static_cast<char>(value >> 8), static_cast<char>(value)};
    output_.append(bytes, sizeof bytes);
}

int32_t CWireStream::WriteOpaque(const void* data, int32_t n) {
    WriteInt(static_cast<uint32_t>(n));
    if (data != nullptr && n > 0 && !broken_) {
        output_.append(static_cast<const char*>(data), static_cast<size_t>(n));
        output_.append(static_cast<size_t>(PaddingOf(n)), '\0');
    }
    return n;
}

void CWireStream::StartEncryption(std::unique_ptr<IWireCipher> sending,
                                  std::unique_ptr<IWireCipher> receiving) {
    sending_ = std::move(sending);
    receiving_ = std::move(receiving);
}

void CWireStream::EndEncryption() {
    sending_.reset();
    receiving_.reset();
}

bool CWireStream::Flush() {
    if (broken_) {
        output_.clear();
        return false;
    }
    if (sending_ != nullptr && !output_.empty() &&
        !sending_->Apply(reinterpret_cast<uint8_t*>(&output_[0]), output_.size())) {
        output_.clear();
        Break(ErrorKind::kProtocol, msg::kCipherExhausted);
        return false;
    }
    size_t done = 0;
    while (done < output_.size()) {
        size_t left = output_.size() - done;
        int chunk = left > 0x40000000u ? 0x40000000 : static_cast<int>(left);
        int sent = transport_->Send(output_.data() + done, chunk);
        if (sent <= 0) {
            output_.clear();
            const platform::SocketError error = transport_->LastError();
            Break(KindOf(error), msg::kSendFailed, error);
            return false;
        }
        done += static_cast<size_t>(sent);
    }
    output_.clear();
    return true;
}

void CWireStream::Fail(ErrorKind kind, const AnsiString& text, platform::SocketError system) {
    errorKind = kind;
    errorText = text;
    systemError = system;
}

void CWireStream::Break(ErrorKind kind, const AnsiString& text, platform::SocketError system) {
    if (!broken_) {
        broken_ = true;
        Fail(kind, text, system);
    }
}

AnsiString CWireStream::ErrorTextWithReason() const {
    const AnsiString reason = SystemReasonText(systemError);
    AnsiString text = errorText.UpToFirstZero();
    if (reason.IsEmpty()) {
        return text;
    }
    if (!text.IsEmpty() && text[text.Length() - 1] == '.') {
        text = AnsiString(text.Data(), text.Length() - 1);
    }
    return FormatText(msg::kWithSystemReason, text.CStr(), reason.CStr());
}

bool CWireStream::ReceiveAll(void* target, int32_t n) {
    if (!output_.empty()) {
        Flush();
    }
    if (broken_) {
        return false;
    }
    char* at = static_cast<char*>(target);
    int32_t done = 0;
    while (done < n) {
        if (inputStart_ == inputEnd_) {
            inputStart_ = 0;
            inputEnd_ = 0;
            if (hasDeadline_ && !WaitForInput()) {
                return false;
            }
            const int received = transport_->Receive(input_, kInputCapacity);
            if (received <= 0) {
                if (received == 0) {
                    Break(ErrorKind::kClosed, msg::kClosedByServer);
                } else {
                    const platform::SocketError error = transport_->LastError();
                    Break(KindOf(error), msg::kReceiveFailed, error);
                }
                return false;
            }
            if (receiving_ != nullptr && !receiving_->Apply(reinterpret_cast<uint8_t*>(input_),
                                                            static_cast<size_t>(received))) {
                Break(ErrorKind::kProtocol, msg::kCipherExhausted);
                return false;
            }
            inputEnd_ = received;
        }
        const int32_t available = inputEnd_ - inputStart_;
        const int32_t taken = available < n - done ? available : n - done;
        std::memcpy(at + done, input_ + inputStart_, static_cast<size_t>(taken));
        inputStart_ += taken;
        done += taken;
    }
    return true;
}

void CWireStream::SetDeadline(uint32_t deadline, const AnsiString& text) {
    hasDeadline_ = true;
    deadline_ = deadline;
    deadlineText_ = text;
}

bool CWireStream::WaitForInput() {
    // Unsigned difference: the tick counter's wrap does no harm.
    const uint32_t left = deadline_ - platform::TickCount();
    const int ready = left > 0x7FFFFFFFu ? 0 : transport_->WaitReadable(left);
    if (ready == 0) {
        Break(ErrorKind::kTimeout, deadlineText_);
        return false;
    }
    if (ready < 0) {
        Break(ErrorKind::kIo, msg::kReceiveFailed);
        return false;
    }
    return true;
}

bool CWireStream::SkipPadding(int32_t n) {
    char scratch[4];
    int32_t padding = PaddingOf(n);
    return padding == 0 || ReceiveAll(scratch, padding);
}

uint32_t CWireStream::ReadInt() {
    unsigned char bytes[4];
    if (!ReceiveAll(bytes, sizeof bytes)) {
        return 0;
    }
    return (static_cast<uint32_t>(bytes[0]) << 24) | (static_cast<uint32_t>(bytes[1]) << 16) |
           (static_cast<uint32_t>(bytes[2]) << 8) | bytes[3];
}

int64_t CWireStream::ReadLong() {
    unsigned char bytes[8];
    if (!ReceiveAll(bytes, sizeof bytes)) {
        return 0;
    }
    uint64_t value = 0;
    for (unsigned char byte : bytes) {
        value = (value << 8) | byte;
    }
    return static_cast<int64_t>(value);
}

void CWireStream::ReadBytes(void* target, int32_t n) {
    if (n <= 0) {
        return;
    }
    if (ReceiveAll(target, n)) {
        SkipPadding(n);
    }
}

void CWireStream::ReadOpaque(AnsiString& target) {
    uint32_t length = ReadInt();
    if (length == 0) {
        return;
    }
    // Also refuses what would be a negative length as a signed word.
    if (length > static_cast<uint32_t>(kMaxOpaqueLength)) {
        Break(ErrorKind::kProtocol, LengthRefused(length, kMaxOpaqueLength));
        return;
    }
    target.SetLength(length);
    ReadBytes(target.Data(), static_cast<int32_t>(length));
    if (broken_) {
        target.Clear();
    }
}

void CWireStream::ReadOpaque(AnsiString& target, int32_t n) {
    if (n < 0) {
        Break(ErrorKind::kProtocol, FormatText(msg::kInvalidLength, static_cast<long>(n)));
        target.Clear();
        return;
    }
    if (n > kMaxStatusStringLength) {
        Break(ErrorKind::kProtocol,
              LengthRefused(static_cast<uint32_t>(n), kMaxStatusStringLength));
        target.Clear();
        return;
    }
    target.SetLength(static_cast<size_t>(n));
    if (n > 0) {
        ReadBytes(target.Data(), n);
    }
    if (broken_) {
        target.Clear();
    }
}

uint32_t CWireStream::ReadOperation() {
    uint32_t operation;
    do {
        operation = ReadInt();
    } while (operation == static_cast<uint32_t>(op_dummy));
    return operation;
}
