#include "Log.h"
#include "UpdateServerRequest.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Strings = std::vector<std::string>;

TEST(BuildVersionTest, SplitsOnlyThreePartVersions) {
    struct Case {
        std::string text;
        Strings parts;
    };
    const std::vector<Case> cases = {
        {"1.2.3", {"1", "2", "3"}},
        {"1..3", {"1", "", "3"}},
        {"a.b.c", {"a", "b", "c"}},
        {"1.2", {}},
        {"1.2.3.4", {}},
        {"", {}},
        {"..", {"", "", ""}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(UpdateServerRequest::SplitQuorvantaVersion(c.text), c.parts) << c.text;
}

Strings _sorted_builds(const UpdateServerRequest::BuildList& builds) {
    Strings order;
    for (const auto& [build, version] : UpdateServerRequest::SortBuildsByVersion(builds))
        order.push_back(build + "=" + version);
    return order;
}

TEST(BuildVersionTest, SortsHighestVersionFirst) {
    struct Case {
        UpdateServerRequest::BuildList builds;
        Strings order;
    };
    const std::vector<Case> cases = {
        {{{"1", "1.2.3"}, {"2", "1.10.0"}, {"3", "2.0.0"}}, {"3=2.0.0", "2=1.10.0", "1=1.2.3"}},
        // Parts count by their low 8 bits: 1.256.0 is 1.0.0.
        {{{"a", "1.256.0"}, {"b", "1.1.0"}}, {"b=1.1.0", "a=1.256.0"}},
        {{{"a", "1.2.3"}, {"b", " +1.2.4"}}, {"b= +1.2.4", "a=1.2.3"}},
        // Versions that are not three numbers go last, in build order, whatever their place.
        {{{"1", "x.y.z"}, {"2", "1.0.0"}, {"3", ""}, {"4", "9.9"}, {"5", "3.0.0"}, {"6", "1.x.0"}},
         {"5=3.0.0", "2=1.0.0", "1=x.y.z", "3=", "4=9.9", "6=1.x.0"}},
        {{}, {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(_sorted_builds(c.builds), c.order);
}

// Sorting with an order that is not strict and weak may run off its range; with many unreadable
// versions among readable ones the result must still be a permutation with the unreadable last.
TEST(BuildVersionTest, SortKeepsEveryBuildWhenManyVersionsAreUnreadable) {
    UpdateServerRequest::BuildList builds;
    for (int i = 0; i < 200; i++)
        builds[std::to_string(1000 + i)] = i % 3 == 0 ? "bad" : "1." + std::to_string(i % 7) + ".0";
    UpdateServerRequest::SortedBuilds sorted = UpdateServerRequest::SortBuildsByVersion(builds);
    ASSERT_EQ(sorted.size(), builds.size());
    EXPECT_EQ(sorted.front().second, "1.6.0");
    EXPECT_EQ(sorted.back().second, "bad");
    for (size_t i = 1; i < sorted.size(); i++)
        EXPECT_FALSE(sorted[i - 1].second == "bad" && sorted[i].second != "bad");
}

TEST(BuildVersionTest, LogsVersionsThatAreNotNumbers) {
    FILE* capture = tmpfile();
    Log::SetOutput(capture);
    Log::ActivatePackage(DEBUG_ServerComm);
    UpdateServerRequest::SortBuildsByVersion({{"1", "1.x.0"}, {"2", "1.0.0"}});
    Log::DeactivatePackage(DEBUG_ServerComm);
    Log::SetOutput(nullptr);
    char line[256] = {};
    rewind(capture);
    ASSERT_NE(fgets(line, sizeof(line), capture), nullptr);
    fclose(capture);
    EXPECT_EQ(std::string(line), "_sortVersion: Exception converting version: stoi\n");
}

} // namespace
