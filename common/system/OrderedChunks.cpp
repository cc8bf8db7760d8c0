#include "OrderedChunks.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

int OrderedChunks::Workers(int threads, size_t chunks) {
    return static_cast<int>(std::max<size_t>(1, std::min<size_t>(static_cast<size_t>(std::max(threads, 1)), chunks)));
}

bool OrderedChunks::Run(int threads, size_t chunks, size_t window,
                        const std::function<void(size_t chunk, int worker)>& work,
                        const std::function<bool(size_t chunk)>& finished) {
    if (threads <= 1 || chunks <= 1) {
        for (size_t chunk = 0; chunk < chunks; ++chunk) {
            work(chunk, 0);
            if (!finished(chunk)) {
                return false;
            }
        }
        return true;
    }

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<char> done(chunks, 0);
    size_t next = 0;         // next chunk to hand out
    size_t reported = 0;     // chunks passed to finished, in order
    bool stopping = false;
    std::exception_ptr failure;  // the first exception a worker met, raised again here
    const size_t ahead = std::max<size_t>(window, 1);

    auto worker = [&](int index) {
        std::unique_lock<std::mutex> lock(mutex);
        while (true) {
            changed.wait(lock, [&] { return stopping || next >= chunks || next < reported + ahead; });
            if (stopping || next >= chunks) {
                return;
            }
            const size_t chunk = next++;
            lock.unlock();
            try {
                work(chunk, index);
            } catch (...) {
                lock.lock();
                if (!failure) {
                    failure = std::current_exception();
                }
                stopping = true;
                changed.notify_all();
                return;
            }
            lock.lock();
            done[chunk] = 1;
            changed.notify_all();
        }
    };

    const int count = Workers(threads, chunks);
    std::vector<std::thread> pool;
    pool.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        pool.emplace_back(worker, i);
    }

    bool completed = true;
    {
        std::unique_lock<std::mutex> lock(mutex);
        while (reported < chunks) {
            changed.wait(lock, [&] { return failure || done[reported] != 0; });
            if (failure) {
                break;
            }
            // Finished chunks are reported without the lock, so that workers go on meanwhile.
            const size_t chunk = reported;
            lock.unlock();
            const bool goOn = finished(chunk);
            lock.lock();
            ++reported;
            changed.notify_all();
            if (!goOn) {
                stopping = true;
                completed = false;
                changed.notify_all();
                break;
            }
        }
    }
    for (std::thread& thread : pool) {
        thread.join();
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
    return completed;
}
