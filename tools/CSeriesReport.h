#pragma once

#include "CReplayOptions.h"

#include <string>

// tallyview-replay --series: a field's values over journal files as CSV. Throws
// std::runtime_error with the reason on a fields file, name or journal it cannot use.
class CSeriesReport {
public:
    static std::string Run(const CReplayOptions& options);
};
