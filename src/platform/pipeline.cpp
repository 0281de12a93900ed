#include "platform/pipeline.h"

#include <cstdlib>

#include "platform/host.h"

namespace qm::plat {

unsigned writing_threads() noexcept {
    constexpr unsigned kMax = Pipeline<int>::kMaxWorkers;
    char value[16];
    if (live_env("QUILLMAR_THREADS", value, sizeof value) == EnvValue::Set && value[0] != '\0') {
        char* end = nullptr;
        const long n = std::strtol(value, &end, 10);
        if (*end == '\0' && n >= 1) return n < static_cast<long>(kMax) ? static_cast<unsigned>(n) : kMax;
    }
    const unsigned n = processor_count();
    return n < 4 ? n : 4;
}

}  // namespace qm::plat
