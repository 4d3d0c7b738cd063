#include "inventory/round.hpp"

#include <array>
#include <string>

namespace inventory {

namespace {

const uhf_command_info* list_command(Family f) {
    static const uhf_command_info* const commands[] = {
        uhf_command_find("EPC_Read_Tag_List"), uhf_command_find("GB_Read_Tag_List"),
        uhf_command_find("GJB_Read_Tag_List")};
    return commands[static_cast<int>(f)];
}

// The first entry a list request can name is a scalar of the catalogue's width.
long first_entry_limit(Family f) {
    const uhf_command_info* c = list_command(f);
    return c && c->arg_count > 0 ? c->args[0].max : 255;
}

}  // namespace

Round run_round(uhf_link* link, int addr, const std::vector<Family>& families, const Layout& layout) {
    Round r;
    // Tag lists copy at most 2048 bytes; the rest is headroom.
    std::array<std::uint8_t, 4096> buf;
    const auto fail = [&](const std::string& call, int rc, Outcome o) {
        r.failure = rc;
        r.outcome = o;
        r.detail = rc > 0 ? uhf_detail(link) : 0;
        r.failed_call = call;
    };
    for (const Family f : families) {
        const FamilyCalls& fc = calls(f);
        int rc = fc.query(link, addr);
        ++r.exchanges;
        Outcome o = classify(link, rc);
        if (o == Outcome::exchange || o == Outcome::link) {
            fail(std::string(fc.name) + "_Query_ON", rc, o);
            return r;
        }
        // A status byte from the query is the reader saying it found nothing; the list tells.
        std::size_t first = 0;
        for (int page = 0; page < kMaxPages; ++page) {
            buf.fill(0);
            rc = fc.list(link, addr, static_cast<int>(first), 0, buf.data());
            ++r.exchanges;
            o = classify(link, rc);
            if (o == Outcome::exchange || o == Outcome::link) {
                fail(std::string(fc.name) + "_Read_Tag_List", rc, o);
                return r;
            }
            if (o == Outcome::status) break;
            const uhf_command_info* cmd = list_command(f);
            int copied = cmd ? uhf_copy_length(cmd, buf.data()) : 0;
            if (copied < 0) copied = 0;
            const std::span<const std::uint8_t> bytes(buf.data(), std::min<std::size_t>(static_cast<std::size_t>(copied), buf.size()));
            if (layout.raw) {
                r.pages.push_back({f, {bytes.begin(), bytes.end()}, {}});
                break;  // without decoding, nothing says whether more pages follow
            }
            std::string why;
            auto decoded = decode_page(layout, bytes, &why);
            if (!decoded) {
                r.pages.push_back({f, {bytes.begin(), bytes.end()}, why});
                break;
            }
            for (SeenTag& t : decoded->tags) r.reads.push_back({f, std::move(t)});
            first += decoded->tags.size();
            if (!layout.in_list.present() || decoded->tags.empty() || first >= decoded->in_list ||
                static_cast<long>(first) > first_entry_limit(f))
                break;
        }
    }
    return r;
}

}  // namespace inventory
