// Processor facts for the imaging platform: may the AVX build of the correction engine run here?
//
// The two processor instructions behind the answer (CPUID and XGETBV) are reached through a small
// table of methods, the way SQLite routes its system calls: a test installs its own table to force
// a processor answer, and the real instructions run otherwise.
#pragma once

#include <cstdint>

struct SysCpuMethods {
    // Fills regs with EAX, EBX, ECX, EDX of CPUID for the leaf (sub-leaf 0).
    void (*cpuid)(unsigned leaf, unsigned regs[4]);
    // Answers the extended control register XCR[index]. Asked only when the processor reports
    // OSXSAVE: without it the instruction faults.
    uint64_t (*xgetbv)(unsigned index);
};

// CPUID leaf 1, ECX: the bits that the AVX test needs.
enum : unsigned {
    kCpuidXsaveBit = 1u << 26,    // XSAVE/XRSTOR present
    kCpuidOsxsaveBit = 1u << 27,  // the system enabled XSAVE (XGETBV usable)
    kCpuidAvxBit = 1u << 28,      // AVX instructions present
};

// XCR0: the register states that the system saves on a thread switch.
enum : uint64_t {
    kXcr0XmmState = 1u << 1,  // SSE registers
    kXcr0YmmState = 1u << 2,  // upper halves of the AVX registers
};

// The table of the real processor.
const SysCpuMethods* sysCpuDefaultMethods();

// Installs a table (null restores the real processor) and forgets the cached answer, so that the
// next sysCpuAvxUsable asks the new table.
void sysCpuSetMethods(const SysCpuMethods* methods);

// True when the processor reports XSAVE, OSXSAVE and AVX and the system saves the XMM and YMM
// states. Computed once and cached until the methods change.
bool sysCpuAvxUsable();
