// Messages whose bytes are worked out by hand from LLRP's encoding rules, shared by the round
// trips and the peer cross-check.
#pragma once

namespace llrp_test {

struct Wire {
  const char *name;
  const char *bytes;
};

inline const Wire wires[] = {
    // Header only: version 1 and type 62 share the first two bytes; length 10; ID.
    {"Keepalive", "04 3E 00 00 00 0A 12 34 56 78"},
    // TV parameters: EPC-96 (type 13, 12 bytes), AntennaID (1), PeakRSSI (6, -60 as s8),
    // FirstSeenTimestampUTC (2, u64), TagSeenCount (8), inside a TLV TagReportData (240).
    {"ReportWithTvParameters",
     "04 3D 00 00 00 2C 00 00 00 07"
     "00 F0 00 22"
     "8D E2 00 00 17 22 11 01 44 18 90 3C 5A"
     "81 00 01"
     "86 C4"
     "82 00 00 01 8C 2B 7F 3A 40"
     "88 00 03"},
    // u1v: EPCData (241) of 12 bits, the last byte's low half padding.
    {"ReportWithBitVector", "04 3D 00 00 00 16 00 00 00 07  00 F0 00 0C  00 F1 00 08 00 0C AB C0"},
    // u1 fields and reserved bits sharing a byte: C1G2LLRPCapabilities (327), block erase yes,
    // block write no; and an empty utf8v in LLRPStatus (287).
    {"CapabilitiesWithReservedBits",
     "04 0B 00 00 00 19 00 00 00 07  01 1F 00 08 00 00 00 00  01 47 00 07 80 00 02"},
    // utf8v "bad" and a FieldError (288) under LLRPStatus.
    {"StatusWithTextAndFieldError",
     "04 04 00 00 00 1D 00 00 00 07  01 1F 00 13 00 65 00 03 62 61 64  01 20 00 08 00 02 01 2D"},
    // A message's own bit field: SET_READER_CONFIG's ResetToFactoryDefault, then KeepaliveSpec.
    {"ResetAndKeepalive", "04 03 00 00 00 14 00 00 00 07  80  00 DC 00 09 01 00 00 03 E8"},
    // ADD_ACCESSSPEC with a C1G2 target tag (u2 MB 1, u1 Match, two u1v) and a C1G2Read of
    // two words of user memory (MB 3).
    {"AddAccessSpecWithRead",
     "04 28 00 00 00 47 00 00 00 07"
     "00 CF 00 3D  00 00 00 01  00 00  01  00  00 00 00 00"
     "00 D0 00 07  00  00 00"
     "00 D1 00 26"
     "01 52 00 13  01 53 00 0F  60  00 20  00 10 FF FF  00 10 30 00"
     "01 55 00 0F  00 01  00 00 00 00  C0  00 00  00 02"},
    // Custom parameter (1023) inside GET_READER_CAPABILITIES: kept as opaque bytes.
    {"CustomParameterKept", "04 01 00 00 00 1B 00 00 00 07  00  03 FF 00 10 00 00 00 19 00 00 00 01 DE AD BE EF"},
};

}  // namespace llrp_test
