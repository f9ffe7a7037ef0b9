#include "sys/cpu/cpu.h"

#include <gtest/gtest.h>

namespace {

// A forced processor: leaf-1 ECX and XCR0 as the test sets them, with call counters.
unsigned gEcx;
uint64_t gXcr0;
int gCpuidCalls;
int gXgetbvCalls;

void fakeCpuid(unsigned leaf, unsigned regs[4]) {
    ++gCpuidCalls;
    regs[0] = leaf == 0 ? 13u : 0u;
    regs[1] = 0;
    regs[2] = leaf == 1 ? gEcx : 0u;
    regs[3] = 0;
}

uint64_t fakeXgetbv(unsigned index) {
    ++gXgetbvCalls;
    return index == 0 ? gXcr0 : 0;
}

const SysCpuMethods kFake = {fakeCpuid, fakeXgetbv};

class CpuTest : public ::testing::Test {
protected:
    void force(unsigned ecx, uint64_t xcr0) {
        gEcx = ecx;
        gXcr0 = xcr0;
        gCpuidCalls = gXgetbvCalls = 0;
        sysCpuSetMethods(&kFake);
    }
    void TearDown() override { sysCpuSetMethods(nullptr); }
};

constexpr unsigned kAllEcx = kCpuidXsaveBit | kCpuidOsxsaveBit | kCpuidAvxBit;
constexpr uint64_t kAllXcr0 = kXcr0XmmState | kXcr0YmmState;

TEST_F(CpuTest, AvxNeedsAllThreeProcessorBitsAndBothSystemStates) {
    struct Case {
        unsigned ecx;
        uint64_t xcr0;
        bool usable;
    } const cases[] = {
        {kAllEcx, kAllXcr0, true},
        {kAllEcx | 0xffu, kAllXcr0 | 0xe0u, true},  // unrelated bits do not matter
        {kAllEcx & ~kCpuidXsaveBit, kAllXcr0, false},
        {kAllEcx & ~kCpuidOsxsaveBit, kAllXcr0, false},
        {kAllEcx & ~kCpuidAvxBit, kAllXcr0, false},
        {kAllEcx, kXcr0XmmState, false},
        {kAllEcx, kXcr0YmmState, false},
        {0, 0, false},
    };
    for (const Case& c : cases) {
        force(c.ecx, c.xcr0);
        EXPECT_EQ(sysCpuAvxUsable(), c.usable) << std::hex << "ecx " << c.ecx << " xcr0 " << c.xcr0;
    }
}

TEST_F(CpuTest, XgetbvIsNotAskedWithoutOsxsave) {
    force(kCpuidXsaveBit | kCpuidAvxBit, kAllXcr0);
    EXPECT_FALSE(sysCpuAvxUsable());
    EXPECT_EQ(gXgetbvCalls, 0);
}

TEST_F(CpuTest, AnswerIsComputedOnceUntilTheMethodsChange) {
    force(kAllEcx, kAllXcr0);
    EXPECT_TRUE(sysCpuAvxUsable());
    const int calls = gCpuidCalls;
    gEcx = 0;  // the processor "changes": the cached answer stands
    EXPECT_TRUE(sysCpuAvxUsable());
    EXPECT_EQ(gCpuidCalls, calls);
    sysCpuSetMethods(&kFake);  // installing a table forgets the answer
    EXPECT_FALSE(sysCpuAvxUsable());
}

TEST_F(CpuTest, RealProcessorAnswersWithoutFault) {
    sysCpuSetMethods(nullptr);
    const bool usable = sysCpuAvxUsable();
#if defined(__x86_64__) && defined(__linux__)
    // On Linux the kernel enables the AVX state wherever the processor has AVX.
    unsigned regs[4];
    sysCpuDefaultMethods()->cpuid(1, regs);
    EXPECT_EQ(usable, (regs[2] & kCpuidAvxBit) != 0 && (regs[2] & kCpuidOsxsaveBit) != 0);
#else
    (void)usable;
#endif
}

}  // namespace
