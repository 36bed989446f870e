#include "text.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>

Text::Text(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    // va_start is above: clang-tidy 14 misses it.
    // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized)
    const int length = vsnprintf(text_, capacity, format, arguments);
    va_end(arguments);
    size_ = length < 0 ? 0 : static_cast<size_t>(length) < capacity ? static_cast<size_t>(length) : capacity - 1;
    text_[size_] = '\0';
}

Text visible_bytes_match(uint64_t visible) {
    return Text("%" PRIu64 " visible %s", visible, visible == 1 ? "byte matches" : "bytes match");
}
