// The four-wide (AVX2) code paths: where they are built and when they run.
//
// x86-64 Linux builds carry AVX2 versions of the renderer's element settling
// and of the frame conversion, chosen at run time where the processor has
// the instructions; every other build keeps to what every x86 runs. A job
// may refuse them (RenderJob::wideVectors); the result is the same bytes
// either way.
//
//   #if GRANULIX_WIDE
//   GRANULIX_AVX2 void fourAtATime(...);   // compiled for AVX2
//   #endif
//   if (wideVectorsFor(job)) ...           // and taken only where it runs
#pragma once

#include "render_job.h"

#if defined(__x86_64__) && defined(__linux__)
#define GRANULIX_WIDE 1
#define GRANULIX_AVX2 __attribute__((target("avx2")))
#include <immintrin.h>
#else
#define GRANULIX_WIDE 0
#endif

namespace granulix {

// Whether this processor runs the four-wide code (asked once).
inline bool processorHasWideVectors() {
#if GRANULIX_WIDE
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return avx2;
#else
    return false;
#endif
}

// Whether `job` takes the four-wide code: built, run by the processor and
// not refused by the job.
inline bool wideVectorsFor(const RenderJob& job) {
    return job.wideVectors && processorHasWideVectors();
}

}  // namespace granulix
