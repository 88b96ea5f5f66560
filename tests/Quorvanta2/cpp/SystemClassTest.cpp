#include "SystemClass.h"
#include "ServedDevice.h"
#include "aVersion.h"

#include <functional>

using namespace Korvalen::Quorvanta;

namespace {

qvsim::SimIdentity _identity() {
    qvsim::SimIdentity identity;
    identity.serialNumber = 0x1A2B3C4D;
    identity.model = 13;
    identity.firmwareVersion = aVersion_Pack(2, 10, 4);
    identity.build = 99511694;
    return identity;
}

// Every value different, and some negative, so a getter reading the wrong option or sign shows.
qvsim::SimSystemSettings _settings() {
    qvsim::SimSystemSettings s;
    s.router = 4;
    s.heartbeatInterval = 30;
    s.led = 1;
    s.bootSlot = 1;
    s.inputVoltage = 5100000;
    s.hardwareOffset = 3;
    s.baseAddress = 6;
    s.softwareOffset = 5;
    s.routerAddressSetting = 8;
    s.inputCurrent = 2500;
    s.uptime = 77;
    s.maximumTemperature = 42000000;
    s.unregulatedVoltage = -12;
    s.unregulatedCurrent = 180;
    s.temperature = -3500000;
    s.minimumTemperature = -5000000;
    s.inputPowerSource = 2;
    s.inputPowerBehavior = 9;
    s.name = {'B', 'e', 'n', 'c', 'h'};
    s.powerLimit = 15000;
    s.powerLimitMax = 20000;
    s.powerLimitState = 11;
    s.linkInterface = 12;
    s.uniqueIdentifier = {0x11111111, 0x22222222, 0x33333333, 0x44444444};
    s.hardwareVersion = 0x0102;
    s.errors = 0x10;
    s.ledMaxBrightness = 128;
    s.protocolFeatures = 0x80000001;
    return s;
}

struct SystemEntity : ConnectedModule {
    SystemEntity() {
        served.device.SetIdentity(_identity());
        served.entities.system->SetSettings(_settings());
    }
    void SetUp() override {
        ConnectedModule::SetUp();
        system.init(&module, 0);
    }

    SystemClass system;
};

using Getter = std::function<aErr(SystemClass&, int64_t&)>;

template <typename T> Getter _getter(aErr (SystemClass::*method)(T*)) {
    return [method](SystemClass& system, int64_t& out) {
        T value{};
        aErr result = (system.*method)(&value);
        out = value;
        return result;
    };
}

} // namespace

TEST_F(SystemEntity, EveryGetterReadsItsOption) {
    const struct {
        const char* name;
        Getter get;
        int64_t expected;
    } cases[] = {
        {"getModule", _getter(&SystemClass::getModule), 2},
        {"getRouter", _getter(&SystemClass::getRouter), 4},
        {"getHBInterval", _getter(&SystemClass::getHBInterval), 30},
        {"getLED", _getter(&SystemClass::getLED), 1},
        {"getBootSlot", _getter(&SystemClass::getBootSlot), 1},
        {"getVersion", _getter(&SystemClass::getVersion), aVersion_Pack(2, 10, 4)},
        {"getModel", _getter(&SystemClass::getModel), 13},
        {"getSerialNumber", _getter(&SystemClass::getSerialNumber), 0x1A2B3C4D},
        {"getInputVoltage", _getter(&SystemClass::getInputVoltage), 5100000},
        {"getModuleHardwareOffset", _getter(&SystemClass::getModuleHardwareOffset), 3},
        {"getModuleBaseAddress", _getter(&SystemClass::getModuleBaseAddress), 6},
        {"getModuleSoftwareOffset", _getter(&SystemClass::getModuleSoftwareOffset), 5},
        {"getRouterAddressSetting", _getter(&SystemClass::getRouterAddressSetting), 8},
        {"getInputCurrent", _getter(&SystemClass::getInputCurrent), 2500},
        {"getUptime", _getter(&SystemClass::getUptime), 77},
        {"getMaximumTemperature", _getter(&SystemClass::getMaximumTemperature), 42000000},
        {"getUnregulatedVoltage", _getter(&SystemClass::getUnregulatedVoltage), -12},
        {"getUnregulatedCurrent", _getter(&SystemClass::getUnregulatedCurrent), 180},
        {"getTemperature", _getter(&SystemClass::getTemperature), -3500000},
        {"getMinimumTemperature", _getter(&SystemClass::getMinimumTemperature), -5000000},
        {"getInputPowerSource", _getter(&SystemClass::getInputPowerSource), 2},
        {"getInputPowerBehavior", _getter(&SystemClass::getInputPowerBehavior), 9},
        {"getPowerLimit", _getter(&SystemClass::getPowerLimit), 15000},
        {"getPowerLimitMax", _getter(&SystemClass::getPowerLimitMax), 20000},
        {"getPowerLimitState", _getter(&SystemClass::getPowerLimitState), 11},
        {"getLinkInterface", _getter(&SystemClass::getLinkInterface), 12},
        {"getHardwareVersion", _getter(&SystemClass::getHardwareVersion), 0x0102},
        {"getErrors", _getter(&SystemClass::getErrors), 0x10},
        {"getLEDMaxBrightness", _getter(&SystemClass::getLEDMaxBrightness), 128},
        {"getBuild", _getter(&SystemClass::getBuild), 99511694},
        {"getProtocolFeatures", _getter(&SystemClass::getProtocolFeatures), 0x80000001},
    };
    for (const auto& c : cases) {
        int64_t value = -1;
        EXPECT_EQ(c.get(system, value), aErrNone) << c.name;
        EXPECT_EQ(value, c.expected) << c.name;
    }

    uint32_t word = 0;
    for (uint8_t subindex = 0; subindex < 4; ++subindex) {
        EXPECT_EQ(system.getUEI32(SystemClass::OPTION_UNIQUE_IDENTIFIER, subindex, &word), aErrNone);
        EXPECT_EQ(word, 0x11111111u * (subindex + 1));
    }
    uint8_t name[32];
    size_t length = 0;
    EXPECT_EQ(system.getName(name, sizeof name, &length), aErrNone);
    EXPECT_EQ(Bytes(name, name + length), (Bytes{'B', 'e', 'n', 'c', 'h'}));
}

TEST_F(SystemEntity, EverySetterChangesTheDevice) {
    const uint32_t words[] = {0x01020304, 0xA0B0C0D0};
    const uint8_t name[] = "A thirty-two byte long name, ok";
    const struct {
        const char* name;
        std::function<aErr()> set;
        std::function<int64_t(const qvsim::SimSystemSettings&)> read;
        int64_t expected;
    } cases[] = {
        {"setRouter", [&] { return system.setRouter(10); }, [](auto& s) { return s.router; }, 10},
        {"setHBInterval", [&] { return system.setHBInterval(50); },
         [](auto& s) { return s.heartbeatInterval; }, 50},
        {"setLED sends 1 for any non-zero", [&] { return system.setLED(7); }, [](auto& s) { return s.led; },
         1},
        {"setLED", [&] { return system.setLED(0); }, [](auto& s) { return s.led; }, 0},
        {"setBootSlot", [&] { return system.setBootSlot(2); }, [](auto& s) { return s.bootSlot; }, 2},
        {"setModuleSoftwareOffset", [&] { return system.setModuleSoftwareOffset(4); },
         [](auto& s) { return s.softwareOffset; }, 4},
        {"setInputPowerBehavior", [&] { return system.setInputPowerBehavior(3); },
         [](auto& s) { return s.inputPowerBehavior; }, 3},
        {"setPowerLimitMax", [&] { return system.setPowerLimitMax(0xDEADBEEF); },
         [](auto& s) { return s.powerLimitMax; }, 0xDEADBEEF},
        {"setLinkInterface", [&] { return system.setLinkInterface(1); },
         [](auto& s) { return s.linkInterface; }, 1},
        {"setLEDMaxBrightness", [&] { return system.setLEDMaxBrightness(200); },
         [](auto& s) { return s.ledMaxBrightness; }, 200},
        {"setName", [&] { return system.setName(name, 32); }, [](auto& s) { return s.name.size(); }, 32},
        {"setInputPowerBehaviorConfig", [&] { return system.setInputPowerBehaviorConfig(words, 2); },
         [](auto& s) { return s.inputPowerBehaviorConfig.size(); }, 8},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.set(), aErrNone) << c.name;
        EXPECT_EQ(c.read(served.entities.system->Settings()), c.expected) << c.name;
    }
    EXPECT_EQ(system.routeToMe(1), aErrNone);
    EXPECT_EQ(served.entities.system->Events().routeToMe, 1);

    // Byte strings come back as they went.
    uint32_t back[4] = {};
    size_t count = 0;
    EXPECT_EQ(system.getInputPowerBehaviorConfig(back, 4, &count), aErrNone);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(back[0], words[0]);
    EXPECT_EQ(back[1], words[1]);
    uint8_t read[32];
    EXPECT_EQ(system.getName(read, sizeof read, &count), aErrNone);
    EXPECT_EQ(Bytes(read, read + count), Bytes(name, name + 32));
}

TEST_F(SystemEntity, CallsSaveResetAndRestoreDefaults) {
    auto led = [&] { return served.entities.system->Settings().led; };
    ASSERT_EQ(system.setLED(1), aErrNone);
    EXPECT_EQ(system.save(), aErrNone);
    EXPECT_EQ(system.setLED(0), aErrNone);
    EXPECT_EQ(system.reset(), aErrNone);
    EXPECT_EQ(led(), 1) << "a reset restarts from what was saved";
    EXPECT_EQ(system.resetEntityToFactoryDefaults(), aErrNone);
    EXPECT_EQ(led(), 0) << "back to the values the device was made with";
    EXPECT_EQ(system.resetDeviceToFactoryDefaults(), aErrNone);
    EXPECT_EQ(system.logEvents(), aErrNone);

    auto events = served.entities.system->Events();
    EXPECT_EQ(events.saves, 1u);
    EXPECT_EQ(events.resets, 1u);
    EXPECT_EQ(events.entityFactoryResets, 1u);
    EXPECT_EQ(events.deviceFactoryResets, 1u);
    EXPECT_EQ(events.logEvents, 1u);
}

TEST_F(SystemEntity, RequestsTheDeviceRefusesReturnItsCode) {
    SystemClass second;
    second.init(&module, 1);
    uint8_t byte = 0;
    uint32_t word = 0;
    const uint8_t tooLong[33] = {};
    const uint8_t sixBytes[6] = {};
    const struct {
        const char* what;
        std::function<aErr()> request;
        aErr expected;
    } cases[] = {
        {"set of a read-only option", [&] { return system.setUEI8(SystemClass::OPTION_MODEL, 1); },
         aErrPermission},
        {"set of the serial number", [&] { return system.setUEI32(SystemClass::OPTION_SERIAL_NUMBER, 1); },
         aErrPermission},
        {"get of a call", [&] { return system.getUEI8(SystemClass::OPTION_SAVE, &byte); }, aErrMode},
        {"get of route-to-me", [&] { return system.getUEI8(SystemClass::OPTION_ROUTE_TO_ME, &byte); },
         aErrMode},
        {"option without meaning", [&] { return system.getUEI8(5, &byte); }, aErrInvalidOption},
        {"option 44", [&] { return system.getUEI32(44, &word); }, aErrInvalidOption},
        {"second system entity", [&] { return second.getModel(&byte); }, aErrIndexRange},
        {"LED state 2", [&] { return system.setUEI8(SystemClass::OPTION_LED, 2); }, aErrRange},
        {"route state 2", [&] { return system.routeToMe(2); }, aErrRange},
        {"value of the wrong width", [&] { return system.setUEI32(SystemClass::OPTION_ROUTER, 1); },
         aErrSize},
        {"name of 33 bytes", [&] { return system.setName(tooLong, sizeof tooLong); }, aErrSize},
        {"configuration of 6 bytes",
         [&] { return system.setUEIBytes(SystemClass::OPTION_INPUT_POWER_BEHAVIOR_CONFIG, sixBytes, 6); },
         aErrSize},
        {"identifier word 4",
         [&] { return system.getUEI32(SystemClass::OPTION_UNIQUE_IDENTIFIER, 4, &word); }, aErrIndexRange},
        {"identifier without a word",
         [&] { return system.getUEI32(SystemClass::OPTION_UNIQUE_IDENTIFIER, &word); }, aErrShortCommand},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.request(), c.expected) << c.what;
    }
    EXPECT_EQ(served.entities.system->Settings().name, _settings().name) << "a refused name changes nothing";
}
