// simulator/ is the virtual R-3 (r3-sim and the built-in virtual printer): the engine that
// answers the settings protocol and prints (this header), the command table and print model, the
// renderer of receipts, and the pty, TCP and in-process links that reach it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "command_table.h"
#include "conditions.h"
#include "print_model.h"

namespace tessaly::sim {

// Misbehaviours the virtual printer can be told to show, so that the utility's
// refusal paths and loop bounds can be exercised without hardware.
enum class FaultMode {
    None,
    WrongModel,         // GS I 1 answers PrinterConfig::wrongModelByte
    WrongNames,         // GS I 66 / GS I 67 answer the wrong* names
    Silence,            // consumes everything, never answers
    Garbage,            // every answer is replaced by random bytes (seeded, repeatable)
    EndlessSender,      // after endlessAfterBytes received, sends non-zero bytes forever
    LateReplies,        // every answer becomes readable only replyDelayMs after its query
    Disconnect,         // after disconnectAfterBytes received, the link goes dead
    NoSwitchAnswer,     // the read of memory switch silentSwitch gets no answer
    HangUpAfterIn,      // IN is answered, then the line drops at the next byte received
    FontStall,          // after stallAfterBytes font data bytes, takes nothing for stallMs
    PartialWrite,       // after stallAfterBytes received bytes, takes nothing for stallMs
    RestartLosesInput,  // input that arrives while restarting after OUT is lost
    IgnoreSwitchWrite,  // writes of memory switch ignoredSwitch are answered but not kept
};

// Parses "none", "wrong-model", "wrong-names", "silence", "garbage", "endless",
// "late", "disconnect", "no-switch-answer", "hang-up-after-in", "font-stall",
// "partial-write", "restart-loses-input", "ignore-switch-write"; nullopt for
// anything else.
std::optional<FaultMode> ParseFaultMode(const std::string& text);
const char* FaultModeName(FaultMode mode);

// The serial conditions the printer reports through GS ( E function 12, as the
// texts it sends.
struct SerialConditionTexts {
    std::string baud = "19200";
    std::string parity = "0";  // '0' none, '1' odd, '2' even
    std::string flow = "0";    // '0' DTR/DSR, '1' Xon/Xoff
    std::string dataBits = "8";
};

constexpr int kSwitchCount = 16;  // memory switches 1..16 exist

struct PrinterConfig {
    std::uint8_t modelByte = 0x20;
    std::string manufacturer = "Vantreel Druckwerken GmbH";
    std::string printerName = "Vantreel R-3";
    // Answer to GS I 65. The utility keeps the text up to its first blank and takes
    // the major number from its third and fourth characters ("04" here).
    std::string firmwareVersion = "VT04.20 R-3";
    // Answer to GS ( E function 12, a = 8. On serial and parallel links the utility
    // takes nine bytes of this answer (four leading bytes and five more), so with
    // five characters the terminating NUL is still waiting afterwards; a reader
    // must consume it before the next query. Four characters fit exactly.
    std::string versionSuffix = "B0312";
    // Memory switch values, index 0 = switch 1; bit k of the switch is 1 << (k-1).
    // Switch 1 bit 4 (internal buzzer) enabled, everything else off: Font A,
    // partial cut, code page PC437, 3 inch paper, mono, buyer set STD.
    std::array<std::uint8_t, kSwitchCount> switches{0x08};
    SerialConditionTexts serial;

    FaultMode fault = FaultMode::None;
    std::uint8_t wrongModelByte = 0x21;
    std::string wrongManufacturer = "Vantreel Druckwerken GMBH";
    std::string wrongPrinterName = "Vantreel R-2";
    std::uint32_t garbageSeed = 1;
    std::uint64_t endlessAfterBytes = 0;
    std::int64_t replyDelayMs = 1500;
    std::uint64_t disconnectAfterBytes = 64;
    int silentSwitch = 10;
    int ignoredSwitch = 10;
    // Where the stall faults stop taking data (font data bytes for FontStall, all
    // received bytes for PartialWrite) and for how long; 0 ms: never again. A
    // stall longer than the host's write time-out makes that write come back
    // short, as when a printer holds its flow control off.
    std::uint64_t stallAfterBytes = 0;
    std::int64_t stallMs = 0;

    // After OUT the printer restarts; input that arrives meanwhile waits in the
    // input buffer (RestartLosesInput: it is lost).
    std::int64_t restartMs = 1000;
    // Printing the self-test page takes this long; commands that arrive meanwhile
    // wait in the input buffer and are carried out once the page is out.
    std::int64_t selfTestMs = 4000;
    // A font payload whose next byte does not arrive within this time is recorded
    // as short and the printer goes back to reading commands. The utility pauses
    // 15 s after the first block, so this must be longer than that.
    std::int64_t fontIdleTimeoutMs = 30000;

    // When set, a serial host whose baud rate, data bits or parity differ from the
    // printer's own (the serial condition texts) gets corrupted bytes both ways,
    // as over a real line at the wrong speed.
    bool checkLineSettings = false;

    // Time between the bytes of one answer, in microseconds; 0 sends an answer at
    // once. 520 is about what 19200 baud takes; more than 10000 makes a serial
    // read stop between bytes.
    std::int64_t replyByteGapUs = 0;

    // When set, the memory switches are loaded from this file at construction (if
    // it exists) and saved to it after every setup period.
    std::string stateFile;

    // Paper, cover, drawer and error conditions at start.
    Conditions conditions;
    // A job ends at a cut or once no byte has come for this long.
    std::int64_t jobGapMs = 2000;
    // Input waits here while the printer cannot print (self-test page, restart,
    // paper end, cover open, offline, error, jobs not yet taken); when it is full
    // the printer takes no more, and the sender is held.
    std::size_t inputBufferBytes = 64u << 10;
    // Whether finished jobs are kept for takeJobs(). At most maxWaitingJobs wait;
    // while that many do, printing holds as if the printer were busy.
    bool keepJobs = false;
    std::size_t maxWaitingJobs = 8;
    // Whether every received byte, printed line and command is kept for
    // receivedLog(), paper() and commandNames() (each capped). A long-running
    // printer that reports through takeEvents() and takeJobs() turns it off, so
    // its memory stays flat.
    bool keepHistory = true;
};

// Outcome of one font payload reception.
struct FontReception {
    enum class Result { Receiving, Ok, BadFraming, Short };
    Result result = Result::Receiving;
    std::uint32_t expected = 0;  // count field of the header
    std::uint32_t received = 0;  // data bytes received after the header
    std::uint32_t checksum = 0;  // FNV-1a over the data bytes received
};
const char* FontResultName(FontReception::Result result);

// Print and link modes as the last commands set them.
struct TextModes {
    std::uint8_t printMode = 0;      // ESC ! n (bit 0: font B)
    bool bold = false;               // ESC E n
    std::uint8_t underline = 0;      // ESC - n
    std::uint8_t alignment = 0;      // ESC a n
    std::uint8_t codeTable = 0;      // ESC t n
    std::uint8_t lineSpacing = 0;    // ESC 3 n; 0 = default (ESC 2)
    bool peripheralSelected = true;  // ESC = n
    std::uint8_t statusBack = 0;     // GS a n
};

// One entry of the printer's activity log, for programs that show what it does.
struct EngineEvent {
    enum class Kind { Received, Command, Paper, Reply, Note };
    Kind kind;
    std::int64_t timeMs;
    std::string text;                 // command name, paper line, note or summary
    std::vector<std::uint8_t> bytes;  // received or replied bytes
};

// The printer's side of the protocol: consumes any byte sequence and produces the
// answers the printer would give, each readable from a given time on. All methods
// are thread-safe; the engine never sleeps, callers pass the current time.
//
// Received bytes are cut into commands at once (command_table.h), so real-time
// commands (DLE EOT, DLE ENQ, DLE DC4) are answered even while the rest waits in
// the input buffer. The rest is carried out in order when the printer can print:
// the settings protocol here, printing by the print model (print_model.h).
//
// Bytes come from and answers go to one of two hosts: 0, the serial side (the
// pseudo-terminal and the in-process port), and 1, the network. An answer goes
// to the host that sent its command; automatic status to the last one that sent.
class R3Engine {
  public:
    static constexpr int kSerialHost = 0;
    static constexpr int kNetworkHost = 1;

    explicit R3Engine(PrinterConfig config = {});

    // Feeds received bytes. Returns how many were accepted: fewer than n once the
    // link has gone dead (connected() false) or while the printer takes no data
    // (its input buffer is full, or a stall fault; see resumesAt).
    std::size_t receive(const std::uint8_t* data, std::size_t n, std::int64_t nowMs,
                        int host = kSerialHost);
    // While the printer takes no data: the time from which it takes data again
    // (INT64_MAX: not foreseeable, as with paper out). nullopt when it takes data
    // at nowMs, or the link is dead.
    std::optional<std::int64_t> resumesAt(std::int64_t nowMs) const;
    // Copies up to max answer bytes that are readable at nowMs; returns the count.
    std::size_t takeOutput(std::uint8_t* buffer, std::size_t max, std::int64_t nowMs,
                           int host = kSerialHost);
    // Time at which the next answer byte may become readable (nullopt: nothing
    // pending). Input held during the self-test page counts from the page's end.
    std::optional<std::int64_t> nextOutputTime(int host = kSerialHost) const;
    // Lets time-based state (idle commands, job gaps, held input) move on.
    void tick(std::int64_t nowMs);

    // The line settings the host uses on a serial link (parity 0 none, 1 odd,
    // 2 even); see PrinterConfig::checkLineSettings. clearHostLine: not serial.
    void setHostLine(std::int32_t baud, std::int32_t dataBits, std::int32_t parity);
    void clearHostLine();
    bool lineMismatch() const;

    // Conditions: the current ones, and a change as "key value" (conditions.h);
    // an error text when the setting is not understood.
    Conditions conditions() const;
    std::optional<std::string> setCondition(const std::string& setting, std::int64_t nowMs);
    void setConditions(const Conditions& conditions, std::int64_t nowMs);

    // Finished jobs (PrinterConfig::keepJobs), oldest first. endJob ends the one
    // in progress (a host went away, the program stops) unless input for it still
    // waits or a command is half received.
    std::vector<PrintJob> takeJobs();
    void endJob(std::int64_t nowMs, const char* reason);
    // Forgets answers not yet taken by a host that went away.
    void discardOutput(int host, std::int64_t nowMs);
    std::size_t inputWaiting() const;  // bytes in the input buffer

    bool connected() const;
    bool inSetupMode() const;
    std::uint8_t memorySwitch(int number) const;  // 1..kSwitchCount, 0 otherwise
    void setMemorySwitch(int number, std::uint8_t value);
    const PrinterConfig& config() const { return config_; }  // fixed after construction

    std::vector<std::uint8_t> receivedLog() const;  // every byte received (capped)
    std::vector<std::string> paper() const;         // printed lines, feeds, cuts
    std::vector<FontReception> fontReceptions() const;
    TextModes textModes() const;  // reset by ESC @ and by a restart
    int selfTestCount() const;
    int restartCount() const;
    std::vector<std::string> commandNames() const;  // decoded commands, in order
    std::vector<EngineEvent> takeEvents();          // activity since the last call

    // Memory switch state file: one line "msw<N> <bits 8..1>" per switch.
    static bool LoadSwitches(const std::string& path,
                             std::array<std::uint8_t, kSwitchCount>& switches);
    static bool SaveSwitches(const std::string& path,
                             const std::array<std::uint8_t, kSwitchCount>& switches);

    static constexpr std::size_t kMaxLog = 16u << 20;
    static constexpr std::size_t kMaxOutput = 64u << 10;
    static constexpr std::size_t kMaxLine = 512;
    static constexpr std::size_t kMaxPaperLines = 100000;
    static constexpr std::size_t kMaxEvents = 100000;
    static constexpr std::size_t kMaxJobCommands = 10000;

  private:
    // A piece of input waiting in the input buffer.
    struct Token {
        enum class Kind { Text, Command, FontData, FontAbandoned };
        Kind kind;
        int host;
        std::vector<std::uint8_t> bytes;  // text or font data
        Command command;
        std::size_t size() const {
            return kind == Kind::Command
                       ? static_cast<std::size_t>(std::min<std::uint64_t>(command.length, SIZE_MAX))
                       : bytes.size();
        }
    };
    class Feed;  // the decoder's sink

    // Cuts bytes into tokens; returns how many were taken (fewer than n when a
    // stall fault began).
    std::size_t process(const std::uint8_t* data, std::size_t n, std::int64_t now);
    void startStall(std::int64_t now);
    bool stalled(std::int64_t now) const { return stalledUntil_ && now < *stalledUntil_; }
    // Whether queued input may be carried out now, and if not, until when not.
    bool canPrint(std::int64_t now) const;
    std::size_t inputRoom(std::int64_t now) const;
    void arrive(Token token, std::int64_t now);  // from the decoder
    void catchUp(std::int64_t now);              // idle commands, held input, job gap
    void execute(Token& token, std::int64_t now);
    void command(const Command& c, std::int64_t now);
    void realTime(const Command& c, std::int64_t now);
    bool query(const Command& c, std::int64_t now);  // the printer's own commands
    void fontHeader(const Command& c, std::int64_t now);
    void fontData(const std::uint8_t* data, std::size_t n, std::int64_t now);
    void recordCommand(const std::string& name, std::vector<std::uint8_t> bytes, std::int64_t now);
    std::string describe(const Command& c) const;
    void handleGsParen(std::uint8_t kind, const std::vector<std::uint8_t>& data, std::int64_t now);
    void handleSetup(const std::vector<std::uint8_t>& data, std::int64_t now);
    void reply(std::vector<std::uint8_t> bytes, std::int64_t now);
    void replyName(const std::string& text, std::int64_t now);
    void collectPaper(std::int64_t now);  // lines the model printed, to the paper log
    void finishJob(std::int64_t now, const char* reason);
    void changeConditions(const Conditions& next, std::int64_t now);
    void sendAutomaticStatus(std::int64_t now);
    void clearInput(std::int64_t now);
    void note(std::string text, std::int64_t now);
    void event(EngineEvent::Kind kind, std::string text, std::vector<std::uint8_t> bytes,
               std::int64_t now);
    void resetModes();
    void restart(std::int64_t now);
    void printSelfTest(std::int64_t now);
    std::uint8_t switchValue(int number) const;
    PaperSetup paperSetup() const;
    void dropOutput();

    mutable std::mutex mutex_;
    const PrinterConfig config_;
    std::array<std::uint8_t, kSwitchCount> switches_{};
    std::array<std::uint8_t, kSwitchCount> pending_{};  // staged inside IN..OUT
    bool setupMode_ = false;
    std::int64_t restartUntil_ = 0;  // input is lost until then (RestartLosesInput)
    std::int64_t busyUntil_ = 0;     // printing the self-test page or restarting

    CommandDecoder decoder_;
    std::deque<Token> input_;  // the input buffer
    std::size_t inputBytes_ = 0;
    int host_ = kSerialHost;         // host of the bytes being received
    int commandHost_ = kSerialHost;  // host of the command being carried out
    PrintModel model_;
    Conditions conditions_;
    bool peripheralSelected_ = true;
    std::uint8_t statusBack_ = 0;
    std::vector<std::string> reportedUnknown_;

    // Jobs.
    bool jobOpen_ = false;
    std::int64_t lastInput_ = 0;
    std::deque<PrintJob> jobs_;
    int jobsStarted_ = 0;

    // Font payload reception.
    bool inFont_ = false;

    bool lineMismatch_ = false;  // the host's serial line settings differ

    struct Pending {
        std::int64_t readyAt;
        std::uint8_t byte;
    };
    std::array<std::deque<Pending>, 2> output_;  // by host
    std::size_t droppedOutput_ = 0;

    std::uint64_t receivedCount_ = 0;
    std::uint64_t fontDataCount_ = 0;  // font data bytes of every payload so far
    std::optional<std::int64_t> stalledUntil_;
    bool stallDone_ = false;    // a stall fault strikes once
    bool hangUpArmed_ = false;  // HangUpAfterIn: IN was answered
    bool connected_ = true;
    bool endless_ = false;
    std::mt19937 random_;

    std::vector<std::uint8_t> log_;
    std::vector<std::string> paper_;
    std::vector<FontReception> fonts_;
    std::vector<std::string> commands_;
    std::deque<EngineEvent> events_;
    int selfTests_ = 0;
    int restarts_ = 0;
};

}  // namespace tessaly::sim
