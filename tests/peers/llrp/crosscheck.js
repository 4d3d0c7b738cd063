// The LLRP codec's peer: llrpjs, an independent LLRP implementation.
//
//   node crosscheck.js MODULES_DIR < hex lines
//
// For each input line (one message in hex) prints "ok HEX" with the bytes llrpjs encodes after
// decoding it, or "error WORDS" when it cannot. Then prints "made NAME HEX" for each message
// below, built by llrpjs from its JSON form, for the codec to decode.
"use strict";
const path = require("path");
const readline = require("readline");
const { LLRPMessage } = require(path.join(process.argv[2], "node_modules", "llrpjs"));

const made = {
  ADD_ROSPEC: {
    id: 21, type: "ADD_ROSPEC",
    data: {
      ROSpec: {
        ROSpecID: 1, Priority: 0, CurrentState: "Disabled",
        ROBoundarySpec: {
          ROSpecStartTrigger: { ROSpecStartTriggerType: "Null" },
          ROSpecStopTrigger: { ROSpecStopTriggerType: "Null", DurationTriggerValue: 0 },
        },
        AISpec: {
          AntennaIDs: [0],
          AISpecStopTrigger: { AISpecStopTriggerType: "Null", DurationTrigger: 0 },
          InventoryParameterSpec: { InventoryParameterSpecID: 1, ProtocolID: "EPCGlobalClass1Gen2" },
        },
        ROReportSpec: {
          ROReportTrigger: "Upon_N_Tags_Or_End_Of_ROSpec", N: 1,
          TagReportContentSelector: {
            EnableROSpecID: true, EnableSpecIndex: false, EnableInventoryParameterSpecID: false,
            EnableAntennaID: true, EnableChannelIndex: false, EnablePeakRSSI: true,
            EnableFirstSeenTimestamp: true, EnableLastSeenTimestamp: true, EnableTagSeenCount: true,
            EnableAccessSpecID: false,
          },
        },
      },
    },
  },
  SET_READER_CONFIG: {
    id: 22, type: "SET_READER_CONFIG",
    data: {
      ResetToFactoryDefault: true,
      KeepaliveSpec: { KeepaliveTriggerType: "Periodic", PeriodicTriggerValue: 5000 },
    },
  },
  DELETE_ROSPEC: { id: 23, type: "DELETE_ROSPEC", data: { ROSpecID: 0 } },
  GET_READER_CONFIG: {
    id: 24, type: "GET_READER_CONFIG",
    data: { AntennaID: 0, RequestedData: "All", GPIPortNum: 0, GPOPortNum: 0 },
  },
  CLOSE_CONNECTION: { id: 25, type: "CLOSE_CONNECTION", data: {} },
};

function roundTrip(hex) {
  try {
    const decoded = new LLRPMessage(Buffer.from(hex, "hex")).decode().toLLRPData();
    return "ok " + new LLRPMessage(decoded).encode().getBuffer().toString("hex");
  } catch (e) {
    return "error " + String(e && e.message || e).replace(/\s+/g, " ");
  }
}

const lines = [];
readline.createInterface({ input: process.stdin }).on("line", (l) => { if (l.trim()) lines.push(l.trim()); })
  .on("close", () => {
    for (const l of lines) console.log(roundTrip(l));
    for (const [name, json] of Object.entries(made)) {
      try {
        console.log("made " + name + " " + new LLRPMessage(json).encode().getBuffer().toString("hex"));
      } catch (e) {
        console.log("made " + name + " error " + String(e && e.message || e).replace(/\s+/g, " "));
      }
    }
  });
