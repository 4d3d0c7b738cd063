#include "uhfctl/sim_host.hpp"

namespace uhfctl {

SimHost::SimHost(int addr, std::size_t tags, std::uint32_t seed)
    : model_(uhfsim::ModelOptions{static_cast<std::uint8_t>(addr == 0xFF ? 1 : addr), tags, seed}) {
    pty_.set_handler(model_.handler());
}

}  // namespace uhfctl
