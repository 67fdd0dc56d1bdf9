// For the crash-report tests only: faults made on purpose. They are made in assembly where
// possible, so that no compiler check or sanitizer takes them first: the tests are about what the
// kernel's signal brings to the program's handler.
#pragma once

#include <cstdint>

namespace fw::faulttest {

[[gnu::noinline]] inline void ReadNull() {
  volatile uintptr_t address = 0;
#if defined(__x86_64__)
  uint64_t value;
  asm volatile("movq (%1), %0" : "=r"(value) : "r"(address) : "memory");
  (void)value;
#else
  (void)*reinterpret_cast<volatile int*>(address);
#endif
}

[[gnu::noinline]] inline void DivideByZero() {
  volatile uint32_t zero = 0;
#if defined(__x86_64__)
  const uint32_t divisor = zero;
  asm volatile("xorl %%edx, %%edx\n\tmovl $1, %%eax\n\tdivl %0" : : "r"(divisor) : "eax", "edx");
#else
  volatile int result = 1 / static_cast<int>(zero);
  (void)result;
#endif
}

}  // namespace fw::faulttest
