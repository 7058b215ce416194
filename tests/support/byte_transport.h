#pragma once
// Byte-vector transport for CWireStream: the stream reads from a prepared input and
// every send is recorded as one piece, so tests see what left in which send.

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <ostream>
#include <string>
#include <vector>

#include "wire/wire_stream.h"

// Lets test failures show AnsiString values as text.
inline void PrintTo(const AnsiString& text, std::ostream* out) {
    *out << '"' << text.Bytes() << '"';
}

namespace varnel_test {

using Bytes = std::vector<uint8_t>;

class ByteTransport : public IWireTransport {
public:
    explicit ByteTransport(Bytes input = {}) : input(std::move(input)) {}
    int Send(const void* data, int length) override;
    int Receive(void* target, int length) override;
    Bytes SentBytes() const;  // every send, in order, as one vector

    Bytes input;
    size_t position = 0;
    size_t maxChunk = SIZE_MAX;      // at most this many bytes per receive
    int endResult = 0;               // a receive past the input: 0 (closed) or -1 (error)
    bool failSends = false;          // every send fails with -1
    size_t maxSendChunk = SIZE_MAX;  // at most this many bytes taken per send
    std::vector<Bytes> sends;
};

// XDR words, most significant byte first.
Bytes Words(std::initializer_list<uint32_t> words);
// An XDR opaque: length word, bytes, zero padding.
Bytes Opaque(const std::string& bytes);
Bytes Join(std::initializer_list<Bytes> parts);
Bytes FromText(const std::string& text);
// "00 00 00 13" style, for failure messages.
std::string Hex(const Bytes& bytes);

}  // namespace varnel_test
