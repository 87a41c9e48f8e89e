#pragma once

// The text format of both files, independent of where the bytes come from:
// lines end in LF, a CR right before that LF belongs to the line end, every LF
// written is stored as CR LF, and long lines are enciphered in fixed segments.

#include "quorvex/cipher.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace quorvex {

// A line segment never exceeds what one read of the original line buffer could hold.
inline constexpr std::size_t LINE_BUFFER_SIZE = 512;
inline constexpr std::size_t kMaxSegmentLength = LINE_BUFFER_SIZE - 1;

class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Up to `capacity` bytes into `buffer`; 0 at the end of the input, -1 on an error
    // (with errno set).
    virtual ssize_t Read(char* buffer, std::size_t capacity) = 0;
};

class ByteSink {
public:
    virtual ~ByteSink() = default;
    // All `size` bytes, or false on an error (with errno set).
    virtual bool Write(const char* data, std::size_t size) = 0;
};

// Collects everything written, for runs held in memory.
class StringSink : public ByteSink {
public:
    bool Write(const char* data, std::size_t size) override;
    std::string text;
};

enum class StreamStatus { Completed, ReadFailed, WriteFailed };

struct StreamResult {
    StreamStatus status = StreamStatus::Completed;
    int error = 0; // errno of the failed read or write
    // Bytes of the input that a round trip would not give back (see CountLossyBytes),
    // and the first line, counted from 1, that holds one.
    std::uint64_t lossyBytes = 0;
    std::uint64_t firstLossyLine = 0;
};

// Reads `source` to its end and writes every line, transformed, to `sink`, stopping at
// the first failed read or write. Memory use does not depend on the input.
StreamResult TranscodeStream(ByteSource& source, ByteSink& sink, CipherMode mode, CipherKey key);

// The same conversion on a string held in memory.
std::string TranscodeText(std::string_view input, CipherMode mode, CipherKey key);

} // namespace quorvex
