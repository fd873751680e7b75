// module_renders: renders one fixed set of requests through the module
// beside this program and prints a line per request: the case, the round,
// the export's result and a 64-bit hash (FNV-1a) of the whole output frame,
// guards and padding included. The 32-bit and the 64-bit build must print
// the same listing.
#include <cinttypes>
#include <cstdio>
#include <random>

#include "random_requests.h"

namespace {

uint64_t fnv1a(const std::vector<uint8_t>& bytes) {
    uint64_t hash = 0xcbf29ce484222325u;
    for (uint8_t byte : bytes) hash = (hash ^ byte) * 0x100000001b3u;
    return hash;
}

constexpr int kRoundsPerCase = 8;
// Frames of a preview's size, with every field mode.
constexpr granulix::testing::RenderCase kLargerCases[] = {
    {160, 120, 0}, {160, 120, 1}, {160, 120, 2}, {97, 31, 3}};

void renderCase(const granulix::testing::RenderCase& c) {
    std::mt19937 g(c.width * 104729 + c.height * 613 + c.fieldMode + 7);
    for (int round = 0; round < kRoundsPerCase; ++round) {
        granulix::testing::RandomRequest request(c, round, g);
        const int32_t result = granulix::testing::applyRender(request.record, c.fieldMode);
        std::printf("%s round %d: result %" PRId32 ", output %016" PRIx64 "\n",
                    granulix::testing::renderCaseName(c).c_str(), round, result,
                    fnv1a(request.frames.out.storage));
    }
}

}  // namespace

int main() {
    for (const auto& c : granulix::testing::kRenderCases) renderCase(c);
    for (const auto& c : kLargerCases) renderCase(c);
    return 0;
}
