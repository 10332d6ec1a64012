#include "composite/aligned_block.h"

#include <cstdlib>

#ifdef _WIN32
#include <malloc.h>
#endif

namespace horavel {

namespace {

// 64-byte alignment: the 16 the kernels rely on, and a cache line. The block
// is exactly `bytes` long as the allocator sees it, so that a sanitizer
// catches any access past its end.
constexpr size_t kAlignment = 64;

void* AllocateAligned(size_t bytes)
{
    if (bytes == 0)
        bytes = 1;
#ifdef _WIN32
    return _aligned_malloc(bytes, kAlignment);
#else
    void* p = nullptr;
    return posix_memalign(&p, kAlignment, bytes) == 0 ? p : nullptr;
#endif
}

void FreeAligned(void* p)
{
#ifdef _WIN32
    _aligned_free(p);
#else
    std::free(p);
#endif
}

} // namespace

AlignedBlock::AlignedBlock(AlignedBlock&& other) noexcept : data_(other.data_)
{
    other.data_ = nullptr;
}

AlignedBlock& AlignedBlock::operator=(AlignedBlock&& other) noexcept
{
    if (this != &other) {
        Release();
        data_ = other.data_;
        other.data_ = nullptr;
    }
    return *this;
}

bool AlignedBlock::Allocate(size_t bytes)
{
    Release();
    if (bytes > kMaxBlockBytes)
        return false;
    data_ = static_cast<uint8_t*>(AllocateAligned(bytes));
    return data_ != nullptr;
}

void AlignedBlock::Release()
{
    if (data_)
        FreeAligned(data_);
    data_ = nullptr;
}

} // namespace horavel
