// parallelrun.cpp                                                -*-C++-*-
#include "simulation/parallelrun.h"

#include "base/messagesink.h"
#include "base/threads.h"
#include "simulation/fibonaccijump.h"

#include <algorithm>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

namespace psex {

namespace {

// The messages of one data set, as its thread collected them.
struct DataSetMessages {
    std::uint64_t dataSet; // index within its chunk
    std::string output;    // lines, each ended by '\n'
    std::string error;
};

struct Chunk {
    bool finished = false;
    std::vector<DataSetMessages> messages; // only data sets that wrote some
};

// Write every line of the specified 'text' to the specified channel of
// 'messages'.
void writeLines(const std::string& text, MessageSink& messages, bool error) {
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        const std::string line = text.substr(start, end - start);
        if (error) {
            messages.error(line);
        } else {
            messages.output(line);
        }
        start = end == std::string::npos ? text.size() : end + 1;
    }
}

class Schedule {
    // The chunks of one run: which are taken, which finished, and the
    // messages waiting to be passed on.  Shared by all threads.

    // DATA
    const LaggedFibonacci607 d_start; // the generator where the run starts
    const std::uint64_t d_count;
    const std::uint64_t d_drawsEach;
    const std::uint64_t d_chunkSize; // data sets per chunk
    const std::uint64_t d_chunks;
    const std::uint64_t d_window; // chunks that may be taken beyond the oldest unreported
    const DataSetTaskFactory& d_makeTask;
    std::mutex d_mutex;
    std::condition_variable d_changed;
    std::uint64_t d_nextChunk = 0; // the next chunk to be taken
    std::uint64_t d_reported = 0;  // chunks whose messages are passed on
    std::vector<Chunk> d_ring;     // chunk c at c % d_window
    bool d_stopped = false;        // a thread failed: no more chunks are taken

  public:
    Schedule(const LaggedFibonacci607& start, std::uint64_t count, std::uint64_t drawsEach,
             std::uint64_t chunkSize, unsigned threads, const DataSetTaskFactory& makeTask)
        : d_start(start), d_count(count), d_drawsEach(drawsEach), d_chunkSize(chunkSize),
          d_chunks((count + chunkSize - 1) / chunkSize), d_window(4 * std::uint64_t(threads)),
          d_makeTask(makeTask), d_ring(static_cast<std::size_t>(d_window)) {}

    std::uint64_t chunks() const { return d_chunks; }

    // Simulate chunks on the calling thread until none is left, or until the
    // run is stopped.  The main thread ('thread' 0) also passes on finished
    // chunks between its own and, at the end, waits for the others' and
    // passes them on.
    void work(unsigned thread, MessageSink& messages, const SimulationProgress& progress) {
        const bool main = thread == 0;
        const DataSetTask task = d_makeTask(thread);
        LaggedFibonacci607 draws = d_start;
        FibonacciJumps jumps;
        std::uint64_t position = 0; // draws since the start of the run
        std::ostringstream output;
        std::ostringstream error;
        MessageSink collected(output, error);
        for (;;) {
            std::uint64_t chunk;
            {
                std::unique_lock<std::mutex> lock(d_mutex);
                if (main) {
                    report(lock, messages, progress);
                }
                d_changed.wait(lock, [&] {
                    return d_stopped || d_nextChunk >= d_chunks ||
                           d_nextChunk < d_reported + d_window ||
                           (main && d_ring[index(d_reported)].finished);
                });
                if (d_stopped || d_nextChunk >= d_chunks) {
                    break;
                }
                if (d_nextChunk >= d_reported + d_window) {
                    continue; // the main thread has chunks to pass on first
                }
                chunk = d_nextChunk++;
            }
            const std::uint64_t first = chunk * d_chunkSize;
            const std::uint64_t end = std::min(first + d_chunkSize, d_count);
            draws.discard(first * d_drawsEach - position, &jumps);
            std::vector<DataSetMessages> written;
            for (std::uint64_t r = first; r < end; ++r) {
                task(draws, collected);
                if (output.tellp() > 0 || error.tellp() > 0) {
                    written.push_back({r - first, output.str(), error.str()});
                    output.str("");
                    error.str("");
                }
            }
            position = end * d_drawsEach;
            {
                std::lock_guard<std::mutex> lock(d_mutex);
                Chunk& slot = d_ring[index(chunk)];
                slot.finished = true;
                slot.messages = std::move(written);
            }
            d_changed.notify_all();
        }
        if (main) {
            std::unique_lock<std::mutex> lock(d_mutex);
            while (d_reported < d_chunks && !d_stopped) {
                d_changed.wait(lock,
                               [&] { return d_stopped || d_ring[index(d_reported)].finished; });
                report(lock, messages, progress);
            }
        }
    }

    // Stop the run: no more chunks are taken, and a main thread waiting for
    // a chunk to finish goes on (a thread has failed).
    void stop() {
        {
            std::lock_guard<std::mutex> lock(d_mutex);
            d_stopped = true;
        }
        d_changed.notify_all();
    }

  private:
    std::size_t index(std::uint64_t chunk) const {
        return static_cast<std::size_t>(chunk % d_window);
    }

    // Pass on the messages of the finished chunks that follow the last one
    // passed on, in order, and tell 'progress' after each data set.  The
    // lock is released while writing.
    void report(std::unique_lock<std::mutex>& lock, MessageSink& messages,
                const SimulationProgress& progress) {
        while (d_reported < d_chunks && d_ring[index(d_reported)].finished) {
            Chunk& slot = d_ring[index(d_reported)];
            std::vector<DataSetMessages> written = std::move(slot.messages);
            slot = Chunk();
            const std::uint64_t first = d_reported * d_chunkSize;
            const std::uint64_t end = std::min(first + d_chunkSize, d_count);
            lock.unlock();
            auto next = written.begin();
            for (std::uint64_t r = first; r < end; ++r) {
                if (next != written.end() && next->dataSet == r - first) {
                    writeLines(next->output, messages, false);
                    writeLines(next->error, messages, true);
                    ++next;
                }
                if (progress) {
                    progress(r + 1, d_count);
                }
            }
            lock.lock();
            ++d_reported;
            d_changed.notify_all();
        }
    }
};

} // namespace

void runDataSets(std::uint64_t count, std::uint64_t drawsEach, LaggedFibonacci607& generator,
                 unsigned threads, const DataSetTaskFactory& makeTask, MessageSink& messages,
                 const SimulationProgress& progress) {
    threads = threadCountOrDefault(threads);
    // Chunks of about k_drawsPerChunk draws, at least four per thread.
    const std::uint64_t perThread = (count + 4 * std::uint64_t(threads) - 1) /
                                    std::max<std::uint64_t>(4 * std::uint64_t(threads), 1);
    const std::uint64_t bySize =
        drawsEach == 0 ? count : (k_drawsPerChunk + drawsEach - 1) / drawsEach;
    const std::uint64_t chunkSize = std::max<std::uint64_t>(1, std::min(bySize, perThread));
    const bool fits =
        drawsEach == 0 || count <= std::numeric_limits<std::uint64_t>::max() / drawsEach;
    const std::uint64_t chunks = count == 0 ? 0 : (count + chunkSize - 1) / chunkSize;

    if (threads < 2 || chunks < 2 || !fits || !generator.isExact()) {
        const DataSetTask task = makeTask(0);
        for (std::uint64_t r = 0; r < count; ++r) {
            task(generator, messages);
            if (progress) {
                progress(r + 1, count);
            }
        }
        return;
    }

    const unsigned used = static_cast<unsigned>(std::min<std::uint64_t>(threads, chunks));
    Schedule schedule(generator, count, drawsEach, chunkSize, used, makeTask);
    const SimulationProgress silent; // the progress is told on the calling thread only
    runOnThreads(
        used,
        [&](unsigned thread) { schedule.work(thread, messages, thread == 0 ? progress : silent); },
        [&] { schedule.stop(); });
    generator.discard(count * drawsEach);
}

} // namespace psex
