// epc: GS1 EPC ids in words. `epc decode HEX...` prints each id's URIs, GS1 element string and
// fields; `epc encode URI` prints the words a tag URI encodes to, and with --write writes them
// to the EPC tag in the field (the one a select or wake singled out, else the first), reads the
// ID bank back and decodes it.
#include <cstdio>

#include <nlohmann/json.hpp>

#include "uhfctl/commands.hpp"
#include "uhfctl/epc_view.hpp"
#include "uhfctl/text.hpp"

namespace uhfctl {

namespace {

std::string epc_text(const std::string& hex_id, const uhf_epc& e) {
    std::string s = hex_id + "\n  uri      " + e.uri + "\n  tag uri  " + e.tag_uri + "\n";
    if (e.gs1[0]) s += std::string("  gs1      ") + e.gs1 + "\n";
    s += std::string("  scheme   ") + e.name;
    if (e.filter >= 0) s += ", filter " + std::to_string(e.filter);
    s += "\n";
    for (int i = 0; i < e.field_count; ++i) {
        char line[128];
        std::snprintf(line, sizeof line, "  %-26s %s\n", e.field[i].name, e.field[i].value);
        s += line;
    }
    return s;
}

int run_decode(const Context& ctx) {
    const auto& args = ctx.inv.args;
    if (args.size() < 2) throw UsageError("epc decode: give one or more ids in hex");
    int status = kExitOk;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const auto bytes = parse_hex(args[i]);
        if (!bytes) throw UsageError("epc decode: '" + args[i] + "' is not hex bytes");
        uhf_epc e;
        const int rc = uhf_epc_decode(bytes->data(), static_cast<int>(bytes->size()), &e);
        const std::string id = hex(*bytes, "");
        if (ctx.out.json()) {
            Json j{{"command", "epc decode"}, {"id", id}, {"ok", rc == 0}};
            if (rc == 0) j["epc"] = epc_json(e);
            else j.update({{"code", rc}, {"error", uhf_epc_strerror(rc)}});
            ctx.out.emit(j);
        } else if (rc == 0) {
            ctx.out.print(epc_text(id, e));
        } else {
            ctx.out.print(id + "\n  " + uhf_epc_strerror(rc) + "\n");
        }
        if (rc != 0) status = kExitStatus;
    }
    return status;
}

// Writes `words` at the start of the ID bank of the tag the reader targets, then reads the bank
// back. The reader addresses the ID bank from the EPC's first word; the write's word count is
// the EPC's length.
int write_tag(const Context& ctx, const std::vector<std::uint8_t>& words) {
    Session session;
    if (const int s = open_session(ctx, session, false); s != kExitOk) return s;
    return for_each_reader(ctx, session, [&](Reader& r, Output& out) {
        const int addr = ctx.inv.reader.addr;
        std::vector<std::uint8_t> block{1, 0, 0, static_cast<std::uint8_t>(words.size() / 2)};
        block.insert(block.end(), words.begin(), words.end());
        uhf_link* l = r.link.get();
        int rc = uhf_EPC_Write_TAG(l, addr, block.data());
        // A status byte is the tag's refusal (a bank shorter than the EPC, a locked bank).
        if (rc > 0 && uhf_detail(l) == 0 && rc == uhf_status(l)) {
            char why[96];
            std::snprintf(why, sizeof why, "the write was refused with status 0x%02X", rc);
            if (out.json()) out.emit(Json{{"command", "epc encode"}, {"device", r.name}, {"ok", false}, {"status", rc},
                                          {"error", why}});
            else out.print(std::string(why) + " (0x03: the tag's ID bank is shorter than the EPC)\n");
            return kExitStatus;
        }
        if (rc != 0) return out.failure(r.name, "EPC_Write_TAG", rc, uhf_detail(l));
        std::uint8_t req[4] = {1, 0, static_cast<std::uint8_t>(words.size() / 2), 0}, back[256] = {};
        rc = uhf_EPC_Read_TAG(l, addr, req, back);
        if (rc != 0) return out.failure(r.name, "EPC_Read_TAG", rc, uhf_detail(l));
        const std::vector<std::uint8_t> read(back + 1, back + 1 + back[0]);
        const auto e = decode_epc(read);
        const bool same = read == words;
        if (out.json()) {
            Json j{{"command", "epc encode"}, {"device", r.name}, {"ok", same}, {"written", hex(words, "")},
                   {"read_back", hex(read, "")}};
            if (e) j["epc"] = epc_json(*e);
            out.emit(j);
        } else {
            out.print("wrote " + std::to_string(words.size() / 2) + " words on " + r.name + "\nread back " +
                      hex(read, "") + (e ? std::string("  ") + e->tag_uri : std::string("  (not a GS1 EPC)")) +
                      (same ? "\n" : "\nMISMATCH: the read-back differs\n"));
        }
        return same ? kExitOk : kExitStatus;
    });
}

int run_encode(const Context& ctx) {
    const auto& args = ctx.inv.args;
    if (args.size() != 2) throw UsageError("epc encode: give one tag URI (urn:epc:tag:...)");
    unsigned char out[UHF_EPC_BYTES_MAX];
    const int n = uhf_epc_encode(args[1].c_str(), out, sizeof out);
    if (n < 0) throw UsageError("epc encode: " + args[1] + ": " + uhf_epc_strerror(n));
    const std::vector<std::uint8_t> words(out, out + n);
    if (ctx.inv.epc_write) return write_tag(ctx, words);
    // The PC word a Gen2 tag carries for it: the length in words, toggle 0 (a GS1 EPC).
    const unsigned pc = static_cast<unsigned>(n / 2) << 11;
    if (ctx.out.json()) {
        ctx.out.emit(Json{{"command", "epc encode"}, {"ok", true}, {"uri", args[1]}, {"bytes", hex(words, "")},
                          {"words", n / 2}, {"pc", pc}});
    } else {
        char line[32];
        std::snprintf(line, sizeof line, "%04X", pc);
        ctx.out.print(hex(words, "") + "\n  " + std::to_string(n / 2) + " words, PC " + line + "\n");
    }
    return kExitOk;
}

}  // namespace

int run_epc(const Context& ctx) {
    const auto& args = ctx.inv.args;
    if (args.empty()) throw UsageError("epc: decode HEX... or encode URI [--write]");
    if (args[0] == "decode") return run_decode(ctx);
    if (args[0] == "encode") return run_encode(ctx);
    throw UsageError("epc: decode HEX... or encode URI [--write], not '" + args[0] + "'");
}

}  // namespace uhfctl
