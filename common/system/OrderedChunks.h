#pragma once
// Work split into numbered chunks, done on several threads, finished in chunk order: workers
// take chunks in ascending order, and the calling thread is told of each chunk once it and
// every chunk before it are done, so that results can be written and progress shown exactly as
// a single thread would. With one thread everything runs on the calling thread.
//
// At most `window` chunks past the last finished one are worked on at a time, which bounds the
// memory that results waiting for their turn can take.

#include <cstddef>
#include <functional>

class OrderedChunks {
  public:
    // work(chunk, worker): fills chunk's results; worker is 0 .. threads-1, for per-worker
    // scratch. finished(chunk): on the calling thread, in ascending chunk order; returning false
    // stops the run (no further chunk is started). Returns false when finished stopped it.
    // The workers Run starts for this much work: per-worker scratch needs no more.
    static int Workers(int threads, size_t chunks);

    static bool Run(int threads, size_t chunks, size_t window,
                    const std::function<void(size_t chunk, int worker)>& work,
                    const std::function<bool(size_t chunk)>& finished);
};
