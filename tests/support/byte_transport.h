#pragma once
// Bytes for the tests: a transport for CWireStream that reads a prepared input and
// records every send as one piece, the XDR items of test input, and hex text.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <ostream>
#include <string>
#include <vector>

#include "wire/wire_stream.h"

inline void PrintTo(const AnsiString& text, std::ostream* out) {
    *out << '"' << text.Bytes() << '"';
}

namespace varnel_test {

using Bytes = std::vector<uint8_t>;

// The server's refusal of a login, in the user's words.
inline const char kLoginMessage[] =
    "Your user name and password are not defined. Ask your database administrator to set up a "
    "Firebird login.\n";

class ByteTransport : public IWireTransport {
public:
    explicit ByteTransport(Bytes input = {}) : input(std::move(input)) {}
    int Send(const void* data, int length) override {
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

    Bytes input;
    size_t position = 0;
    size_t maxChunk = SIZE_MAX;      // bytes per receive at most
    int endResult = 0;               // a receive past the input: 0 (closed) or -1 (error)
    size_t maxSendChunk = SIZE_MAX;  // bytes taken per send at most
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

inline Bytes Words(std::initializer_list<uint32_t> words) {  // XDR: high byte first
    Bytes bytes;
    bytes.reserve(words.size() * 4);
    for (uint32_t word : words) {
        for (int shift = 24; shift >= 0; shift -= 8) {
            bytes.push_back(static_cast<uint8_t>(word >> shift));
        }
    }
    return bytes;
}

inline Bytes Opaque(const std::string& text) {  // length, bytes, zero padding
    Bytes bytes = Join({Words({static_cast<uint32_t>(text.size())}), FromText(text)});
    bytes.resize((bytes.size() + 3) / 4 * 4, 0);
    return bytes;
}

inline std::string ToHex(const uint8_t* data, size_t length) {  // lower case
    std::string text;
    for (size_t i = 0; i < length; ++i) {
        text += "0123456789abcdef"[data[i] >> 4];
        text += "0123456789abcdef"[data[i] & 15];
    }
    return text;
}

inline std::string Hex(const Bytes& bytes) {
    return ToHex(bytes.data(), bytes.size());
}

inline Bytes FromHex(const std::string& text) {
    Bytes bytes;
    for (size_t i = 0; i + 1 < text.size(); i += 2) {
        bytes.push_back(static_cast<uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

}  // namespace varnel_test
