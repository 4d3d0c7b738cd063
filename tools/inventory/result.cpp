#include "inventory/result.hpp"

namespace inventory {

Outcome classify(const uhf_link* l, int rc, int result_rule) {
    if (rc == 0) return Outcome::ok;
    if (rc < 0) return Outcome::link;
    if (result_rule == UHF_RESULT_EXCHANGE) return Outcome::exchange;
    // A valid reply leaves no detail code and its status byte is the result.
    if (uhf_detail(l) == 0 && rc == uhf_status(l)) return Outcome::status;
    return Outcome::exchange;
}

std::string failure_words(const uhf_link* l, int rc) { return uhf_strerror(rc, rc > 0 ? uhf_detail(l) : 0); }

}  // namespace inventory
