#include "ServedDevice.h"
#include "SystemClass.h"

using namespace Korvalen::Quorvanta;

namespace {

struct InformationQueries : ConnectedModule {
    // The information command answers every request with this packet instead.
    void Answer(const Bytes& reply) {
        served.device.RegisterCommand(
            73, [reply](const qvsim::SimPacket&, qvsim::SimReplies& out) { out.Add(reply); });
    }
};

} // namespace

TEST(Module, AdoptsTheAddressTheDeviceReports) {
    ServedDevice served(qvsim::SimIdentity{.moduleAddress = 6});
    Module module(2, uint8_t{0});
    ASSERT_EQ(module.setConfig(DirectConfig()), aErrNone);
    ASSERT_EQ(module.connectFromSpec(served.Spec()), aErrNone);
    EXPECT_EQ(module.getModuleAddress(), 6);
    EXPECT_EQ(module.connectFromSpec(served.Spec()), aErrBusy);

    // Without networking mode the given address stays.
    Module fixed(2, false, 0);
    fixed.setConfig(DirectConfig());
    ASSERT_EQ(fixed.connectFromSpec(served.Spec()), aErrNone);
    EXPECT_EQ(fixed.getModuleAddress(), 2);
}

TEST(Module, WithoutAnAddressAnswerTheConnectionStays) {
    ServedDevice served;
    Module module(4, uint8_t{0});
    module.setConfig(DirectConfig());
    served.device.Faults().DropNextReplies(4);
    EXPECT_EQ(module.connectFromSpec(served.Spec()), aErrNotReady);
    EXPECT_TRUE(module.isConnected());
    EXPECT_EQ(module.getModuleAddress(), 4);
    EXPECT_EQ(served.device.Record().droppedReplies, 4u) << "four attempts";

    EXPECT_EQ(module.disconnect(), aErrNone);
    EXPECT_EQ(module.reconnect(), aErrNone);
    EXPECT_EQ(module.getModuleAddress(), 2);
}

TEST(Module, ConnectAndQueriesNeedWhatTheyNeed) {
    Module module(2, uint8_t{0});
    EXPECT_EQ(module.connect(USB, 0), aErrParam) << "no discovery without a serial number";
    EXPECT_EQ(module.getStatus(), LINK_PACKET_ERROR);
    uint32_t build = 0;
    uint8_t count = 9;
    EXPECT_EQ(module.getBuild(&build), aErrConnection);
    EXPECT_EQ(module.getBuild(nullptr), aErrParam);
    EXPECT_EQ(module.hasUEI(3, 1, 0, 0x40), aErrConnection);
    EXPECT_EQ(module.classQuantity(3, &count), aErrConnection);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(module.debug(nullptr, 0), aErrConnection);
    EXPECT_EQ(module.enablePacketLog("/dev/null"), aErrConfiguration);
    aEtherConfig config;
    EXPECT_EQ(module.getConfig(nullptr), aErrParam);
    EXPECT_EQ(module.getConfig(&config), aErrNone);
}

TEST_F(InformationQueries, BuildUEIsAndInventory) {
    served.device.SetIdentity(qvsim::SimIdentity{.build = 99511694});
    uint32_t build = 0;
    EXPECT_EQ(module.getBuild(&build), aErrNone);
    EXPECT_EQ(build, 99511694u);

    EXPECT_EQ(module.hasUEI(3, SystemClass::OPTION_NAME, 0, 0x80), aErrNone);
    EXPECT_EQ(module.hasUEI(3, SystemClass::OPTION_NAME, 0, 0), aErrNone);
    EXPECT_EQ(module.hasUEI(3, SystemClass::OPTION_VERSION, 0, 0x80), aErrInvalidOption) << "read-only";
    EXPECT_EQ(module.hasUEI(3, 5, 0, 0x40), aErrInvalidOption);
    EXPECT_EQ(module.hasUEI(95, 10, 0, 0x80), aErrInvalidEntity) << "no upgrade entity";
    for (uint8_t flags : {0xC0, 0x01, 0x20}) {
        EXPECT_EQ(module.hasUEI(3, 1, 0, flags), aErrParam) << int(flags);
    }

    served.entities.info->SetSubclassQuantity(3, 0, 7);
    served.entities.info->SetEntityGroup(3, 0, 2);
    uint8_t answer = 0;
    EXPECT_EQ(module.classQuantity(3, &answer), aErrNone);
    EXPECT_EQ(answer, 1);
    EXPECT_EQ(module.subClassQuantity(3, 0, &answer), aErrNone);
    EXPECT_EQ(answer, 7);
    EXPECT_EQ(module.entityGroup(3, 0, &answer), aErrNone);
    EXPECT_EQ(answer, 2);
    EXPECT_EQ(module.classQuantity(8, &answer), aErrNone);
    EXPECT_EQ(answer, 0);
}

TEST_F(InformationQueries, RepliesOfTheWrongShape) {
    const struct {
        const char* what;
        Bytes reply;
        aErr build;
        aErr uei;
        aErr quantity;
    } cases[] = {
        {"build", {73, 0xFF, 0x05, 0xEE, 0x6D, 0x8E}, aErrNone, aErrUnknown, aErrUnknown},
        {"short build", {73, 0xFF, 0x05, 0xEE, 0x6D}, aErrSize, aErrUnknown, aErrUnknown},
        {"UEI answer for another option", {73, 1, 3, 2, 0, 0}, aErrTimeout, aErrUnknown, aErrUnknown},
        {"UEI answer", {73, 1, 3, 1, 0, 29}, aErrTimeout, aErrInvalidOption, aErrUnknown},
        {"quantity of another class", {73, 4, 8, 1}, aErrTimeout, aErrUnknown, aErrUnknown},
        {"quantity", {73, 4, 3, 5}, aErrTimeout, aErrUnknown, aErrNone},
    };
    for (const auto& c : cases) {
        // Queries take any information reply; a fresh connection leaves none of the last case's behind.
        ASSERT_EQ(module.disconnect(), aErrNone);
        ASSERT_EQ(module.reconnect(), aErrNone);
        Answer(c.reply);
        uint32_t build = 0;
        uint8_t count = 0;
        EXPECT_EQ(module.getBuild(&build), c.build) << c.what;
        EXPECT_EQ(module.hasUEI(3, 1, 0, 0x40), c.uei) << c.what;
        EXPECT_EQ(module.classQuantity(3, &count), c.quantity) << c.what;
        if (c.build == aErrNone) {
            EXPECT_EQ(build, 99511694u);
        }
    }
}

TEST_F(ConnectedModule, EchoComesBackUnchanged) {
    const uint8_t bytes[] = {1, 2, 3};
    EXPECT_EQ(module.debug(bytes, 3), aErrNone);
    EXPECT_EQ(module.debug(bytes, 0), aErrNone);
    Bytes full(27, 0x5A);
    EXPECT_EQ(module.debug(full.data(), 27), aErrNone);
    EXPECT_EQ(module.debug(Bytes(28, 0).data(), 28), aErrParam);

    served.device.RegisterCommand(23, [](const qvsim::SimPacket& request, qvsim::SimReplies& out) {
        Bytes reply = request.Data();
        reply.back() ^= 1;
        out.Add(reply);
    });
    EXPECT_EQ(module.debug(bytes, 3), aErrIO);
}
