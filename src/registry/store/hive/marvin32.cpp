#include "registry/store/hive/marvin32.h"

#include "registry/store/hive/hive_format.h"

namespace {

struct MarvinState {
    std::uint32_t s0;
    std::uint32_t s1;
};

std::uint32_t RotateLeft(std::uint32_t word, unsigned count) {
    return (word << count) | (word >> (32u - count));
}

void MarvinRound(MarvinState* state) {
    state->s1 ^= state->s0;
    state->s0 = RotateLeft(state->s0, 20) + state->s1;
    state->s1 = RotateLeft(state->s1, 9) ^ state->s0;
    state->s0 = RotateLeft(state->s0, 27) + state->s1;
    state->s1 = RotateLeft(state->s1, 19);
}

} // namespace

std::uint64_t Marvin32(std::uint64_t seed, const unsigned char* bytes, std::size_t length) {
    MarvinState state{static_cast<std::uint32_t>(seed & 0xFFFFFFFFu),
                      static_cast<std::uint32_t>(seed >> 32)};
    std::size_t at = 0;
    for (; length - at >= 4; at += 4) {
        state.s0 += LittleEndianDword(bytes + at);
        MarvinRound(&state);
    }
    // The 0-3 bytes left, then 0x80, then zeros, as one last word.
    unsigned char last[4] = {0, 0, 0, 0};
    std::size_t tail = 0;
    for (; at < length; ++at) {
        last[tail++] = bytes[at];
    }
    last[tail] = 0x80;
    state.s0 += LittleEndianDword(last);
    MarvinRound(&state);
    MarvinRound(&state);
    return static_cast<std::uint64_t>(state.s1) << 32 | state.s0;
}
