// Prints the USB identifiers of the camera's bridges, "VVVV:PPPP" a line in ascending order:
// every pair the search may choose and every pair the presence check counts. The udev rule,
// the AppStream modaliases, the man page and the user's guide are made from this list at build
// time, so they name what the program looks for.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "discovery/discovery.h"

int main() {
    std::vector<uint32_t> pairs;
    for (const AcceptedId* list : {AcceptedIds, CameraPortIds}) {
        for (const AcceptedId* id = list; id->vendorId != 0 && id->productId != 0; ++id) {
            pairs.push_back(id->vendorId << 16 | id->productId);
        }
    }
    std::sort(pairs.begin(), pairs.end());
    pairs.erase(std::unique(pairs.begin(), pairs.end()), pairs.end());
    for (uint32_t pair : pairs) {
        if (std::printf("%04X:%04X\n", pair >> 16, pair & 0xFFFFu) < 0) {
            return 1;
        }
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}
