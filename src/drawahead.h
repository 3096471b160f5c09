// drawahead.h                                                    -*-C++-*-
#ifndef PSEX_DRAWAHEAD_H
#define PSEX_DRAWAHEAD_H

// Purpose: let a second processor core draw the random numbers of the
// simulation ahead of their use.
//
// The simulation's uniform draws form one sequential stream that no
// computation can shorten: it is the least the simulation costs.  Everything
// else (choosing alleles, grouping genotypes, PSex) can overlap with it.  A
// 'DrawAhead' knows in advance how many numbers will be needed, draws
// exactly that many, in order, from the generator on a thread of its own,
// and hands them out one by one.  The numbers, their order and the
// generator's final state are those of drawing directly, so no result
// depends on whether the second thread runs.

#include <boost/random/lagged_fibonacci.hpp>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace psex {

class DrawAhead {
    // Not copyable: it owns a thread that uses the generator.

    static constexpr std::size_t k_chunk = std::size_t(1) << 16; // draws per chunk
    static constexpr std::size_t k_chunks = 4;                   // chunks in the ring

    // DATA
    boost::random::lagged_fibonacci607& d_generator;
    std::uint64_t d_total;                   // numbers to draw in all
    std::vector<std::vector<double>> d_ring; // chunks, used in turn
    std::vector<std::size_t> d_filled;       // numbers in each chunk; 0 while free
    std::size_t d_current = 0;               // chunk being read
    const double* d_next = nullptr;          // next number of the current chunk
    const double* d_end = nullptr;           // end of the current chunk
    std::mutex d_mutex;
    std::condition_variable d_changed;
    std::thread d_drawer;

  public:
    // CREATORS
    DrawAhead(boost::random::lagged_fibonacci607& generator, std::uint64_t total);
    // Start drawing the specified 'total' numbers from 'generator' on a
    // thread of its own.  The generator must not be used elsewhere until
    // this object is destroyed.

    DrawAhead(const DrawAhead&) = delete;
    DrawAhead& operator=(const DrawAhead&) = delete;

    ~DrawAhead();
    // Wait until every number has been drawn (whether handed out or not).

    // MANIPULATORS
    double operator()() {
        // Return the next number of the stream.  The behaviour is undefined
        // if more than 'total' numbers are taken.
        if (d_next == d_end) {
            nextChunk();
        }
        return *d_next++;
    }

  private:
    void nextChunk();
    void draw();
};

} // namespace psex

#endif
