// The process's threads as the kernel lists them, for the tests that hold the engine to making
// threads only where asked and ending them all before a comparison returns.
#pragma once

#include <dirent.h>
#include <unistd.h>

#include <thread>

inline int threads_now() {
    int count = 0;
    if (DIR* tasks = opendir("/proc/self/task")) {
        while (const dirent* entry = readdir(tasks)) count += entry->d_name[0] != '.' ? 1 : 0;
        closedir(tasks);
    }
    return count;
}

// The count once it holds still, after a first thread was made and joined: a sanitizer, or an
// emulator, starts a thread of its own then, and a joined thread may be listed a moment longer,
// while the kernel ends it.
inline int settled_threads() {
    std::thread([] {}).join();
    int count = threads_now();
    for (int still = 0, tries = 0; still < 20 && tries < 2000; ++tries) {
        usleep(1000);
        const int now = threads_now();
        still = now == count ? still + 1 : 0;
        count = now;
    }
    return count;
}

// Waits up to a second for the count to come back to `count` (a joined thread leaving the list);
// the count then. A thread that was never stopped stays.
inline int threads_back_to(int count) {
    for (int wait = 0; wait < 1000 && threads_now() != count; ++wait) usleep(1000);
    return threads_now();
}
