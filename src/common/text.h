// Text formatted once, into a buffer of its own: the one place where the commands format a
// message from a variable argument list (each front-end's failure, verdict and outcome take one).
#pragma once

#include <cstddef>
#include <cstdint>

class Text {
public:
    static constexpr size_t capacity = 8192;  // a reason with a path as long as Linux allows, and more

    // As printf would write it, cut to capacity - 1 bytes.
    __attribute__((format(printf, 2, 3))) explicit Text(const char* format, ...);
    const char* str() const { return text_; }
    size_t size() const { return size_; }

private:
    char text_[capacity];
    size_t size_;
};

// "N visible bytes match", or "1 visible byte matches": what an accepted output is told.
Text visible_bytes_match(uint64_t visible);
