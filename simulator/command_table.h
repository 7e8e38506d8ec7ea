#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tessaly::sim {

constexpr std::uint8_t kEsc = 0x1B;
constexpr std::uint8_t kGs = 0x1D;
constexpr std::uint8_t kFs = 0x1C;
constexpr std::uint8_t kDle = 0x10;

// How the length of a command follows from its first bytes. Every rule reads
// exactly as many bytes as the printer does, so that a command's parameters and
// data never reach the paper and the next command starts where the printer
// expects it.
enum class LengthRule : std::uint8_t {
    Fixed,            // `params` parameter bytes after the command code
    Block16,          // ESC (, GS (, FS ( x: pL pH, then that many bytes
    Block32,          // GS 8 x: p1 p2 p3 p4, then that many bytes
    BitImage,         // ESC * m nL nH: n columns of 1 (m 0, 1) or 3 (m 32, 33) bytes
    Raster,           // GS v 0 / GS Q 0 m xL xH yL yH: x * y bytes
    DownloadImage,    // GS * x y: x * y * 8 bytes
    Barcode,          // GS k m: data up to NUL (m 0..6), or n and n bytes (m 65..79)
    Cut,              // GS V m, with n for the feeding variants
    UserChars,        // ESC & y c1 c2, then per character x and y * x bytes
    NvImages,         // FS q n, then per image xL xH yL yH and x * y * 8 bytes
    TabList,          // ESC D: up to 32 positions ended by NUL
    Counter,          // GS C: by function (0, 1, 2, ;)
    NvMemory,         // FS g 1 (with data) / FS g 2
    RealTimeStatus,   // DLE EOT n, with a for n 7 and 8
    RealTimeRequest,  // DLE DC4 fn: by function
    RealTimeFixed,    // DLE ENQ n
    FontPayload,      // FS l: the R-3's national font data, magic and count
};

struct CommandEntry {
    std::uint8_t prefix;  // ESC, GS, FS or DLE
    std::uint8_t code;    // the byte after the prefix
    int sub;              // ( and 8 families: the function letter; -1 for any
    LengthRule rule;
    std::uint8_t params;  // Fixed: parameter bytes after the code
    const char* name;     // "ESC !"
    const char* what;     // "select print mode"
    bool realTime() const {
        return rule == LengthRule::RealTimeStatus || rule == LengthRule::RealTimeRequest ||
               rule == LengthRule::RealTimeFixed;
    }
};

// The command whose first bytes are these (prefix, code and, for the ( and 8
// families, the function letter), or nullptr when the printer has no such
// command. `have` is at least 2.
const CommandEntry* FindCommand(const std::uint8_t* bytes, std::size_t have);
// Every command of the table, for listings and tests.
const std::vector<CommandEntry>& CommandTable();

// "ESC", "GS", "FS", "DLE" or the byte in hex.
std::string PrefixName(std::uint8_t prefix);
// "GS ( k" for a command of the ( family, "ESC !" for others, "GS 0x51" for an
// unknown code.
std::string CommandLabel(const std::uint8_t* bytes, std::size_t have);

// One command as the decoder cut it from the stream.
struct Command {
    const CommandEntry* entry = nullptr;  // nullptr: unknown, skipped by its family's rule
    std::vector<std::uint8_t> bytes;      // as received; data past kMaxKept is not kept
    std::uint64_t length = 0;             // bytes it took on the wire
    bool truncated = false;               // data past kMaxKept was skipped unread
    bool incomplete = false;              // abandoned: its bytes stopped coming
    bool badFraming = false;              // FS l whose magic or count is wrong

    std::uint8_t at(std::size_t i) const { return i < bytes.size() ? bytes[i] : 0; }
    // Little-endian 16-bit value at i.
    unsigned word(std::size_t i) const { return at(i) + 256u * at(i + 1); }
    std::string label() const { return CommandLabel(bytes.data(), bytes.size()); }
};

// Cuts a byte stream into text and commands by the length rules of the table.
// Text is every byte outside a command (printable characters and the control
// codes LF, CR, HT, ...). A command whose bytes stop arriving for idleMs is
// abandoned, so that a broken sender cannot hold the printer forever.
class CommandDecoder {
  public:
    class Sink {
      public:
        virtual ~Sink() = default;
        virtual void text(const std::uint8_t* data, std::size_t n) = 0;
        virtual void command(Command command) = 0;
        // Font payload data after an FS l header (not copied, not kept).
        virtual void fontData(const std::uint8_t* data, std::size_t n) = 0;
        // The payload's bytes stopped coming before its count was reached.
        virtual void fontAbandoned() = 0;
    };

    // Data of one command kept for the printer; beyond it the data is skipped.
    static constexpr std::size_t kMaxKept = 4u << 20;
    // Font payloads announce their size; anything beyond this is not a font.
    static constexpr std::uint32_t kMaxFontCount = 16u << 20;

    explicit CommandDecoder(std::int64_t idleMs = 30000) : idleMs_(idleMs) {}

    void feed(const std::uint8_t* data, std::size_t n, std::int64_t now, Sink& sink);
    // Abandons a command (or font payload) whose bytes stopped coming.
    void expire(std::int64_t now, Sink& sink);
    // Forgets a command in progress, as a restart does.
    void reset();

    bool inCommand() const { return !command_.empty() || fontLeft_ > 0; }
    bool inFontPayload() const { return fontLeft_ > 0; }

  private:
    // Takes bytes of the current command; returns how many were used.
    std::size_t take(const std::uint8_t* data, std::size_t n, Sink& sink);
    void finish(Sink& sink);
    bool fontHeader(std::uint8_t byte, Sink& sink);  // false: byte not consumed

    std::int64_t idleMs_;
    std::int64_t lastByte_ = 0;
    std::vector<std::uint8_t> command_;  // bytes of the command being read
    std::uint64_t need_ = 0;             // bytes the command needs before the next look
    bool final_ = false;                 // need_ is its whole length
    std::uint64_t seen_ = 0;             // bytes of it received (kept or not)
    const CommandEntry* entry_ = nullptr;
    std::uint64_t fontLeft_ = 0;  // font payload data still to come
};

}  // namespace tessaly::sim
