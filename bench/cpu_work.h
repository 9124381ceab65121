// A fixed, purely computational workload. orvl_bench.exe times it under Wine and the emulator,
// scripts/bench.sh builds cpu_probe_native.cpp around the same function for the machine itself:
// the ratio tells how much slower the emulated processor runs plain code.
#ifndef ORVL_BENCH_CPU_WORK_H
#define ORVL_BENCH_CPU_WORK_H

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace bench {

const uint32_t CpuWorkRepeats = 20;

// Sorting, string building and comparing, hashing: the kind of work a user-interface library
// does between system calls. Returns a checksum so that nothing is optimised away.
inline uint32_t CpuWork(uint32_t repeats)
{
    uint32_t checksum = 0;
    std::vector<uint32_t> numbers(20000);
    char text[64];
    for (uint32_t repeat = 0; repeat < repeats; ++repeat) {
        uint32_t state = 12345u + repeat;
        for (uint32_t& number : numbers) {
            state = state * 1664525u + 1013904223u;
            number = state >> 7;
        }
        std::sort(numbers.begin(), numbers.end());
        for (size_t i = 0; i < numbers.size(); i += 7) {
            uint32_t value = numbers[i];
            size_t length = 0;
            do {
                text[length++] = static_cast<char>('a' + value % 26);
                value /= 26;
            } while (value && length < sizeof(text) - 1);
            text[length] = '\0';
            uint32_t hash = 2166136261u;
            for (size_t c = 0; c < std::strlen(text); ++c)
                hash = (hash ^ static_cast<unsigned char>(text[c])) * 16777619u;
            checksum += hash + static_cast<uint32_t>(std::strcmp(text, "mmmm") > 0);
        }
    }
    return checksum + numbers[numbers.size() / 2];
}

} // namespace bench

#endif
