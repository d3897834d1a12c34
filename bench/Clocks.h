#pragma once

// Processor time and medians for the benchmarks: on a shared, busy machine the wall clock also
// counts the time others had the processor.
#include <QList>

#include <algorithm>
#include <sys/resource.h>
#include <time.h>

namespace bench {

inline double msOf(clockid_t clock)
{
    timespec t{};
    clock_gettime(clock, &t);
    return double(t.tv_sec) * 1000.0 + double(t.tv_nsec) / 1e6;
}

// Of the calling thread, in ms.
inline double threadCpuMs()
{
    return msOf(CLOCK_THREAD_CPUTIME_ID);
}

// Of the whole process, in ms.
inline double cpuMs()
{
    return msOf(CLOCK_PROCESS_CPUTIME_ID);
}

// Of the children that have ended, in ms.
inline double childrenCpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    const auto ms = [](const timeval& v) { return double(v.tv_sec) * 1000.0 + double(v.tv_usec) / 1000.0; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

inline double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values[values.size() / 2];
}

} // namespace bench
