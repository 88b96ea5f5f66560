#include "SimUpgradeOptions.h"
#include "SimEntities.h"

#include <gtest/gtest.h>

using namespace qvsim;
using Bytes = std::vector<uint8_t>;

TEST(SimUpgradeOptions, ParsesItemsAndRefusesOthers) {
    SimUpgradeOptions options =
        SimUpgradeOptions::Parse("block=256,start=silent,reboot=keep,uei,pooled,wrong-sum=2,short-ack,silent="
                                 "load:1,silent=sum,firmware-only,"
                                 "report-serial=CAFE0001,report-model=4");
    EXPECT_EQ(options.settings.blockSize, 256);
    EXPECT_EQ(options.settings.start, SimLoaderStart::Silent);
    EXPECT_FALSE(options.settings.rebootDrops);
    EXPECT_TRUE(options.settings.ueiData);
    EXPECT_TRUE(options.pooled);
    EXPECT_EQ(options.faults.wrongSums, 2u);
    EXPECT_EQ(options.faults.shortAcks, SimUpgradeFaults::ALWAYS);
    EXPECT_EQ(options.faults.silent, (std::map<uint8_t, unsigned>{{2, 1}, {4, SimUpgradeFaults::ALWAYS}}));
    EXPECT_TRUE(options.faults.firmwareOnly);
    EXPECT_EQ(options.reportSerial, 0xCAFE0001u);
    EXPECT_EQ(options.reportModel, 4);
    EXPECT_EQ(SimUpgradeOptions::Parse("on").settings.blockSize, SimUpgradeSettings{}.blockSize);

    for (const char* bad : {"", "off", "block", "block=70000", "start=later", "reboot=maybe", "silent=jump",
                            "wrong-sum=x", "uei=1", "report-serial=XYZ"}) {
        EXPECT_THROW(SimUpgradeOptions::Parse(bad), std::invalid_argument) << bad;
    }
}

TEST(SimUpgradeOptions, InstallsPooledFeatureAndDisguise) {
    SimModule module(SimIdentity{});
    SimEntities entities = SimEntities::Install(module);
    SimUpgradeOptions::Parse("pooled,report-serial=CAFE0001,report-model=4").Install(module, entities);
    auto ask = [&](const Bytes& data) {
        SimReplies replies(module.Address());
        module.Dispatch(SimPacket::Make(module.Address(), data), replies);
        return replies.Packets().at(0).Data();
    };
    EXPECT_EQ(ask({3, 0x49, 0x20}), (Bytes{3, 9, 0, 0xCA, 0xFE, 0x00, 0x01}));
    EXPECT_EQ(ask({3, 0x48, 0x20}), (Bytes{3, 8, 0, 4}));
    EXPECT_EQ(ask({3, 0x6D, 0x20}), (Bytes{3, 45, 0, 0x80, 0, 0, 0})) << "protocol features";
    EXPECT_EQ(module.Identity().serialNumber, SimIdentity{}.serialNumber) << "the module itself is unchanged";
}
