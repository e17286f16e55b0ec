#pragma once
// The shortest of several timed runs of a piece of work: the figure least disturbed by the
// rest of the machine.
#include <windows.h>

#include <algorithm>

inline double Seconds(LARGE_INTEGER from, LARGE_INTEGER to)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return double(to.QuadPart - from.QuadPart) / double(frequency.QuadPart);
}

template <typename Work>
double BestOf(int rounds, Work work)
{
    double best = 1e9;
    for (int round = 0; round < rounds; ++round) {
        LARGE_INTEGER start, stop;
        QueryPerformanceCounter(&start);
        work();
        QueryPerformanceCounter(&stop);
        best = std::min(best, Seconds(start, stop));
    }
    return best;
}
