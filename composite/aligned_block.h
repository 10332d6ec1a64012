// An owned block of bytes aligned to 64 bytes (so to the 16 the copy and the
// resampler's blocks need, and to a cache line). Move-only.
#pragma once

#include <cstddef>
#include <cstdint>

namespace horavel {

// Blocks larger than this are refused as if the allocation had failed; it
// keeps absurd sizes (huge thousandths, hostile frame sizes) from reaching
// the allocator and from overflowing 32-bit offsets.
inline constexpr size_t kMaxBlockBytes = size_t{512} << 20;

class AlignedBlock {
public:
    AlignedBlock() = default;
    ~AlignedBlock() { Release(); }
    AlignedBlock(AlignedBlock&& other) noexcept;
    AlignedBlock& operator=(AlignedBlock&& other) noexcept;
    AlignedBlock(const AlignedBlock&) = delete;
    AlignedBlock& operator=(const AlignedBlock&) = delete;

    // Releases the old block first, then allocates `bytes` (contents
    // undefined). On failure the block is empty and false is returned.
    bool Allocate(size_t bytes);
    void Release();

    uint8_t* data() const { return data_; }
    explicit operator bool() const { return data_ != nullptr; }

private:
    uint8_t* data_ = nullptr;
};

} // namespace horavel
