// The pattern file: any bytes load as a pattern or fail with the reason; a
// loaded pattern has positive finite norms and takes the lowest free slot, a
// failed load leaves the slot free.

#include <cmath>
#include <memory>

#include "fuzz/fuzz_support.h"
#include "marker/pattern.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& path = fuzz::scratchPath("pattern");
    fuzz::writeScratch(path, data, size);
    static auto set = std::make_unique<PatternSet>();
    *set = PatternSet{};
    const PatternLoad load = arLoadPatternFile(*set, path.c_str());
    const int id = load.id;
    if (!load.ok()) {
        fuzz::require(load.status == MarkerStatus::PatternUnreadable, "a failed load says why");
        fuzz::require(set->count == 0 && set->inUse[0] == 0, "a failed load keeps the slot free");
        return 0;
    }
    fuzz::require(id == 0 && set->inUse[0] == 1 && set->count == 1, "the lowest slot is used");
    for (double norm : set->templateNorms[0])
        fuzz::require(std::isfinite(norm) && norm > 0.0, "template norms are positive and finite");
    fuzz::require(arLoadPatternFile(*set, path.c_str()).id == 1, "it loads again, slot 1");
    return 0;
}
