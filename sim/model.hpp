// A stateful reader: what the virtual reader answers, apart from how the bytes travel.
//
// The model keeps the reader's settings (address, work, Menjin and channel parameters, ...), a
// population of EPC, GB and GJB tags with their memory, the last inventory round's tag list,
// a PSAM and an FM151M, and answers each request in the reply forms the library copies. The
// data formats are this simulator's own; docs/simulator.md describes every one.
//
//   uhfsim::ReaderModel model({.addr = 1, .tags = 12, .seed = 7});
//   uhfsim::PtyReader reader;
//   reader.set_handler(model.handler());
//
// answer() and the tag operations (add_tag, remove_tag, ...) are thread-safe, so a test or a
// control channel can change the field while a serving thread answers inventory rounds: a tag
// added shows in the next round, a removed one is gone from it (and from the last round's list,
// with any wake, access or custom-area state that singled it out). tags() hands out the tags
// themselves and is for a single thread only.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <random>
#include <string>
#include <vector>

#include "sim/action.hpp"
#include "sim/wire.hpp"

namespace uhfsim {

// The reader's status bytes.
namespace status {
inline constexpr std::uint8_t ok = 0x00;
inline constexpr std::uint8_t bad_request = 0x01;     // wrong length or a field out of range
inline constexpr std::uint8_t no_tag = 0x02;          // no tag of the family answers
inline constexpr std::uint8_t out_of_range = 0x03;    // beyond the end of a memory bank
inline constexpr std::uint8_t locked = 0x04;          // the bank is locked and the tag not secured
inline constexpr std::uint8_t wrong_password = 0x05;
inline constexpr std::uint8_t not_authenticated = 0x06;
inline constexpr std::uint8_t not_powered = 0x07;     // PSAM command before power-on
inline constexpr std::uint8_t unknown_command = 0x0E;
}  // namespace status

enum class Family : std::uint8_t { epc = 0, gb = 1, gjb = 2 };
const char* family_name(Family f);

enum class Bank : std::uint8_t { reserved = 0, id = 1, tid = 2, user = 3 };
inline constexpr std::size_t kBanks = 4;

enum class LockState : std::uint8_t { open = 0, locked = 1, permalocked = 2 };

struct Tag {
    Family family = Family::epc;
    // Words of each bank. Reserved: kill password (words 0-1), access password (words 2-3).
    std::array<std::vector<std::uint16_t>, kBanks> banks;
    std::array<LockState, kBanks> locks{};
    bool killed = false;
    int rssi = -60;  // dBm, before the per-round jitter
    std::uint8_t antenna = 0;
    // GB FD custom area.
    std::array<std::uint8_t, 4> fd_password{};
    std::uint8_t fd_password_lock = 0;
    bool fd_init_ended = false;

    std::vector<std::uint8_t> id() const;  // the ID bank as bytes
    std::uint32_t kill_password() const;
    std::uint32_t access_password() const;
};

// A tag to put in the field.
struct NewTag {
    Family family = Family::epc;
    std::vector<std::uint8_t> id{};  // an even number of bytes; empty: a random, unused ID of
                                     // the family's usual length (EPC 12 bytes, GB 16, GJB 8)
    int rssi = -60;                  // dBm, kMinRssi to kMaxRssi
    std::uint8_t antenna = 0;        // below kAntennas
};

// A tag as listed.
struct TagSummary {
    Family family = Family::epc;
    std::vector<std::uint8_t> id;
    int rssi = 0;
    std::uint8_t antenna = 0;
    bool killed = false;
};

struct ModelOptions {
    std::uint8_t addr = 0x01;
    std::size_t tags = 8;  // at most kMaxTags
    std::uint32_t seed = 1;
};

class ReaderModel {
public:
    static constexpr std::size_t kMaxTags = 255;
    static constexpr int kMinRssi = -120;  // the round's jitter keeps it within a signed byte
    static constexpr int kMaxRssi = 0;
    static constexpr std::uint8_t kAntennas = 4;
    static constexpr std::size_t kMaxIdBytes = 64;

    explicit ReaderModel(ModelOptions options = {});

    // The reply, or nothing when the request is addressed to another reader.
    std::optional<Reply> answer(const Request& req);

    // For PtyReader::set_handler: answer() as an action, silence for other readers. The
    // model must outlive the handler.
    std::function<Action(const Request&)> handler();

    // Field changes, thread-safe. add_tag returns the tag's ID; it throws std::invalid_argument
    // for a malformed or duplicate ID, a value out of range, or a full field (kMaxTags).
    std::vector<std::uint8_t> add_tag(const NewTag& wanted);
    bool remove_tag(std::span<const std::uint8_t> id);  // false: no such tag
    std::size_t remove_all_tags();                      // how many went
    std::vector<TagSummary> list_tags() const;
    // Changes what is given; false: no such tag. Throws std::invalid_argument out of range.
    bool set_tag(std::span<const std::uint8_t> id, std::optional<int> rssi,
                 std::optional<std::uint8_t> antenna);

    std::uint8_t address() const { return addr_; }
    std::uint8_t rate_code() const { return rate_code_; }
    const std::vector<Tag>& tags() const { return tags_; }
    std::vector<Tag>& tags() { return tags_; }

private:
    struct FamilyState {
        std::vector<std::uint8_t> select{1};  // the select block as written; byte 0 its length
        std::optional<std::size_t> woken;     // the tag a wake singled out
        std::optional<std::size_t> secured;   // the tag an access proved the password to
        std::optional<std::size_t> fd_access; // the tag a GB FD custom access opened
        std::array<std::uint8_t, 4> access_password{};
        std::array<std::uint8_t, 4> kill_password{};
        struct Entry {
            std::size_t tag;
            int rssi;
            std::uint8_t reads;
        };
        std::vector<Entry> list;
        std::array<std::uint8_t, 6> security{};
        std::array<std::uint8_t, 16> auth_password{};
        bool auth_set = false;
    };

    // One memory operation's target, as each family's request layout spells it.
    struct MemOp {
        Bank bank;
        std::size_t pointer;  // in words
        std::size_t count;    // in words
    };

    Reply admin(const Request& req);
    Reply tag_command(const Request& req, Family fam, std::uint8_t op);
    Reply fd_command(const Request& req);
    Reply psam(const Request& req);
    Reply fm151m(const Request& req);

    void reset_reader_state();
    void restore_defaults();
    void populate(std::size_t count);

    bool matches_select(const Tag& tag, const std::vector<std::uint8_t>& select) const;
    std::optional<std::size_t> target(Family fam);
    bool secured(Family fam, std::size_t tag);
    std::uint8_t inventory(Family fam);
    std::vector<std::uint8_t> tag_list(Family fam, std::size_t first, std::size_t max) const;

    std::uint8_t read_words(Family fam, const MemOp& op, std::vector<std::uint8_t>& out);
    std::uint8_t write_words(Family fam, const MemOp& op, const std::uint8_t* data);
    std::uint8_t erase_words(Family fam, const MemOp& op);
    std::uint8_t lock_bank(Family fam, std::uint8_t bank, std::uint8_t mode);
    std::uint8_t kill(Family fam, const std::uint8_t* password);
    std::uint8_t edit_password(Family fam, std::uint8_t which, const std::uint8_t* old_pw,
                               const std::uint8_t* new_pw);

    std::uint8_t random_byte();

    // lock held
    std::optional<std::size_t> find_tag(std::span<const std::uint8_t> id) const;
    void erase_tag(std::size_t index);
    std::vector<std::uint16_t> fresh_id(Family fam);

    mutable std::mutex mu_;  // one answer or field change at a time
    std::uint8_t addr_;
    std::uint32_t seed_;
    std::mt19937 rng_;
    std::vector<Tag> tags_;

    std::array<std::uint8_t, 22> info_{};
    std::uint8_t rate_code_ = 4;
    std::uint8_t r2000_ = 1;
    std::uint8_t cw_ = 0;
    std::uint8_t antenna_ = 0;
    std::array<std::uint8_t, 4> alarm_{};
    std::array<std::uint8_t, 7> work_{};
    std::array<std::uint8_t, 5> menjin_{};
    std::array<std::array<std::uint8_t, 8>, 4> channels_{};
    int temperature_ = 32;

    std::array<FamilyState, 3> families_;

    bool psam_powered_ = false;
    std::array<std::uint8_t, 8> fm_id_{};
};

}  // namespace uhfsim
