#include "app/setting_rules.h"

namespace {

constexpr uint32_t kThreadRows[kThreadRowCount] = {0, 1, 2, 4, 8, 16, 32};

}  // namespace

uint32_t ClampSetting(uint32_t stored, uint32_t max) {
    if (max == 1) return stored != 0 ? 1 : 0;
    return stored > max ? max : stored;
}

uint32_t ThreadsOfRow(int row) {
    if (row < 0) row = 0;
    if (row >= kThreadRowCount) row = kThreadRowCount - 1;
    return kThreadRows[row];
}

int RowOfThreads(uint32_t threads) {
    if (threads == 0) return 0;
    int best = 1;
    for (int row = 1; row < kThreadRowCount; ++row) {
        const uint32_t value = kThreadRows[row];
        const uint32_t distance = value > threads ? value - threads : threads - value;
        const uint32_t bestValue = kThreadRows[best];
        const uint32_t bestDistance = bestValue > threads ? bestValue - threads : threads - bestValue;
        if (distance <= bestDistance) best = row;
    }
    return best;
}
