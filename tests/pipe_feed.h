// A pipe whose writer, a thread of its own, delivers a text in pieces whose sizes come from
// next_piece, then closes its end: how the engine's tests feed it as a contestant's program would.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <thread>

class PipeFeed {
public:
    template <typename NextPiece>
    PipeFeed(std::string content, NextPiece next_piece) {
        int ends[2];
        EXPECT_EQ(pipe(ends), 0);
        read_end_ = ends[0];
        writer_ = std::thread([content = std::move(content), next_piece, fd = ends[1]]() mutable {
            for (size_t at = 0; at < content.size();) {
                const size_t piece = std::min(content.size() - at, std::max<size_t>(1, next_piece()));
                const ssize_t put = write(fd, content.data() + at, piece);
                if (put <= 0) break;  // the engine stopped reading and closed its end
                at += static_cast<size_t>(put);
            }
            close(fd);
        });
    }
    ~PipeFeed() {
        close(read_end_);
        writer_.join();
    }
    PipeFeed(const PipeFeed&) = delete;
    PipeFeed& operator=(const PipeFeed&) = delete;
    int fd() const { return read_end_; }

private:
    int read_end_ = -1;
    std::thread writer_;
};
