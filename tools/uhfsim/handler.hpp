// How uhfsim answers: the reader model, with the think time, the injected faults and the
// trace its options ask for.
#pragma once

#include <string>

#include "options.hpp"
#include "sim/model.hpp"
#include "sim/responder.hpp"

namespace uhfsim_tool {

// One line on stderr, "uhfsim: " first; safe from any thread.
void log_line(const std::string& line);

// The handler for a reader serving the model. The model must outlive it.
uhfsim::Responder::Handler make_handler(uhfsim::ReaderModel& model, const Options& opt);

}  // namespace uhfsim_tool
