// Preloaded into the granulix program to make renames go wrong on purpose,
// as a troubled disk might:
//   GRANULIX_TEST_FAIL_RENAME=PATH   the first rename onto PATH fails with
//                                    EIO ("Input/output error");
//   GRANULIX_TEST_SLOW_RENAME=MS     every rename waits MS milliseconds first,
//                                    widening the time between reading a
//                                    file and replacing it.
// Every other rename goes through unchanged.
#include <dlfcn.h>
#include <time.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

extern "C" int rename(const char* from, const char* to) noexcept {
    using Rename = int (*)(const char*, const char*);
    static const Rename real = reinterpret_cast<Rename>(dlsym(RTLD_NEXT, "rename"));
    static bool failed = false;
    if (const char* slow = std::getenv("GRANULIX_TEST_SLOW_RENAME")) {
        const long ms = std::atol(slow);
        const timespec pause{ms / 1000, (ms % 1000) * 1000000};
        nanosleep(&pause, nullptr);
    }
    const char* failing = std::getenv("GRANULIX_TEST_FAIL_RENAME");
    if (!failed && failing && std::strcmp(to, failing) == 0) {
        failed = true;
        errno = EIO;
        return -1;
    }
    return real(from, to);
}
