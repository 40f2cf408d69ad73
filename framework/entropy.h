// Numbers that must differ between runs and between hosts started together
// (SSRCs, TEI references): drawn from the kernel, not from an unseeded rand().
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

uint32_t KernelRandom();

// The same with the kernel call and the device read when it fails given, so
// that a test can make the call fail as old kernels and seccomp filters do.
using RandomCall = ssize_t (*)(void* buf, size_t size, unsigned flags);
uint32_t KernelRandom(RandomCall call, char const* device);
