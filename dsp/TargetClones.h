#pragma once

// Marks a function whose loops the compiler vectorises: on x86-64 it is built once for
// AVX-512, once for AVX2 and once for the baseline, and the processor picks its copy when
// the program loads. The numbers are the same in every copy: no fused multiply-add is
// formed (-ffp-contract=off) and every operation rounds as written. VOCARN_PLAIN_DSP builds
// the baseline copy alone (the benchmark of the plain path).
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) &&                             \
    !defined(__SANITIZE_ADDRESS__) && !defined(VOCARN_PLAIN_DSP)
#define VOCARN_TARGET_CLONES                                                                       \
    __attribute__((target_clones("arch=x86-64-v4", "arch=x86-64-v3", "default")))
#else
#define VOCARN_TARGET_CLONES
#endif
