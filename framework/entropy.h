// Numbers that must differ between runs and between hosts started together
// (SSRCs, TEI references): drawn from the kernel, not from an unseeded rand().
#pragma once

#include <cstdint>

uint32_t KernelRandom();
