// main() of the test executables whose cases multicast or discover. Each run of such an executable
// happens inside a private network namespace made by scripts/in-netns: unless the process already sits
// in one, it re-executes itself through the rig. Listing the cases runs no test code and stays put.

#include "NetnsRig.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <net/if.h>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

bool _listing(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--gtest_list_tests", 18) == 0) {
            return true;
        }
    }
    return false;
}

bool _in_rig_namespace() {
    struct if_nameindex* interfaces = if_nameindex();
    if (interfaces == nullptr) {
        return false;
    }
    std::set<std::string> names;
    for (struct if_nameindex* entry = interfaces; entry->if_index != 0; ++entry) {
        names.insert(entry->if_name);
    }
    if_freenameindex(interfaces);
    return names == std::set<std::string>{"lo", qvtest::NETNS_LINK, qvtest::NETNS_PEER};
}

int _reexecute_in_rig(int argc, char** argv) {
    char self[PATH_MAX] = {};
    if (readlink("/proc/self/exe", self, sizeof(self) - 1) < 0) {
        std::fprintf(stderr, "cannot find this executable: %s\n", std::strerror(errno));
        return 1;
    }
    std::vector<char*> arguments{const_cast<char*>(QV_NETNS_RIG), self};
    arguments.insert(arguments.end(), argv + 1, argv + argc);
    arguments.push_back(nullptr);
    execv(QV_NETNS_RIG, arguments.data());
    std::fprintf(stderr, "cannot run %s: %s\n", QV_NETNS_RIG, std::strerror(errno));
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    if (!_listing(argc, argv) && !_in_rig_namespace()) {
        return _reexecute_in_rig(argc, argv);
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
