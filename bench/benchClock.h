/* Time, CPU time and percentiles, shared by the benchmark programs. */
#ifndef CORVEX_BENCH_CLOCK_H
#define CORVEX_BENCH_CLOCK_H

#include <stddef.h>
#include <stdint.h>
#include <sys/resource.h>
#include <time.h>

static inline uint64_t benchNowNs(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (uint64_t)ts.tv_sec * 1000000000ull + (uint64_t)ts.tv_nsec;
}

/* User and system CPU time of the process. */
static inline double benchCpuSeconds(void)
{
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
           usage.ru_stime.tv_usec / 1e6;
}

static inline int benchCompareU64(const void* a, const void* b)
{
    uint64_t x = *(const uint64_t*)a, y = *(const uint64_t*)b;
    return x < y ? -1 : x > y;
}

/* The p-th percentile, in microseconds, of nanosecond samples sorted with
 * benchCompareU64. */
static inline double benchPercentileUs(const uint64_t* sorted, size_t count, double p)
{
    if (count == 0)
        return 0;
    return sorted[(size_t)(p / 100.0 * (double)(count - 1) + 0.5)] / 1000.0;
}

#endif
