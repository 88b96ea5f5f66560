#pragma once

#include "SimConnection.h"
#include "SimFaults.h"
#include "SimModule.h"
#include "SimPacket.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

namespace qvsim {

// What the device has seen and said. The packet lists keep the newest RECORD_LIMIT packets.
struct SimRecord {
    static constexpr size_t RECORD_LIMIT = 4096;

    std::deque<SimPacket> received;
    std::deque<SimPacket> sent;
    std::vector<uint8_t> forceRoutes;
    size_t probesAnswered = 0;
    size_t heartbeatAnswers = 0;
    size_t droppedReplies = 0;
    size_t connectionsOpened = 0;
    size_t connectionsOpen = 0;
};

// The simulated device, independent of any transport: it takes request packets from its
// connections and answers them. The directly attached module answers the link-control packets;
// further modules (behind a router) answer on their own addresses. Thread-safe.
class SimDevice {
public:
    explicit SimDevice(const SimIdentity& identity = {});
    ~SimDevice();
    SimDevice(const SimDevice&) = delete;
    SimDevice& operator=(const SimDevice&) = delete;

    // The directly attached module.
    SimModule& Module() { return *module_; }
    SimIdentity Identity() const { return module_->Identity(); }
    void SetIdentity(const SimIdentity& identity) { module_->SetIdentity(identity); }
    void RegisterCommand(uint8_t command, SimHandler handler);

    // A module reached through this device; replaces one with the same address.
    void AttachModule(std::shared_ptr<SimModule> module);
    void DetachModule(uint8_t address);
    // The module that answers on an address (the attached one included), or none.
    std::shared_ptr<SimModule> ModuleAt(uint8_t address);

    // Called (on the device's thread) with the route byte of every force-route packet a host sends.
    void OnForceRoute(std::function<void(uint8_t)> listener);

    // Sends a packet the host did not ask for to every connection.
    void Emit(const SimPacket& packet);
    // A heartbeat of the attached module: up (data 0, 0) or down (data 0, 1).
    void EmitHeartbeat(bool up);

    // Faults: every transport carries them out.
    SimFaults& Faults() { return faults_; }
    void InjectGarbage(const std::vector<uint8_t>& bytes, SimGarbageWhen when = SimGarbageWhen::Now);
    void DisconnectNow();

    SimRecord Record() const;
    void ClearRecord();
    // Waits until the condition holds for the record; false after the time.
    bool WaitFor(const std::function<bool(const SimRecord&)>& condition,
                 std::chrono::milliseconds time) const;

    // Used by SimConnection.
    void AddConnection(SimConnection& connection);
    void RemoveConnection(SimConnection& connection);
    void HandlePacket(SimConnection& from, const SimPacket& packet);

private:
    SimReplies Answer(const SimPacket& packet);
    template <typename Change> void ChangeRecord(Change change);

    std::shared_ptr<SimModule> module_;
    SimFaults faults_;

    std::mutex dispatchMutex_;
    std::function<void(uint8_t)> forceRouteListener_;
    std::mutex modulesMutex_;
    std::map<uint8_t, std::shared_ptr<SimModule>> modules_;

    mutable std::mutex connectionsMutex_;
    std::set<SimConnection*> connections_;

    mutable std::mutex recordMutex_;
    mutable std::condition_variable recordChanged_;
    SimRecord record_;
};

} // namespace qvsim
