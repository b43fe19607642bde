#include "util/sha256_pipe.h"

#include <cstring>
#include <system_error>

namespace {

constexpr size_t kBlockBytes = 1 << 20;
// Blocks waiting for the thread before Update waits: bounds the memory.
constexpr size_t kMaxQueuedBlocks = 4;
// Blocks kept for the next pipe: fresh memory for every file would cost a
// page fault per 4 KiB hashed.
constexpr size_t kMaxPooledBlocks = kMaxQueuedBlocks + 2;

std::mutex g_poolMutex;
std::vector<std::vector<char>> g_pool;

std::vector<char> TakeBlock() {
    std::vector<char> block;
    {
        std::lock_guard<std::mutex> lock(g_poolMutex);
        if (!g_pool.empty()) {
            block = std::move(g_pool.back());
            g_pool.pop_back();
        }
    }
    block.clear();
    block.reserve(kBlockBytes);
    return block;
}

void GiveBlock(std::vector<char>&& block) {
    std::lock_guard<std::mutex> lock(g_poolMutex);
    if (g_pool.size() < kMaxPooledBlocks && block.capacity() >= kBlockBytes)
        g_pool.push_back(std::move(block));
}

}  // namespace

CSha256Pipe::CSha256Pipe(bool bOwnThread) {
    if (!bOwnThread)
        return;
    try {
        m_thread = std::thread([this] { Run(); });
        m_current = TakeBlock();
    } catch (const std::system_error&) {
        // No thread: hash on the caller's.
    }
}

CSha256Pipe::~CSha256Pipe() {
    Stop();
    GiveBlock(std::move(m_current));
    for (std::vector<char>& block : m_spare)
        GiveBlock(std::move(block));
}

void CSha256Pipe::Update(const void* pData, size_t nSize) {
    if (!m_thread.joinable()) {
        m_sha.Update(pData, nSize);
        return;
    }
    const char* p = static_cast<const char*>(pData);
    while (nSize > 0) {
        size_t nTake = std::min(nSize, kBlockBytes - m_current.size());
        m_current.insert(m_current.end(), p, p + nTake);
        p += nTake;
        nSize -= nTake;
        if (m_current.size() == kBlockBytes)
            Queue(std::move(m_current));
    }
}

void CSha256Pipe::Queue(std::vector<char>&& block) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_cv.wait(lock, [this] { return m_queue.size() < kMaxQueuedBlocks; });
    m_queue.push_back(std::move(block));
    if (!m_spare.empty()) {
        m_current = std::move(m_spare.back());
        m_spare.pop_back();
        m_current.clear();
    } else {
        lock.unlock();
        m_current = TakeBlock();
    }
    m_cv.notify_all();
}

void CSha256Pipe::Run() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_cv.wait(lock, [this] { return !m_queue.empty() || m_bClosed; });
        if (m_queue.empty())
            return;
        std::vector<char> block = std::move(m_queue.front());
        m_queue.pop_front();
        lock.unlock();
        m_sha.Update(block.data(), block.size());
        lock.lock();
        m_spare.push_back(std::move(block));
        m_cv.notify_all();
    }
}

void CSha256Pipe::Stop() {
    if (!m_thread.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bClosed = true;
    }
    m_cv.notify_all();
    m_thread.join();
}

std::string CSha256Pipe::HexDigest() {
    if (m_thread.joinable() && !m_current.empty())
        Queue(std::move(m_current));
    Stop();
    return m_sha.HexDigest();
}
