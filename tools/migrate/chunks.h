// Rows are read, worked on and written a chunk at a time, by migrate and by
// scan alike: a chunk is the unit of a worker's crypto and of one multi-row
// write, and with the chunks in flight (SlotsFor in values/parallel.h) what
// bounds a run's memory, whatever the size of the table.
//
// Elsewhere other units have names of their own: rows per statement (a
// backend's multi-row UPDATE or read-back), rows per page (a cursor that
// does not survive a commit), bytes per piece (an ODBC value read in parts).
#ifndef TARVOLA_TOOLS_MIGRATE_CHUNKS_H
#define TARVOLA_TOOLS_MIGRATE_CHUNKS_H

#include <atomic>
#include <cstddef>
#include <vector>

#include "migrate/db/database.h"

namespace tarvola::tool {

inline constexpr std::size_t kChunkRows = 1000;

// The rows of one chunk and what a worker made of each. The buffers are
// reused from chunk to chunk, so a run allocates nothing per row.
template <class Result>
struct Chunk {
    std::vector<db::Row> rows = std::vector<db::Row>(kChunkRows);
    std::vector<Result> results = std::vector<Result>(kChunkRows);
    std::size_t count = 0;

    // Reads the next rows from `next` (a cursor's, or the records of
    // standard input), at most `limit`; false when there were none left.
    template <class Next>
    bool Fill(const Next& next, std::size_t limit = kChunkRows) {
        count = 0;
        while (count < limit && next(rows[count])) ++count;
        return count != 0;
    }

    // Sets each row's result to `work` of it, giving up early once `stop`
    // is set (the run is stopping, and the results will not be used).
    template <class Work>
    void Map(const Work& work, const std::atomic<bool>& stop) {
        for (std::size_t i = 0; i < count && !stop.load(std::memory_order_relaxed); ++i)
            results[i] = work(rows[i]);
    }
};

}  // namespace tarvola::tool

#endif  // TARVOLA_TOOLS_MIGRATE_CHUNKS_H
