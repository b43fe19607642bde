// A SHA-256 of a stream that can run on a thread of its own, so that a large
// download is hashed on a spare core while the caller goes on receiving and
// writing. One owner thread calls Update for every piece in order, then
// HexDigest once; the hashing thread is the object's own and ends with it.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "util/crypto.h"

class CSha256Pipe {
public:
    // Without bOwnThread (or when no thread can be made) Update hashes at once.
    explicit CSha256Pipe(bool bOwnThread);
    ~CSha256Pipe();
    CSha256Pipe(const CSha256Pipe&) = delete;
    CSha256Pipe& operator=(const CSha256Pipe&) = delete;

    void Update(const void* pData, size_t nSize);
    // Waits for the thread to hash what is queued; 64 lowercase hex digits.
    std::string HexDigest();

private:
    void Run();
    void Queue(std::vector<char>&& block);
    void Stop();

    CSha256 m_sha;  // the thread's alone while it runs
    std::vector<char> m_current;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::deque<std::vector<char>> m_queue;   // full blocks, oldest first
    std::vector<std::vector<char>> m_spare;  // hashed blocks to fill again
    bool m_bClosed = false;
    std::thread m_thread;
};
