#include "platform/pipeline.h"

#include "platform/host.h"

namespace qm::plat {

unsigned writing_threads_from(const char* value, unsigned processors) noexcept {
    constexpr unsigned kMax = Pipeline<int>::kMaxWorkers;
    const unsigned fallback = processors < 4 ? processors : 4;
    if (!value) return fallback;
    const char* p = value;
    while (*p == ' ' || *p == '\t') ++p;
    const char* end = p;
    while (*end >= '0' && *end <= '9') ++end;
    const char* rest = end;
    while (*rest == ' ' || *rest == '\t') ++rest;
    if (end == p || *rest != '\0') return fallback;
    unsigned n = 0;
    for (; p < end && n <= kMax; ++p) n = n * 10 + static_cast<unsigned>(*p - '0');
    if (n == 0) return fallback;
    return n < kMax ? n : kMax;
}

unsigned writing_threads() noexcept {
    char value[64];
    const bool set = live_env("QUILLMAR_THREADS", value, sizeof value) == EnvValue::Set;
    return writing_threads_from(set ? value : nullptr, processor_count());
}

}  // namespace qm::plat
