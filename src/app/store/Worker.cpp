#include "store/Worker.h"

namespace Worker {

std::atomic<int>& jobsInFlight() {
    static std::atomic<int> count{0};
    return count;
}

} // namespace Worker
