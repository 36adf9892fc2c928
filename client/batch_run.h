#pragma once

// Many checks over one connection: the pairs of a batch, each sent as soon as the socket takes
// it, the settings sent once before them.

#include <functional>

#include "client/check_result.h"
#include "client/options.h"

namespace client {

// ResultPrinter prints the result of one pair, in the order of the pairs; a null `pair` is a
// failure of the batch itself (its input cannot be opened or read).
using ResultPrinter = std::function<void(const CheckResult& result, const PairNames* pair)>;

// RunBatch checks the pairs of `options.batch` and hands each result to `print`, and returns the
// worst exit status of them all (0 for no pair). A pair whose files are in the wrong place is
// reported without being sent; once the connection fails, every pair left gets its failure
// without its files being read.
int RunBatch(const Options& options, const ResultPrinter& print);

}  // namespace client
