#pragma once

#include "SimDevice.h"
#include "SimEntities.h"
#include "SimI2CEntity.h"

#include <memory>
#include <mutex>
#include <vector>

namespace qvsim {

// Router mode of a device: child modules sit on the I2C bus of the directly attached module, each at
// the bus address equal to its module address. The host reaches them only while it has asked the
// router to route to it (system option 20 set to 1, or a force-route packet with route 1, which a host
// sends when its link starts): then packets to a child's address are forwarded to the child and its
// replies come back; setting it to 0 cuts them off again.
class SimRouter {
public:
    struct Child {
        std::shared_ptr<SimModule> module;
        SimEntities entities;
    };

    // Installs the I2C entity on the device's own module and listens to its system entity.
    static std::shared_ptr<SimRouter> Install(SimDevice& device, const SimEntities& routerEntities);

    // A new child with the full entity set; its system entity reports this router as its router.
    Child AddChild(const SimIdentity& identity, SimSystemSettings settings = {});
    SimI2CEntity& Bus() { return *bus_; }
    bool Routing() const;

private:
    explicit SimRouter(SimDevice& device) : device_(device) {}
    void Route(bool on);

    SimDevice& device_;
    std::shared_ptr<SimI2CEntity> bus_;
    mutable std::mutex mutex_;
    bool routing_ = false;
    std::vector<std::shared_ptr<SimModule>> children_;
};

} // namespace qvsim
