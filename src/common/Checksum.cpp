#include "common/Checksum.h"

#define XXH_INLINE_ALL
#include <xxhash.h>

#include <algorithm>

namespace zandrel::fs {

// Inlined (header only), so no library is loaded and the hashing of small
// files costs no calls.
struct Checksum::State {
    XXH3_state_t xxh;
};

// Made on first use: every copy carries a checksum, and most are never
// verified.
Checksum::Checksum() = default;

Checksum::State& Checksum::state() const {
    if (!state_) {
        state_ = std::make_unique<State>();
        XXH3_128bits_reset(&state_->xxh);
    }
    return *state_;
}
Checksum::~Checksum() = default;
Checksum::Checksum(Checksum&&) noexcept = default;
Checksum& Checksum::operator=(Checksum&&) noexcept = default;

void Checksum::add(const void* data, std::size_t size) {
    XXH3_128bits_update(&state().xxh, data, size);
}

void Checksum::addZeros(qint64 count) {
    static const char kZeros[65536] = {};
    while (count > 0) {
        const auto n = std::size_t(std::min<qint64>(count, sizeof kZeros));
        XXH3_128bits_update(&state().xxh, kZeros, n);
        count -= qint64(n);
    }
}

Checksum::Value Checksum::value() const {
    const XXH128_hash_t h = XXH3_128bits_digest(&state().xxh);
    return {h.low64, h.high64};
}

}  // namespace zandrel::fs
