#include "data/BlockPool.h"

#include <cstdint>
#include <cstring>
#include <limits>
#include <mutex>
#include <vector>
#include <sys/mman.h>

#if defined(__SANITIZE_ADDRESS__)
#define TESSALY_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TESSALY_ADDRESS_SANITIZER 1
#endif
#endif

namespace blockpool {

namespace {

#if defined(TESSALY_ADDRESS_SANITIZER)
constexpr std::size_t kMapThreshold = std::size_t(256) << 20;
#else
constexpr std::size_t kMapThreshold = 128u << 10;
#endif
constexpr std::size_t kPage = 4u << 10;
constexpr std::size_t kHugePage = 2u << 20;
constexpr std::size_t kPoolBytes = std::size_t(1) << 30;
constexpr std::size_t kPoolBlocks = 12;

std::size_t mappingUnit(std::size_t bytes)
{
    return bytes >= kHugePage / 2 ? kHugePage : kPage;
}

class Pool
{
public:
    // The most recently kept first: it is the one most likely still in cache.
    void *take(std::size_t bytes, std::size_t &capacity, bool zeroed)
    {
        std::lock_guard<std::mutex> lock(mMutex);
        for (std::size_t i = mBlocks.size(); i-- > 0;) {
            const Kept k = mBlocks[i];
            if (k.capacity >= bytes && k.capacity <= bytes + bytes / 2 + mappingUnit(bytes)) {
                mBlocks.erase(mBlocks.begin() + static_cast<long>(i));
                mTotal -= k.capacity;
                capacity = k.capacity;
                if (zeroed)
                    std::memset(k.data, 0, bytes);
                return k.data;
            }
        }
        return nullptr;
    }

    void give(void *data, std::size_t capacity)
    {
        std::lock_guard<std::mutex> lock(mMutex);
        if (capacity > kPoolBytes) {
            munmap(data, capacity);
            return;
        }
        mBlocks.push_back({data, capacity});
        mTotal += capacity;
        while (mTotal > kPoolBytes || mBlocks.size() > kPoolBlocks) {
            munmap(mBlocks.front().data, mBlocks.front().capacity);
            mTotal -= mBlocks.front().capacity;
            mBlocks.erase(mBlocks.begin());
        }
    }

private:
    struct Kept
    {
        void *data;
        std::size_t capacity;
    };
    std::mutex mMutex;
    std::vector<Kept> mBlocks;
    std::size_t mTotal = 0;
};

Pool &pool()
{
    static Pool *p = new Pool; // never destroyed: blocks may be released at exit
    return *p;
}

} // namespace

bool mapped(std::size_t bytes)
{
    return bytes >= kMapThreshold;
}

void *acquire(std::size_t bytes, bool zeroed, std::size_t &capacity)
{
    if (void *p = pool().take(bytes, capacity, zeroed))
        return p;
    if (bytes > std::numeric_limits<std::size_t>::max() - kHugePage)
        return nullptr;
    const std::size_t unit = mappingUnit(bytes);
    capacity = (bytes + unit - 1) / unit * unit;
    void *p = mmap(nullptr, capacity, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED)
        return nullptr;
    if (unit == kHugePage)
        madvise(p, capacity, MADV_HUGEPAGE);
    return p;
}

void release(void *data, std::size_t capacity)
{
    pool().give(data, capacity);
}

void discard(void *data, std::size_t bytes)
{
    const auto from = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t first = (from + kPage - 1) / kPage * kPage, end = (from + bytes) / kPage * kPage;
    if (first < end)
        madvise(reinterpret_cast<void *>(first), end - first, MADV_DONTNEED);
}

} // namespace blockpool
