#include "ServedDevice.h"
#include "SimUei.h"
#include "SystemClass.h"

#include <functional>

using namespace Korvalen::Quorvanta;

namespace {

struct Entity : ConnectedModule {
    void SetUp() override {
        ConnectedModule::SetUp();
        system.init(&module, 0);
    }

    // The system entity answers every request with these packets instead.
    void Answer(std::vector<Bytes> replies) {
        served.device.RegisterCommand(3, [replies](const qvsim::SimPacket&, qvsim::SimReplies& out) {
            for (const auto& reply : replies) {
                out.Add(reply);
            }
        });
    }

    SystemClass system;
};

} // namespace

TEST_F(Entity, RequestsCarryTheFlagsAndSubindexOnTheWire) {
    uint32_t word = 0;
    ASSERT_EQ(system.getSerialNumber(&word), aErrNone);
    ASSERT_EQ(system.setUEI8(SystemClass::OPTION_LED, 1), aErrNone);
    ASSERT_EQ(system.getUEI32(SystemClass::OPTION_UNIQUE_IDENTIFIER, 2, &word), aErrNone);
    ASSERT_EQ(system.callUEI(SystemClass::OPTION_SAVE), aErrNone);
    ASSERT_EQ(system.setUEI16(SystemClass::OPTION_ROUTER, 3, 0x1234), aErrSize);
    EXPECT_EQ(served.Received(3), (std::vector<Bytes>{{3, 0x49, 0x20},
                                                      {3, 0x84, 0x20, 1},
                                                      {3, 0x67, 0x20, 2},
                                                      {3, 0x8A, 0x20},
                                                      {3, 0x82, 0x20, 3, 0x12, 0x34}}));
}

TEST_F(Entity, GetRepliesOfEveryShape) {
    const struct {
        const char* what;
        std::vector<Bytes> replies;
        aErr expected;
        uint32_t value;
    } cases[] = {
        {"32-bit value", {{3, 9, 0, 0x12, 0x34, 0x56, 0x78}}, aErrNone, 0x12345678},
        {"byte value widened", {{3, 9, 0, 7}}, aErrNone, 7},
        {"16-bit value widened", {{3, 9, 0, 1, 2}}, aErrNone, 0x0102},
        {"the device's error code", {{3, 9, 0x80, 0x12}}, aErrTimeout, 0},
        {"no value", {{3, 9, 0}}, aErrSize, 0},
        {"a length no value has", {{3, 9, 0, 1, 2, 3}}, aErrSize, 0},
        {"another index only", {{3, 9, 1, 0, 0, 0, 1}}, aErrTimeout, 0},
        {"another option only", {{3, 8, 0, 0, 0, 0, 1}}, aErrTimeout, 0},
        {"the other entity's reply first", {{3, 9, 1, 0, 0, 0, 1}, {3, 9, 0, 0, 0, 0, 2}}, aErrNone, 2},
        {"no reply", {}, aErrTimeout, 0},
    };
    for (const auto& c : cases) {
        Answer(c.replies);
        uint32_t value = 0;
        EXPECT_EQ(system.getSerialNumber(&value), c.expected) << c.what;
        EXPECT_EQ(value, c.value) << c.what << ": the out is written only on success";
        link().dropMatchingUEIPackets(2, 3, 9, 1);
        link().dropMatchingUEIPackets(2, 3, 8, 0);
    }

    Answer({{3, 8, 0, 0, 0, 1, 0}});
    uint8_t byte = 0x55;
    EXPECT_EQ(system.getModel(&byte), aErrSize) << "256 does not fit a byte";
    EXPECT_EQ(byte, 0x55);
}

TEST_F(Entity, SetAcknowledgementsAndRefusals) {
    const struct {
        const char* what;
        std::vector<Bytes> replies;
        aErr expected;
    } cases[] = {
        {"acknowledged", {{3, 0xC4, 0}}, aErrNone},
        {"acknowledged with the value", {{3, 0xC4, 0, 1}}, aErrNone},
        {"refused", {{3, 0xC4, 0x80, aErrPermission}}, aErrPermission},
        {"the value of a get is no acknowledgement", {{3, 4, 0, 1}}, aErrTimeout},
    };
    for (const auto& c : cases) {
        Answer(c.replies);
        EXPECT_EQ(system.setLED(1), c.expected) << c.what;
    }
}

TEST_F(Entity, DroppedRepliesTimeOutAndTheNextRequestIsAnsweredAgain) {
    uint32_t serial = 0;
    served.device.Faults().DropNextReplies(1);
    EXPECT_EQ(system.getSerialNumber(&serial), aErrTimeout);
    EXPECT_EQ(system.getSerialNumber(&serial), aErrNone);
    EXPECT_EQ(serial, served.device.Identity().serialNumber);
}

TEST_F(Entity, WithoutAModuleNothingIsSent) {
    EntityClass loose;
    uint8_t byte = 0;
    EXPECT_EQ(loose.getUEI8(1, &byte), aErrResource);
    EXPECT_EQ(loose.setUEI8(1, 1), aErrResource);
    EXPECT_EQ(loose.callUEI(10), aErrResource);
    EXPECT_EQ(system.getUEI8(1, nullptr), aErrParam);
    EXPECT_TRUE(served.Received(3).empty());
}

TEST_F(Entity, ByteStringsThatDoNotFitOrArriveOutOfOrder) {
    uint8_t buffer[10];
    size_t received = 99;
    ASSERT_EQ(system.setName(Bytes(30, 'n').data(), 30), aErrNone);
    EXPECT_EQ(system.getName(buffer, sizeof buffer, &received), aErrMemory);
    EXPECT_EQ(received, 0u);
    uint8_t name[64];
    EXPECT_EQ(system.getName(name, sizeof name, &received), aErrNone);
    EXPECT_EQ(Bytes(name, name + received), Bytes(30, 'n')) << "nothing left over from the string not taken";

    Bytes first{3, 32, 0};
    first.resize(27, 'a');
    first.push_back(0x80);
    Answer({first, {3, 32, 0, 'b', 2}});
    EXPECT_EQ(system.getName(name, sizeof name, &received), aErrTimeout) << "the piece numbered 1 never came";
    EXPECT_EQ(received, 24u);

    Answer({{3, 32, 0x80, aErrBusy}});
    EXPECT_EQ(system.getName(name, sizeof name, &received), aErrBusy);
    size_t count = 6;
    EXPECT_EQ(EntityClass::getUEIBytesCheck(&count, 4), 1);
    EXPECT_EQ(count, 6u);
    EXPECT_EQ(EntityClass::getUEIBytesCheck(&count, 3), aErrNone);
    EXPECT_EQ(count, 2u);

    Answer({{3, 31, 0, 1, 2, 3, 4, 5, 6, 0}});
    uint32_t words[4];
    EXPECT_EQ(system.getInputPowerBehaviorConfig(words, 4, &count), aErrSize) << "six bytes are no words";
}

// Long byte strings go out and come back in more than 128 pieces, whose numbers wrap.
TEST_F(Entity, ByteStringRoundTripPastTheSequenceWrap) {
    constexpr uint8_t BLOB = 50;
    auto stored = std::make_shared<Bytes>();
    auto receiver = std::make_shared<qvsim::SimUeiBytesReceiver>();
    served.device.RegisterCommand(
        BLOB, [stored, receiver](const qvsim::SimPacket& packet, qvsim::SimReplies& out) {
            auto request = qvsim::SimUeiRequest::Parse(packet);
            if (request->kind == qvsim::SimUeiKind::Get) {
                return qvsim::SimUei_Bytes(out, *request, *stored);
            }
            if (receiver->Add(*request, 8192) == qvsim::SimUeiBytesReceiver::Step::Done) {
                *stored = receiver->Bytes();
                qvsim::SimUei_Ack(out, *request);
            }
        });
    EntityClass blob;
    blob.init(&module, BLOB, 0);

    Bytes sent(3200);
    for (size_t i = 0; i < sent.size(); ++i) {
        sent[i] = static_cast<uint8_t>(i * 7 + i / 256);
    }
    ASSERT_EQ(blob.setUEIBytes(1, sent.data(), sent.size()), aErrNone);
    EXPECT_EQ(*stored, sent);

    Bytes back(4000);
    size_t received = 0;
    ASSERT_EQ(blob.getUEIBytes(1, back.data(), back.size(), &received), aErrNone);
    back.resize(received);
    EXPECT_EQ(back, sent);

    ASSERT_EQ(blob.setUEIBytes(1, nullptr, 0), aErrNone);
    EXPECT_TRUE(stored->empty());
    EXPECT_EQ(blob.getUEIBytes(1, back.data(), back.size(), &received), aErrNone);
    EXPECT_EQ(received, 0u);
}
