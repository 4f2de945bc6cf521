#pragma once
// The program's own seeded generator. It stands in for the C runtime's srand/rand pair:
// the same seed gives the same sequence of 0..32767 on every compiler and platform, so a
// mesh can be made again from the seed it kept.
#include <cstdint>

constexpr int kRandomMax = 32767;

// Seeds the calling thread's generator.
void SeedRandom(uint32_t seed);
// Next value of the calling thread's generator, 0..kRandomMax.
int NextRandom();
// A seed that differs from call to call, even within one millisecond.
uint32_t FreshSeed();
