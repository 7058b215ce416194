#pragma once
// Byte-vector transport for CWireStream: the stream reads from a prepared input and
// every send is recorded as one piece, so tests see what left in which send. And the
// XDR items of test input.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
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
    int Send(const void* data, int length) override {
        if (failSends) {
            return -1;
        }
        const auto* bytes = static_cast<const uint8_t*>(data);
        sends.emplace_back(bytes, bytes + std::min(static_cast<size_t>(length), maxSendChunk));
        return static_cast<int>(sends.back().size());
    }
    int Receive(void* target, int length) override {
        const size_t n = std::min({static_cast<size_t>(length), input.size() - position, maxChunk});
        if (n == 0) {
            return endResult;
        }
        std::memcpy(target, input.data() + position, n);
        position += n;
        return static_cast<int>(n);
    }
    Bytes SentBytes() const {  // every send, in order, as one vector
        Bytes all;
        for (const Bytes& piece : sends) {
            all.insert(all.end(), piece.begin(), piece.end());
        }
        return all;
    }

    Bytes input;
    size_t position = 0;
    size_t maxChunk = SIZE_MAX;      // at most this many bytes per receive
    int endResult = 0;               // a receive past the input: 0 (closed) or -1 (error)
    bool failSends = false;          // every send fails with -1
    size_t maxSendChunk = SIZE_MAX;  // at most this many bytes taken per send
    std::vector<Bytes> sends;
};

inline Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

inline Bytes FromText(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

// XDR words, most significant byte first.
inline Bytes Words(std::initializer_list<uint32_t> words) {
    Bytes bytes;
    for (uint32_t word : words) {
        for (int shift = 24; shift >= 0; shift -= 8) {
            bytes.push_back(static_cast<uint8_t>(word >> shift));
        }
    }
    return bytes;
}

// An XDR opaque: length word, bytes, zero padding.
inline Bytes Opaque(const std::string& text) {
    Bytes bytes = Join({Words({static_cast<uint32_t>(text.size())}), FromText(text)});
    bytes.resize((bytes.size() + 3) / 4 * 4, 0);
    return bytes;
}

// "00 00 00 13" style, for failure messages.
inline std::string Hex(const Bytes& bytes) {
    std::string text;
    char piece[4];
    for (uint8_t byte : bytes) {
        std::snprintf(piece, sizeof piece, text.empty() ? "%02X" : " %02X", byte);
        text += piece;
    }
    return text;
}

}  // namespace varnel_test
