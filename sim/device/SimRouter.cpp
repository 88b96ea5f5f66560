#include "SimRouter.h"

namespace qvsim {

std::shared_ptr<SimRouter> SimRouter::Install(SimDevice& device, const SimEntities& routerEntities) {
    std::shared_ptr<SimRouter> router(new SimRouter(device));
    router->bus_ = SimI2CEntity::Install(device.Module());
    routerEntities.info->SetClassQuantity(SimI2CEntity::COMMAND, 1);
    routerEntities.system->OnRouteToMe([router](bool on) { router->Route(on); });
    device.OnForceRoute([router](uint8_t route) { router->Route(route != 0); });
    return router;
}

SimRouter::Child SimRouter::AddChild(const SimIdentity& identity, SimSystemSettings settings) {
    settings.router = device_.Module().Address();
    Child child{std::make_shared<SimModule>(identity), {}};
    child.entities = SimEntities::Install(*child.module, settings);
    bus_->AddTarget(identity.moduleAddress);
    std::lock_guard lock(mutex_);
    children_.push_back(child.module);
    if (routing_) {
        device_.AttachModule(child.module);
    }
    return child;
}

bool SimRouter::Routing() const {
    std::lock_guard lock(mutex_);
    return routing_;
}

void SimRouter::Route(bool on) {
    std::lock_guard lock(mutex_);
    routing_ = on;
    for (const auto& child : children_) {
        if (on) {
            device_.AttachModule(child);
        } else {
            device_.DetachModule(child->Address());
        }
    }
}

} // namespace qvsim
