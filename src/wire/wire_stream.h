#pragma once
// CWireStream: the protocol stream of one TCP connection to a Firebird server, with
// the XDR items of the remote protocol: 32-bit integers as four bytes most
// significant first, hypers as eight, and counted byte strings padded with zero
// bytes to a multiple of four.
//
// Output is gathered: the Write operations collect a request's items, and the whole
// request leaves in one send when it is complete: at Flush, or at the first Read of
// its reply (every Read flushes first, so a caller cannot forget). The bytes on the
// wire are exactly the items in the order written.
//
// Input is read into a buffer as far as the connection has it ready (up to the
// buffer's size) and items are decoded from there, so a reply usually costs one
// receive. Short deliveries are completed.
// A connection that closes or fails, a length from the server beyond what its item
// allows, or a failed send breaks the stream: errorText says why, and every later
// read returns at once with nothing (0) until the stream is opened again.
//
// One thread at a time uses a stream; only Close may come from another thread.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "common/ansi_string.h"
#include "messages/error.h"
#include "platform/socket.h"
#include "wire/kt_socket.h"

// Where a stream's bytes go and come from. The stream uses its own socket unless a
// transport is injected (the tests feed byte vectors and record the sends).
class IWireTransport {
public:
    // As the socket calls: bytes moved, 0 for a closed connection (receive), a
    // negative value on error.
    virtual int Send(const void* data, int length) = 0;
    virtual int Receive(void* target, int length) = 0;
    // Waits up to timeoutMs for something to receive: 1 when there is (or the end
    // of the connection), 0 at the time-out, -1 on error.
    virtual int WaitReadable(uint32_t timeoutMs) {
        (void)timeoutMs;
        return 1;
    }
    // Why the last Send or Receive that failed did, as the system said; nothing when
    // the transport does not know.
    virtual platform::SocketError LastError() const { return {}; }

protected:
    ~IWireTransport() = default;
};

// A stream cipher as the wire uses it: its keystream is XORed over the bytes in
// place and runs on from one call to the next. False when the cipher can go no
// further without repeating its keystream.
class IWireCipher {
public:
    virtual ~IWireCipher() = default;
    virtual bool Apply(uint8_t* bytes, size_t length) = 0;
};

class CWireStream {
public:
    // Reads the stream's socket.
    CWireStream();
    // Reads and writes through transport, which must outlive the stream.
    explicit CWireStream(IWireTransport* transport);
    CWireStream(const CWireStream&) = delete;
    CWireStream& operator=(const CWireStream&) = delete;

    CKtSocket socket;
    // The last error of this connection, in the words reported to the user, its kind,
    // and what the system said about it when a system call failed. All three are set
    // by Fail (or Break) only.
    AnsiString errorText;
    ErrorKind errorKind = ErrorKind::kNone;
    platform::SocketError systemError;

    // Connects to host on the low 16 bits of port, giving up after timeoutMs: a name,
    // an IPv4 address or an IPv6 address (in brackets or not). A name's addresses are
    // tried in the resolver's order until one connects; each try gets an equal share
    // of the time left, the last one all of it. False with errorText set (and
    // systemError: the resolver's reason, or the last address's); the socket then
    // stays open until Close.
    bool Open(const AnsiString& host, uint32_t port, uint32_t timeoutMs = platform::kInfinite);
    // The same for addresses already resolved (count of them).
    bool Open(const platform::SocketAddress* addresses, int count,
              uint32_t timeoutMs = platform::kInfinite);
    // At most this many addresses of one name are tried.
    static constexpr int kMaxAddresses = 16;
    // The addresses of host as Open takes them (brackets around an IPv6 address
    // dropped), at most max; their count, 0 when host does not resolve (*error says
    // why, unless null).
    static int ResolveHost(const AnsiString& host, uint32_t port,
                           platform::SocketAddress* addresses, int max,
                           platform::SocketError* error);
    // Abrupt close (see CKtSocket::CloseAbrupt); safe while another thread reads.
    // Always true.
    bool Close();
    bool IsOpen() const { return socket.IsOpen(); }
    platform::SocketHandle Handle() const { return socket.Handle(); }

    // Gathered until the request is complete.
    void WriteInt(uint32_t value);
    // The length word n, then n bytes of data and zero padding to a multiple of four
    // (only the word when data is null or n is not positive). Returns n.
    int32_t WriteOpaque(const void* data, int32_t n);
    // Sends the gathered items in one piece (further sends only if the system takes
    // less at once). True when everything was sent or nothing was pending; false
    // when the send failed (the stream is then broken) or the stream was broken
    // already (the items are dropped).
    bool Flush();
    // Bytes gathered and not yet sent.
    size_t PendingOutput() const { return output_.size(); }

    // 0 when the item could not be read whole.
    uint32_t ReadInt();
    int64_t ReadLong();
    // n bytes into target, then the padding to a multiple of four; nothing when n is
    // not positive. Ends early when the connection closes or fails.
    void ReadBytes(void* target, int32_t n);
    // A length word and that many bytes. A length of 0 leaves target unchanged; a
    // length above kMaxOpaqueLength breaks the stream, reading nothing more.
    void ReadOpaque(AnsiString& target);
    // n bytes given by the caller (the texts of a status vector). A negative n or one
    // above kMaxStatusStringLength breaks the stream. On failure target is empty.
    void ReadOpaque(AnsiString& target, int32_t n);
    // Reads operation words up to the first that is not op_dummy, and returns it.
    uint32_t ReadOperation();

    // From now on until ClearDeadline, a read that would wait past the tick count
    // `deadline` (platform::TickCount) breaks the stream with kTimeout and `text`.
    void SetDeadline(uint32_t deadline, const AnsiString& text);
    void ClearDeadline() { hasDeadline_ = false; }

    // Bytes received and not read yet.
    size_t BufferedInput() const { return static_cast<size_t>(inputEnd_ - inputStart_); }

    // True once the connection closed, failed or sent something out of bounds.
    bool IsBroken() const { return broken_; }
    // Records a failure of this connection: its kind, the text the user sees, and
    // what the system said (nothing for a failure that is not the system's).
    void Fail(ErrorKind kind, const AnsiString& text, platform::SocketError system = {});
    // Fails and breaks the stream, for a fault after which nothing more of it can be
    // read in step (a protocol violation that a reader above the XDR items finds).
    // Does nothing on a stream already broken.
    void Break(ErrorKind kind, const AnsiString& text, platform::SocketError system = {});
    // errorText with what the system said in brackets before its full stop: "Unable to
    // connect (connection refused)."; errorText alone when the system said nothing.
    // For the texts that are this library's own (a loss's reason, the connection
    // check); the host functions raise errorText as it is.
    AnsiString ErrorTextWithReason() const;

    // From now on every byte sent goes through `sending` and every byte received
    // through `receiving` (wire encryption). A cipher that can go no further breaks
    // the stream. Open and EndEncryption end it (the ciphers wipe their keys).
    void StartEncryption(std::unique_ptr<IWireCipher> sending,
                         std::unique_ptr<IWireCipher> receiving);
    // Not while another thread reads the stream.
    void EndEncryption();
    bool IsEncrypted() const { return sending_ != nullptr; }

    // The largest counted string accepted from the server (response data, event
    // parameter blocks), and the largest status-vector text.
    static constexpr int32_t kMaxOpaqueLength = 65536;
    static constexpr int32_t kMaxStatusStringLength = 32768;

private:
    class SocketTransport : public IWireTransport {
    public:
        explicit SocketTransport(CKtSocket& socket) : socket_(socket) {}
        // Each call forgets the error of the one before: a socket closed meanwhile
        // fails without one.
        int Send(const void* data, int length) override {
            lastError_ = platform::SocketError{};
            return socket_.Send(data, length, &lastError_);
        }
        int Receive(void* target, int length) override {
            lastError_ = platform::SocketError{};
            return socket_.Receive(target, length, &lastError_);
        }
        int WaitReadable(uint32_t timeoutMs) override { return socket_.WaitReadable(timeoutMs); }
        platform::SocketError LastError() const override { return lastError_; }

    private:
        CKtSocket& socket_;
        platform::SocketError lastError_;
    };

    // Open for addresses already resolved; none (count 0) fails with the resolver's
    // reason, unresolved.
    bool OpenAddresses(const platform::SocketAddress* addresses, int count, uint32_t timeoutMs,
                       const platform::SocketError& unresolved);
    // Reads exactly n bytes; false (and the stream broken) otherwise.
    bool ReceiveAll(void* target, int32_t n);
    bool SkipPadding(int32_t n);
    // Waits for input until the deadline; false (and the stream broken) when none came.
    bool WaitForInput();

    SocketTransport socketTransport_;
    IWireTransport* transport_;
    // The bytes received (decrypted) and not yet read: input_[inputStart_, inputEnd_).
    static constexpr int kInputCapacity = 2048;
    char input_[kInputCapacity];
    int inputStart_ = 0;
    int inputEnd_ = 0;
    std::string output_;
    bool broken_;
    bool hasDeadline_ = false;
    uint32_t deadline_ = 0;
    AnsiString deadlineText_;
    std::unique_ptr<IWireCipher> sending_;
    std::unique_ptr<IWireCipher> receiving_;
};

// What the system said about a failure, in the user's words ("connection refused");
// empty when it said nothing.
AnsiString SystemReasonText(const platform::SocketError& error);
