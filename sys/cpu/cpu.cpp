// The AVX test and the real CPUID / XGETBV methods.
#include "sys/cpu/cpu.h"

#include <atomic>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#define SYS_CPU_X86 1
#endif

namespace {

void realCpuid(unsigned leaf, unsigned regs[4]) {
    regs[0] = regs[1] = regs[2] = regs[3] = 0;
#ifdef SYS_CPU_X86
    if (!__get_cpuid_count(leaf, 0, &regs[0], &regs[1], &regs[2], &regs[3]))
        regs[0] = regs[1] = regs[2] = regs[3] = 0;
#endif
}

uint64_t realXgetbv(unsigned index) {
#ifdef SYS_CPU_X86
    unsigned lo = 0, hi = 0;
    __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(index));
    return (uint64_t(hi) << 32) | lo;
#else
    (void)index;
    return 0;
#endif
}

const SysCpuMethods kRealMethods = {realCpuid, realXgetbv};

std::atomic<const SysCpuMethods*> gMethods{&kRealMethods};

// -1 while not yet computed, else 0 or 1.
std::atomic<int> gAvxUsable{-1};

bool computeAvxUsable(const SysCpuMethods* methods) {
    unsigned regs[4];
    methods->cpuid(0, regs);
    if (regs[0] < 1)
        return false;  // leaf 1 not offered
    methods->cpuid(1, regs);
    const unsigned ecx = regs[2];
    const unsigned needed = kCpuidXsaveBit | kCpuidOsxsaveBit | kCpuidAvxBit;
    if ((ecx & needed) != needed)
        return false;  // XGETBV is not asked without OSXSAVE
    const uint64_t states = kXcr0XmmState | kXcr0YmmState;
    return (methods->xgetbv(0) & states) == states;
}

}  // namespace

const SysCpuMethods* sysCpuDefaultMethods() {
    return &kRealMethods;
}

void sysCpuSetMethods(const SysCpuMethods* methods) {
    gMethods.store(methods ? methods : &kRealMethods);
    gAvxUsable.store(-1);
}

bool sysCpuAvxUsable() {
    int cached = gAvxUsable.load();
    if (cached < 0) {
        cached = computeAvxUsable(gMethods.load()) ? 1 : 0;
        gAvxUsable.store(cached);
    }
    return cached == 1;
}
