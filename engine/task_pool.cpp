#include "task_pool.h"

#include <cerrno>
#include <cstdlib>

namespace granulix {

int threadsWanted(const char* setting, int processors) {
    if (setting && *setting) {
        errno = 0;
        char* end = nullptr;
        const long n = std::strtol(setting, &end, 10);
        if (errno == 0 && *end == '\0' && n >= 1 && n <= kMaxThreads) return static_cast<int>(n);
    }
    if (processors < 1) return 1;
    return processors < kMaxThreads ? processors : kMaxThreads;
}

}  // namespace granulix
