#pragma once
// The hot loops of the renderer are built twice, for processors with AVX2 and for any x86-64, and
// the build to run is chosen once, when the program loads (GCC's function multiversioning). The
// AVX2 build works sixteen or thirty-two bytes at a time where the other works eight or sixteen,
// and has the rounding instructions the float-to-pixel conversions need. Both give the same bytes:
// no build contracts a multiply and an add into one rounding.
//
// TARVO_CPU_BUILDS marks a function so built; the helpers it calls are marked TARVO_CPU_INLINE so
// that each build inlines them, compiled for its own instruction set. Clang cannot multiversion a
// function template, so a clang build (the fuzzers) has the one build for any x86-64, and so has
// a build with TARVO_PLAIN_CPU_BUILD defined (the tests that run the x86-64 build on any machine).

#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && \
    !defined(TARVO_PLAIN_CPU_BUILD)
#define TARVO_CPU_BUILDS __attribute__((target_clones("avx2", "default")))
#else
#define TARVO_CPU_BUILDS
#endif

#define TARVO_CPU_INLINE [[gnu::always_inline]] inline
