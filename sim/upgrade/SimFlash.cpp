#include "SimFlash.h"

#include <algorithm>
#include <iterator>

namespace qvsim {

namespace {

uint64_t _end(const std::map<uint32_t, std::vector<uint8_t>>::const_iterator& segment) {
    return uint64_t(segment->first) + segment->second.size();
}

} // namespace

void SimFlash::Write(uint32_t address, const std::vector<uint8_t>& bytes) {
    if (bytes.empty()) {
        return;
    }
    uint64_t start = address;
    uint64_t end = start + bytes.size();
    // Every segment that overlaps or touches the new bytes merges into one.
    auto first = segments_.upper_bound(address);
    if (first != segments_.begin() && _end(std::prev(first)) >= start) {
        --first;
    }
    auto last = first;
    while (last != segments_.end() && last->first <= end) {
        ++last;
    }
    if (first != last) {
        start = std::min<uint64_t>(start, first->first);
        end = std::max<uint64_t>(end, _end(std::prev(last)));
    }
    std::vector<uint8_t> merged(end - start, ERASED);
    for (auto segment = first; segment != last; ++segment) {
        std::copy(segment->second.begin(), segment->second.end(), merged.begin() + (segment->first - start));
    }
    std::copy(bytes.begin(), bytes.end(), merged.begin() + (address - start));
    segments_.erase(first, last);
    segments_.emplace(static_cast<uint32_t>(start), std::move(merged));
}

std::vector<uint8_t> SimFlash::Read(uint32_t address, uint32_t length) const {
    std::vector<uint8_t> bytes(length, ERASED);
    uint64_t end = uint64_t(address) + length;
    for (auto segment = segments_.begin(); segment != segments_.end(); ++segment) {
        uint64_t from = std::max<uint64_t>(address, segment->first);
        uint64_t to = std::min(end, _end(segment));
        if (from < to) {
            std::copy(segment->second.begin() + (from - segment->first),
                      segment->second.begin() + (to - segment->first), bytes.begin() + (from - address));
        }
    }
    return bytes;
}

size_t SimFlash::Size() const {
    size_t size = 0;
    for (const auto& [start, bytes] : segments_) {
        size += bytes.size();
    }
    return size;
}

} // namespace qvsim
