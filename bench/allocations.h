#pragma once

// Heap allocations made by this process so far: every malloc, calloc, realloc and aligned
// allocation, whoever asks (operator new, Qt's containers, the C library). Link allocations.cpp
// into the benchmark; glibc only, and not under the sanitizers, which bring their own allocator.
long long heapAllocations();
