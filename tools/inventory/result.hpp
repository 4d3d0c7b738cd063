// What a link call's result means. A twin with the status result rule returns the reader's
// status byte after a valid reply and the exchange code after a failed one, and the two ranges
// overlap (1..254), so the link's exchange state decides which it was.
#pragma once

#include <string>

#include "uhfreader.h"

namespace inventory {

enum class Outcome {
    ok,        // 0
    status,    // the reader answered with a non-zero status byte
    exchange,  // no valid reply: an exchange code, with uhf_detail()
    link,      // a negative UHF_ERR_*: the link itself failed
};

// `result_rule` is the command's UHF_RESULT_*.
Outcome classify(const uhf_link* l, int rc, int result_rule = UHF_RESULT_STATUS);

// Words for a failed call (exchange or link), from the library's own table.
std::string failure_words(const uhf_link* l, int rc);

}  // namespace inventory
