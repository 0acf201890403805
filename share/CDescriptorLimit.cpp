#include "CDescriptorLimit.h"

#include <QtGlobal>
#include <algorithm>
#include <climits>

#ifndef Q_OS_WIN
#include <sys/resource.h>
#endif

namespace {

#ifndef Q_OS_WIN
int Clamped(rlim_t value) {
    return value == RLIM_INFINITY ? INT_MAX : static_cast<int>(std::min<rlim_t>(value, INT_MAX));
}
#endif

} // namespace

int CDescriptorLimit::Raise() {
#ifndef Q_OS_WIN
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit); // when refused, the limit stays as it was
    }
#endif
    return Current();
}

int CDescriptorLimit::Current() {
#ifdef Q_OS_WIN
    return -1;
#else
    rlimit limit{};
    return getrlimit(RLIMIT_NOFILE, &limit) == 0 ? Clamped(limit.rlim_cur) : -1;
#endif
}
