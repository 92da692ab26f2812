#include "widgets/progressbar.h"

#include <cstdint>

namespace {

// Keeps the low 32 bits, as the bar's int range takes them.
int lowBits(qint64 value)
{
    return static_cast<int>(static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(value))));
}

} // namespace

void progressBar::setProgress(qint64 bytesR, qint64 bytesT)
{
    // The maximum goes first, so the next file's larger total never makes
    // its first value fall outside the range.
    setMaximum(lowBits(bytesT));
    setValue(lowBits(bytesR));
}
