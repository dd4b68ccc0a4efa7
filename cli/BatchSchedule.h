#pragma once

#include "cli/BatchFile.h"

#include <vector>

// Which waiting rows may start now, in the order of the file: as many as the
// free places allow, never two with the same datagram key at once.
[[nodiscard]] std::vector<int> startable(const std::vector<BatchRow>& rows, const std::vector<int>& waiting,
                                         const std::vector<int>& running, int jobs);
