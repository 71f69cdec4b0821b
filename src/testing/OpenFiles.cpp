#include "testing/OpenFiles.h"

#include <dirent.h>
#include <sys/resource.h>

#include <climits>
#include <cstdio>

namespace OpenFiles {

namespace {

// The kernel's ceiling for any process's limit, for a hard limit of "unlimited", which the
// soft limit on open files cannot be set to.
rlim_t kernelCeiling()
{
    rlim_t ceiling = 0;
    if (FILE* file = std::fopen("/proc/sys/fs/nr_open", "re")) {
        unsigned long long value = 0;
        if (std::fscanf(file, "%llu", &value) == 1)
            ceiling = rlim_t(value);
        std::fclose(file);
    }
    return ceiling;
}

// The descriptors this process has open; -1 when /proc cannot be read.
int openDescriptors()
{
    DIR* dir = opendir("/proc/self/fd");
    if (!dir)
        return -1;
    int count = 0;
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] != '.')
            ++count;
    }
    closedir(dir);
    // The listing shows the descriptor it was read through, which is closed again now.
    return count - 1;
}

} // namespace

void raiseSoftLimit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return;
    rlim_t wanted = limit.rlim_max;
    if (wanted == RLIM_INFINITY)
        wanted = kernelCeiling();
    if (limit.rlim_cur != RLIM_INFINITY && wanted > limit.rlim_cur) {
        limit.rlim_cur = wanted;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

int socketsAvailable(int reserve)
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return 0;
    const long long soft =
        limit.rlim_cur == RLIM_INFINITY ? INT_MAX : static_cast<long long>(limit.rlim_cur);
    const int open = openDescriptors();
    // Without /proc the count is unknown: only the reserve is held back then.
    const long long left = soft - (open < 0 ? 0 : open) - reserve;
    return left <= 0 ? 0 : left >= INT_MAX ? INT_MAX : int(left);
}

} // namespace OpenFiles
