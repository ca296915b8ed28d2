#pragma once
// A deterministic image with every data cell filled (both regions, tail rows
// included), for demos, tests and benchmarks. Different seeds give different
// bytes; every byte value occurs.
#include <cstdint>

#include "ImageTable.h"

std::uint8_t SampleByte(int region, int offset, std::uint32_t seed);
// region 0: program memory (StringGrid1), 1: data flash (StringGrid2);
// offsets 0..65551 (65536..65551 is the tail line).
TImage MakeSampleImage(std::uint32_t seed = 1);
