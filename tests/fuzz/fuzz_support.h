#pragma once
// What the fuzz targets share: a check that stops the run when an invariant does not
// hold (libFuzzer keeps the input), and the fuzzer's bytes as a server's to a stream.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/byte_transport.h"
#include "wire/srp.h"

#define FUZZ_CHECK(condition) \
    ((condition) ? static_cast<void>(0) : varnel_fuzz::Broken(#condition, __FILE__, __LINE__))

namespace varnel_fuzz {

[[noreturn]] inline void Broken(const char* what, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: invariant does not hold: %s\n", file, line, what);
    std::abort();
}

// An Srp client started with the private value 0x2B, its powers computed by `power`.
inline SrpClient StartedSrpClient(SrpPower power) {
    SrpClient client;
    client.UsePower(power);
    uint8_t privateKey[kSrpPrivateKeySize] = {};
    privateKey[kSrpPrivateKeySize - 1] = 0x2B;
    FUZZ_CHECK(client.Start(privateKey));
    return client;
}

// Adds a decoded value to a summary of what a target read.
inline void Note(std::string& summary, long long value) {
    summary += std::to_string(value) + ',';
}
inline void Note(std::string& summary, const AnsiString& text) {
    Note(summary, static_cast<long long>(text.Length()));
    summary += text.Bytes();
}
template <typename... Values>
std::string Summary(const Values&... values) {
    std::string summary;
    (Note(summary, values), ...);
    return summary;
}

// The largest piece one receive delivers, from a byte: 1 to 63, or no limit for 0.
inline size_t PieceSize(uint8_t byte) {
    return (byte & 63) != 0 ? byte & 63u : SIZE_MAX;
}

// A transport with the fuzzer's bytes after the first, which sets the pieces and,
// with its top bit, makes the input end in a failed receive instead of a close.
inline varnel_test::ByteTransport Transport(const uint8_t* data, size_t size, bool inPieces) {
    varnel_test::ByteTransport transport(varnel_test::Bytes(data + 1, data + size));
    transport.maxChunk = inPieces ? PieceSize(data[0]) : SIZE_MAX;
    transport.endResult = (data[0] & 0x80) != 0 ? -1 : 0;
    return transport;
}

// Calls read(stream), which summarizes what it decoded, in pieces and all at once:
// both must decode the same and leave the same bytes unread; a stream that did not
// break stands on a word boundary, one that broke says why.
template <typename Read>
void ReadBothWays(const uint8_t* data, size_t size, Read read) {
    if (size == 0) {
        return;
    }
    std::string summaries[2];
    for (int pass = 0; pass < 2; ++pass) {
        varnel_test::ByteTransport transport = Transport(data, size, pass == 0);
        CWireStream stream(&transport);
        std::string& summary = summaries[pass];
        summary = read(stream);
        const size_t consumed = transport.position - stream.BufferedInput();
        if (stream.IsBroken()) {
            FUZZ_CHECK(!stream.errorText.IsEmpty() && stream.errorKind != ErrorKind::kNone);
        } else {
            FUZZ_CHECK(consumed % 4 == 0);
        }
        Note(summary, static_cast<long long>(consumed));
        Note(summary, stream.errorText);
    }
    FUZZ_CHECK(summaries[0] == summaries[1]);
}

}  // namespace varnel_fuzz
